/* SPDX-License-Identifier: MIT */
// The floating-point state the library computes in, whatever the host's.
//
// A host sets its thread's floating-point control as it likes: a Pascal or
// mingw host runs the x87 unit at 64-bit precision, an MSVC host at 53-bit;
// some unmask overflow, zero-divide and invalid so that they trap. Prices,
// doses and money must come out the same under every host, and an argument
// must never trap inside the library. So every entry from the host (the
// driver table, the callbacks the dispatcher calls, window procedures)
// saves the host's x87 control word, x87 exception flags and MXCSR, runs
// with the library's own state (all exceptions masked, round to nearest,
// 53-bit precision, no flush to zero) and gives the host its own state back
// on every way out, the flags raised meanwhile cleared. Worker threads run
// in the library's state from their start.
//
// During a call from the library into the host (CallHost, call_into_host.h) the
// host's own state is in force again.
//
// On processors other than x86 nothing is switched.
#pragma once

#include <cstdint>

#include "platform/host_entry.h"

namespace vu30::platform {

struct FpState {
  uint16_t x87Control = 0;
  uint16_t x87Status = 0;
  uint32_t mxcsr = 0;
};

// The library's own state: x87 control 0x027F, MXCSR 0x1F80.
inline constexpr uint16_t kLibraryX87Control = 0x027F;
inline constexpr uint32_t kLibraryMxcsr = 0x1F80;

// The calling thread's state now.
FpState CurrentFpState() noexcept;
// Puts the library's state in force (flags cleared).
void ApplyLibraryFpState() noexcept;
// Puts state back exactly: control words and exception flags.
void RestoreFpState(const FpState& state) noexcept;
// RestoreFpState, for the end of an entry that returns value: on i686 the
// value is loaded on the x87 stack (where the host takes it) before the
// host's state is back, so that no waiting x87 instruction of the library
// runs under the host's state; a flag the host left pending then traps in
// the host's own code, as it would have without the call.
double RestoreFpStateReturning(const FpState& state, double value) noexcept;

// An entry from the host: the library's state while it lives, the host's
// again when it ends (or at Leave, before the entry raises an error to the
// host). Entries nest: a host may call the library from inside a call the
// library makes into the host.
class LibraryFpScope {
 public:
  LibraryFpScope() noexcept;
  ~LibraryFpScope();
  LibraryFpScope(const LibraryFpScope&) = delete;
  LibraryFpScope& operator=(const LibraryFpScope&) = delete;

  // Gives the host its state back now; the scope's end then changes nothing.
  void Leave() noexcept;
  // Ends the scope without giving the host its state back: returns it, for
  // the caller to restore as the very last thing of the entry.
  FpState Release() noexcept;

 private:
  static void LeaveOnFault(void* scope) noexcept;

  FpState host_;
  const FpState* outer_;
  bool left_ = false;
  // Left also when a structured exception ends the entry's frames.
  ReleaseOnFault releaseOnFault_{&LeaveOnFault, this};
};

// A call from the library into the host: the host's state (the one saved by
// the innermost LibraryFpScope of this thread, if any) while it lives, the
// library's again when it ends.
class HostFpStateDuringCall {
 public:
  HostFpStateDuringCall() noexcept;
  ~HostFpStateDuringCall();
  HostFpStateDuringCall(const HostFpStateDuringCall&) = delete;
  HostFpStateDuringCall& operator=(const HostFpStateDuringCall&) = delete;

 private:
  bool switched_ = false;
};

}  // namespace vu30::platform
