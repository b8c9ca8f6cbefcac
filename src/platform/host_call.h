// Calls into the host's code: its port dispatcher, its menu items, its window
// procedures. A host is rarely built with our compiler, and on Windows it
// reports its own errors as structured exceptions (a Pascal host's raise, an
// MSVC host's throw). Such an exception passes through frames of ours that
// neither a C++ catch nor a destructor of ours sees. So every call into the
// host is made through CallHost: on Windows it runs the host function inside
// a frame-based structured-exception handler; an exception that unwinds to it
// lets the host's own handlers and cleanups run (RtlUnwind) and becomes a
// HostFault, a C++ exception of ours, from the point of the call on. Locks,
// gates and flags of the library are then released by ordinary C++
// unwinding, and the boundary raises the host's exception again, unchanged,
// where the host is to see it.
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
// they were. Never returns. On platforms without structured exceptions it
// is never reached (CallHost throws no HostFault there).
[[noreturn]] void RaiseHostException(const HostExceptionRecord& record);

// Calls fn(context) inside the guard. Returns true when fn returned, false
// when an exception unwound to the guard (record then holds it). fn's own
// frames, between the guard and the host's code, must hold nothing that
// needs cleaning up. Without structured exceptions it calls fn and returns
// true.
bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& record);

// Calls the host function f with args through the guard: returns what f
// returned, or throws HostFault. The host's floating-point state (when the
// call came in through an entry that saved it) is in force during the call.
template <typename F, typename... A>
auto CallHost(F f, A&&... args) -> std::invoke_result_t<F, A...> {
  const HostFpStateDuringCall hostState;
#if defined(_WIN32)
  using R = std::invoke_result_t<F, A...>;
  struct Call {
    F f;
    std::tuple<A&&...> args;
    std::conditional_t<std::is_void_v<R>, char, R> result{};
  } call{f, std::forward_as_tuple(std::forward<A>(args)...)};
  HostExceptionRecord record;
  const bool returned = GuardedCall(
      [](void* c) {
        auto* x = static_cast<Call*>(c);
        if constexpr (std::is_void_v<R>) {
          std::apply(x->f, x->args);
        } else {
          x->result = std::apply(x->f, x->args);
        }
      },
      &call, record);
  if (!returned) throw HostFault(record);
  if constexpr (!std::is_void_v<R>) return call.result;
#else
  return f(std::forward<A>(args)...);
#endif
}

}  // namespace vu30::platform
