/* SPDX-License-Identifier: MIT */
// C++ hosts of this repository (the station demo, the tests): calls into the
// driver library with its errors as C++ exceptions on every platform.
//
// On Windows the library raises its structured exception (vu30.h); HostCall
// catches it (vu30_catch.h) and throws the C++ exception of its kind here,
// on the host's side: ESerialIO, EVu30Refused, EAbstractError, or
// std::runtime_error for any other failure. Elsewhere, and with
// VU30_WIN32_CXX_EXCEPTIONS, the library throws those itself and HostCall
// just calls.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "vu30.h"

#if defined(_WIN32) && !defined(VU30_WIN32_CXX_EXCEPTIONS)
#define VU30_HOST_CATCHES_STRUCTURED 1
#include "vu30_catch.h"
#endif

namespace vu30::host {

#if defined(VU30_HOST_CATCHES_STRUCTURED)
[[noreturn]] inline void ThrowCaught(const Vu30CaughtError& error) {
  const std::string message(error.message);
  switch (error.kind) {
    case VU30_ERROR_SERIAL_IO:
      throw ESerialIO(message);
    case VU30_ERROR_REFUSED:
      throw EVu30Refused(message);
    case VU30_ERROR_ABSTRACT:
      throw EAbstractError(message);
    default:
      throw std::runtime_error(message);
  }
}
#endif

// Calls f(), a call into the library, and returns its result. f must hold
// no object with a destructor: on Windows, when the library raises, f's
// frames are unwound as the system unwinds them (vu30_catch.h), which on
// i686 runs no destructor of ours.
template <typename F>
std::invoke_result_t<F&> HostCall(F&& f) {
#if defined(VU30_HOST_CATCHES_STRUCTURED)
  using R = std::invoke_result_t<F&>;
  Vu30CaughtError error;
  if constexpr (std::is_void_v<R>) {
    struct Context {
      std::remove_reference_t<F>* f;
    } context{&f};
    const auto call = [](void* c) { (*static_cast<Context*>(c)->f)(); };
    if (vu30_catch_call(call, &context, &error) == 0) return;
  } else {
    static_assert(std::is_trivially_copyable_v<R> && std::is_default_constructible_v<R>);
    struct Context {
      std::remove_reference_t<F>* f;
      R result;
    } context{&f, R{}};
    const auto call = [](void* c) {
      auto* x = static_cast<Context*>(c);
      x->result = (*x->f)();
    };
    if (vu30_catch_call(call, &context, &error) == 0) return context.result;
  }
  ThrowCaught(error);
#else
  return f();
#endif
}

namespace host_detail {

// The library's own table, which HostTable's entries call. Host threads set
// and read it at once (always to the same table).
inline std::atomic<const Vu30DriverTable*>& LibraryTable() {
  static std::atomic<const Vu30DriverTable*> table{nullptr};
  return table;
}

template <auto Member>
struct Entry;

template <typename R, typename... A, R (VU30_CALL* Vu30DriverTable::*Member)(A...)>
struct Entry<Member> {
  static R VU30_CALL Call(A... args) {
    const Vu30DriverTable* library = LibraryTable().load(std::memory_order_relaxed);
    return HostCall([&]() -> R { return (library->*Member)(args...); });
  }
};

template <auto Member>
inline constexpr auto kEntry = &Entry<Member>::Call;

inline constexpr Vu30DriverTable kHostTable = {
    kEntry<&Vu30DriverTable::Abstract>,
    kEntry<&Vu30DriverTable::GetDriverInfo>,
    kEntry<&Vu30DriverTable::SetLinkStatus>,
    kEntry<&Vu30DriverTable::GetLinkStatus>,
    kEntry<&Vu30DriverTable::StopPump>,
    kEntry<&Vu30DriverTable::StopPumpNow>,
    kEntry<&Vu30DriverTable::ReadFinalDispense>,
    kEntry<&Vu30DriverTable::ReadCounter>,
    kEntry<&Vu30DriverTable::Nop8>,
    kEntry<&Vu30DriverTable::PollDispense>,
    kEntry<&Vu30DriverTable::GetPumpState>,
    kEntry<&Vu30DriverTable::SetPrice>,
    kEntry<&Vu30DriverTable::Nop12>,
    kEntry<&Vu30DriverTable::PresetVolume>,
    kEntry<&Vu30DriverTable::PresetMoney>,
    kEntry<&Vu30DriverTable::StartPump>,
    kEntry<&Vu30DriverTable::OpenPost>,
    kEntry<&Vu30DriverTable::Nop17>,
    kEntry<&Vu30DriverTable::Nop18>,
    kEntry<&Vu30DriverTable::StartPumpAlias>,
    kEntry<&Vu30DriverTable::GetCapability>,
    kEntry<&Vu30DriverTable::GetStatusRecord>,
    kEntry<&Vu30DriverTable::StopPumpEx>,
    kEntry<&Vu30DriverTable::StopPumpAlt>,
    kEntry<&Vu30DriverTable::AddMenuEntry>,
    kEntry<&Vu30DriverTable::Destroy>,
};

}  // namespace host_detail

// A table with the library's entries, each called through HostCall. Driver
// objects are passed to it as they are: it only changes how errors arrive.
// Where the library throws C++ exceptions itself, the library's own table.
inline const Vu30DriverTable* HostTable(const Vu30DriverTable* library) {
#if defined(VU30_HOST_CATCHES_STRUCTURED)
  // One library per process: always the same table.
  host_detail::LibraryTable().store(library, std::memory_order_relaxed);
  return &host_detail::kHostTable;
#else
  return library;
#endif
}

// GetVU30 through HostCall.
inline Vu30Driver* HostGetVU30(Vu30GetVU30Fn getVu30, uint8_t ignored, void* hostWindow,
                               Vu30Dispatcher* dispatcher) {
  return HostCall([&] { return getVu30(ignored, hostWindow, dispatcher); });
}

}  // namespace vu30::host
