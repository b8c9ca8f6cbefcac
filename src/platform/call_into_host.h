/* SPDX-License-Identifier: MIT */
// Calls into the host's code: its port dispatcher, its menu items, its window
// procedures. A host is rarely built with our compiler, and on Windows it
// reports its own errors as structured exceptions (a Pascal host's raise, an
// MSVC host's throw). Such an exception passes through frames of ours that
// neither a C++ catch nor a destructor of ours sees. So every call into the
// host is made inside a frame-based structured-exception handler of ours,
// in one of two ways:
//  - CallHost contains the exception: the handler lets the host's own
//    handlers and cleanups run (RtlUnwind) and the exception becomes a
//    HostFault, a C++ exception of ours, from the point of the call on.
//    Locks, gates and flags of the library are then released by ordinary
//    C++ unwinding. For the calls whose failure the library handles (an
//    exchange and its reports) and for every call made under a callback, a
//    window procedure or a worker.
//  - CallHostPassing lets it pass when the innermost entry lets host
//    exceptions pass (a function of the driver table, host_entry.h): the
//    search goes on to the host's own handlers, with the host's frames and
//    whatever they hold (the object of an MSVC throw) intact. A handler that
//    continues the exception resumes the host's code, and the call returns
//    as it would have. One that unwinds ends the library's frames down to
//    the entry: when the unwind crosses the guard, the guard runs the
//    entry's releases (host_entry.h). Under an entry that contains host
//    exceptions it is CallHost.
// Every entry from the host has a guard of its own as well (RunEntryBody):
// a structured exception raised in the library's frames under it (a fault
// on a bad buffer of the host's) is taken there, the entry's releases run,
// and the entry ends as on bad input.
//
// During the host call the host's own floating-point state is in force (see
// fp_state.h); the library's is back when it returns or faults.
//
// Elsewhere a host's error is a C++ exception and passes through as it is.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/fp_state.h"
#include "platform/host_entry.h"

namespace vu30::platform {

// A host's structured exception as its record held it.
struct HostExceptionRecord {
  static constexpr std::size_t kMaxParameters = 15;  // EXCEPTION_MAXIMUM_PARAMETERS
  uint32_t code = 0;
  uint32_t flags = 0;
  uint32_t parameterCount = 0;
  const void* address = nullptr;
  std::array<uintptr_t, kMaxParameters> parameters{};
};

// Thrown by CallHost when the host's function raised. Derives from nothing
// of the standard library on purpose: a catch of std::exception does not
// take it for an error of the library.
class HostFault {
 public:
  explicit HostFault(const HostExceptionRecord& record) : record_(record) {}
  const HostExceptionRecord& Record() const { return record_; }

 private:
  HostExceptionRecord record_;
};

// Raises the host's exception again, with its code, flags and parameters as
// they were. Returns only when a handler of the host continues it (a
// continuable exception): the caller then carries on as after a normal
// return. On platforms without structured exceptions it is never reached
// (CallHost throws no HostFault there).
void RaiseHostException(const HostExceptionRecord& record);

// Calls fn(context) inside the guard. Returns true when fn returned, false
// when an exception unwound to the guard (record then holds it; the
// releases registered above the guard have run). fn's own frames, between
// the guard and the host's code, must hold nothing that needs cleaning up.
// Without structured exceptions it calls fn and returns true.
bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& record);

// As GuardedCall, for the body of an entry from the host: an exception that
// a host function called under it lets pass on to the host (CallHostPassing)
// goes on; any other is taken. fn must let no C++ exception out.
bool GuardedEntryCall(void (*fn)(void* context), void* context, HostExceptionRecord& record);

// Calls fn(context) so that a structured exception raised in it goes on to
// the handlers below the innermost entry (see above). When passedCode is
// given, it gets the code of each exception that passes the guard in the
// search (or, when an unwind crosses the guard with none seen, the
// unwind's).
void PassingCall(void (*fn)(void* context), void* context, uint32_t* passedCode = nullptr);

// Runs body() (which lets no C++ exception out) as the body of an entry from
// the host: returns true when it returned, false when a structured
// exception raised under it was taken (record holds it).
template <typename Body>
bool RunEntryBody(Body& body, HostExceptionRecord& record) {
#if defined(_WIN32)
  return GuardedEntryCall([](void* b) { (*static_cast<Body*>(b))(); }, &body, record);
#else
  (void)record;
  body();
  return true;
#endif
}

#if defined(_WIN32)
// One call of the host function f with args, packed for the guards, which
// take a plain function and a context: Run makes the call and keeps its
// result.
template <typename F, typename... A>
struct HostCallPacket {
  using Result = std::invoke_result_t<F, A...>;
  F f;
  std::tuple<A&&...> args;
  std::conditional_t<std::is_void_v<Result>, char, Result> result{};

  static void Run(void* packet) {
    auto* p = static_cast<HostCallPacket*>(packet);
    if constexpr (std::is_void_v<Result>) {
      std::apply(p->f, p->args);
    } else {
      p->result = std::apply(p->f, p->args);
    }
  }
  Result Take() {
    if constexpr (std::is_void_v<Result>) {
      return;
    } else {
      return result;
    }
  }
};
#endif

// Calls the host function f with args through the guard: returns what f
// returned, or throws HostFault. The host's floating-point state (when the
// call came in through an entry that saved it) is in force during the call.
template <typename F, typename... A>
auto CallHost(F f, A&&... args) -> std::invoke_result_t<F, A...> {
  const HostFpStateDuringCall hostState;
#if defined(_WIN32)
  HostCallPacket<F, A...> call{f, std::forward_as_tuple(std::forward<A>(args)...)};
  HostExceptionRecord record;
  if (!GuardedCall(&HostCallPacket<F, A...>::Run, &call, record)) throw HostFault(record);
  return call.Take();
#else
  return f(std::forward<A>(args)...);
#endif
}

// Calls the host function f with args, letting a host exception pass on to
// the host's handlers when the innermost entry lets them pass; CallHost
// otherwise.
template <typename F, typename... A>
auto CallHostPassing(F f, A&&... args) -> std::invoke_result_t<F, A...> {
#if defined(_WIN32)
  const HostEntry* entry = HostEntry::Innermost();
  if (entry == nullptr || !entry->PassesHostExceptions()) {
    return CallHost(f, std::forward<A>(args)...);
  }
  const HostFpStateDuringCall hostState;
  HostCallPacket<F, A...> call{f, std::forward_as_tuple(std::forward<A>(args)...)};
  PassingCall(&HostCallPacket<F, A...>::Run, &call);
  return call.Take();
#else
  return f(std::forward<A>(args)...);
#endif
}

}  // namespace vu30::platform
