// How errors leave the library.
//
// On Windows every function the host calls (GetVU30 and the driver table) is
// wrapped by Guarded: an exception thrown inside becomes the library's
// structured exception (VU30_ERROR_CODE in vu30.h), which any Windows host can
// catch whatever its compiler or language; nothing of the C++ runtime crosses.
// Built with VU30_WIN32_CXX_EXCEPTIONS, and on every other platform, Guarded<F>
// is F itself and the C++ exceptions of vu30.h reach the host.
#pragma once

#include <cstdint>

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

// Marks the calling thread as inside a guarded call while it lives. A table
// function that the library calls through the table itself (slot 5 calls
// slot 4) is nested: its exceptions go on as C++ exceptions to the
// outermost guard, so that only that one raises, with no frame of the
// library left holding anything. (A table call that a host makes from
// inside one of its own dispatcher functions, while the library is calling
// that function, counts as nested too: its error would reach the host as a
// C++ exception.)
class GuardedCall {
 public:
  GuardedCall() noexcept;
  ~GuardedCall();
  GuardedCall(const GuardedCall&) = delete;
  GuardedCall& operator=(const GuardedCall&) = delete;
  static bool Nested() noexcept;
};

template <auto F>
struct GuardedFunction;

template <typename R, typename... A, R(VU30_CALL* F)(A...)>
struct GuardedFunction<F> {
  static R VU30_CALL Call(A... args) {
    if (GuardedCall::Nested()) return F(args...);
    uint32_t kind = 0;
    {
      GuardedCall call;
      try {
        return F(args...);
      } catch (...) {
        kind = KeepCurrentError();
      }
    }
    // Raised here, after the C++ exception is gone: the host's handler may
    // leave this frame without unwinding it.
    RaiseKeptError(kind);
  }
};

template <auto F>
inline constexpr auto Guarded = &GuardedFunction<F>::Call;

#else

template <auto F>
inline constexpr auto Guarded = F;

#endif

}  // namespace vu30::boundary
