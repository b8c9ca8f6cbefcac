/* SPDX-License-Identifier: MIT */
// How errors leave the library, and the floating-point state at its entry.
//
// Every function the host calls (GetVU30 and the driver table) is wrapped by
// Guarded: it runs in the library's floating-point state (platform/
// fp_state.h) and gives the host its own state back on every way out.
//
// On Windows an exception thrown inside becomes the library's structured
// exception (VU30_ERROR_CODE in vu30.h), which any Windows host can catch
// whatever its compiler or language; nothing of the C++ runtime crosses. A
// host's own exception raised in one of its functions the library called
// goes on to the host's handlers as it was raised (platform/call_into_host.h),
// or, where the library contained it (a HostFault), is raised again
// unchanged once everything the library held has been released. A
// structured exception raised in the library's own frames (a bad pointer
// of the host's) is taken at the entry and becomes the library's error of
// kind VU30_ERROR_FAILURE. This holds at any depth: a host that calls the
// table from inside one of its dispatcher functions gets the structured
// exception there too. The library's own uses of its operations call the
// inner functions, not the table.
//
// Built with VU30_WIN32_CXX_EXCEPTIONS, and on every other platform, the C++
// exceptions of vu30.h reach the host.
#pragma once

#include <cstdint>
#include <tuple>
#include <type_traits>

#include "platform/call_into_host.h"
#include "platform/fp_state.h"
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

// Keeps the message for a structured exception raised inside the library
// under an entry (a fault on a bad pointer of the host's) and returns its
// kind, VU30_ERROR_FAILURE.
uint32_t KeepFault(const platform::HostExceptionRecord& fault) noexcept;

// Raises the library's structured exception with the kind and the message
// kept last on this thread. Never returns. (Not noexcept: the structured
// exception must pass this frame untouched.)
[[noreturn]] void RaiseKeptError(uint32_t kind);

template <typename R>
struct EntryOutcome {
  std::conditional_t<std::is_void_v<R>, char, R> result{};
  uint32_t kind = 0;  // an error of the library to raise, when not 0
  bool hostRaised = false;
  platform::HostExceptionRecord host;
  platform::FpState hostFpState;
};

template <auto F>
struct GuardedFunction;

// A function of the driver table, or GetVU30: an entry whose host calls let
// the host's exceptions pass on to it. The body runs under the entry's guard
// and holds everything that needs cleaning up; the function itself holds
// nothing, so that the host's floating-point state is the last thing put
// back (RestoreFpStateReturning) and the structured exceptions are raised
// from a frame that needs no unwinding.
template <typename R, typename... A, R(VU30_CALL* F)(A...)>
struct GuardedFunction<F> {
  static void Body(EntryOutcome<R>& outcome, A... args) {
    const platform::HostEntry entry(platform::HostEntry::HostExceptions::kPass);
    platform::LibraryFpScope fpState;
    struct Call {
      EntryOutcome<R>& outcome;
      std::tuple<A&...> args;
      void operator()() {
        try {
          if constexpr (std::is_void_v<R>) {
            std::apply(F, args);
          } else {
            outcome.result = std::apply(F, args);
          }
        } catch (const platform::HostFault& fault) {
          outcome.host = fault.Record();
          outcome.hostRaised = true;
        } catch (...) {
          outcome.kind = KeepCurrentError();
        }
      }
    } call{outcome, std::tie(args...)};
    platform::HostExceptionRecord fault;
    if (!platform::RunEntryBody(call, fault)) outcome.kind = KeepFault(fault);
    outcome.hostFpState = fpState.Release();
  }

  static R VU30_CALL Call(A... args) {
    EntryOutcome<R> outcome;
    Body(outcome, args...);
    if (outcome.hostRaised || outcome.kind != 0) {
      // Raised after the C++ exception is gone and with the host's
      // floating-point state back: the host's handler may leave this frame
      // without unwinding it. A host exception that the host continues
      // ends the call as a normal return would.
      platform::RestoreFpState(outcome.hostFpState);
      if (outcome.kind != 0) RaiseKeptError(outcome.kind);
      platform::RaiseHostException(outcome.host);
    }
    if constexpr (std::is_floating_point_v<R>) {
      return static_cast<R>(platform::RestoreFpStateReturning(outcome.hostFpState, outcome.result));
    } else {
      platform::RestoreFpState(outcome.hostFpState);
      if constexpr (!std::is_void_v<R>) return outcome.result;
    }
  }
};

#else

template <auto F>
struct GuardedFunction;

// A floating-point result is on its way back (on i686 on the x87 stack)
// before the host's state is: see RestoreFpStateReturning.
template <typename R, typename... A, R(VU30_CALL* F)(A...)>
struct GuardedFunction<F> {
  static R VU30_CALL Call(A... args) {
    if constexpr (std::is_floating_point_v<R>) {
      platform::FpState host;
      const R result = Compute(host, args...);
      return static_cast<R>(platform::RestoreFpStateReturning(host, result));
    } else {
      const platform::LibraryFpScope fpState;
      return F(args...);
    }
  }

  static R Compute(platform::FpState& host, A... args) {
    platform::LibraryFpScope fpState;
    const R result = F(args...);
    host = fpState.Release();
    return result;
  }
};

#endif

template <auto F>
inline constexpr auto Guarded = &GuardedFunction<F>::Call;

}  // namespace vu30::boundary
