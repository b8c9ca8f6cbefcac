// How errors leave the library, and the floating-point state at its entry.
//
// Every function the host calls (GetVU30 and the driver table) is wrapped by
// Guarded: it runs in the library's floating-point state (platform/
// fp_state.h) and gives the host its own state back on every way out.
//
// On Windows an exception thrown inside becomes the library's structured
// exception (VU30_ERROR_CODE in vu30.h), which any Windows host can catch
// whatever its compiler or language; nothing of the C++ runtime crosses. A
// host's own exception that passed through one of its functions the library
// called (a HostFault, platform/host_call.h) is raised again unchanged, once
// everything the library held has been released. This holds at any depth:
// a host that calls the table from inside one of its dispatcher functions
// gets the structured exception there too. The library's own uses of its
// operations call the inner functions, not the table.
//
// Built with VU30_WIN32_CXX_EXCEPTIONS, and on every other platform, the C++
// exceptions of vu30.h reach the host.
#pragma once

#include <cstdint>

#include "platform/fp_state.h"
#include "platform/host_call.h"
#include "vu30.h"

#if defined(_WIN32) && !defined(VU30_WIN32_CXX_EXCEPTIONS)
#define VU30_STRUCTURED_ERRORS 1
#endif

namespace vu30::boundary {

#if defined(VU30_STRUCTURED_ERRORS)

// Called inside a catch block: keeps the message of the exception being
// handled in the calling thread's message buffer and returns its kind
// (VU30_ERROR_SERIAL_IO, ...).
uint32_t KeepCurrentError() noexcept;

// Raises the library's structured exception with the kind and the message
// kept last on this thread. Never returns. (Not noexcept: the structured
// exception must pass this frame untouched.)
[[noreturn]] void RaiseKeptError(uint32_t kind);

template <auto F>
struct GuardedFunction;

template <typename R, typename... A, R(VU30_CALL* F)(A...)>
struct GuardedFunction<F> {
  static R VU30_CALL Call(A... args) {
    platform::LibraryFpScope fpState;
    uint32_t kind = 0;
    platform::HostExceptionRecord host;
    bool hostRaised = false;
    try {
      return F(args...);
    } catch (const platform::HostFault& fault) {
      host = fault.Record();
      hostRaised = true;
    } catch (...) {
      kind = KeepCurrentError();
    }
    // Raised here, after the C++ exception is gone and with the host's
    // floating-point state back: the host's handler may leave this frame
    // without unwinding it.
    fpState.Leave();
    if (hostRaised) platform::RaiseHostException(host);
    RaiseKeptError(kind);
  }
};

#else

template <auto F>
struct GuardedFunction;

template <typename R, typename... A, R(VU30_CALL* F)(A...)>
struct GuardedFunction<F> {
  static R VU30_CALL Call(A... args) {
    const platform::LibraryFpScope fpState;
    return F(args...);
  }
};

#endif

template <auto F>
inline constexpr auto Guarded = &GuardedFunction<F>::Call;

}  // namespace vu30::boundary
