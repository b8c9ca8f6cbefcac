/* SPDX-License-Identifier: MIT */
// Entries from the host into the library, and what the library's frames hold
// while a call into the host is under way.
//
// On Windows a structured exception can end frames of the library without
// their destructors: an exception of the host that the library lets pass on
// to the host's own handlers (call_into_host.h, CallHostPassing), or a fault in
// the library's code under an entry, taken by the entry's guard. The guard
// at the point where such frames end gives back what they held: each such
// holding (a gate's count of calls inside, the floating-point scope of an
// entry) registers a ReleaseOnFault, and the guard runs, innermost first,
// every release registered above the entry it belongs to. Everything else a
// frame between an entry and a passing host call holds must be of no
// concern once the frame is gone (no lock, no allocation).
//
// Every entry from the host says whether a host's exception raised in a
// host function the library calls under it may pass on to the host's own
// handlers (a function of the driver table: the host's frames lie below it)
// or is contained (callbacks and window procedures, which the host's code
// calls on the library's behalf and which let nothing out; post workers,
// which have no host frames at all).
//
// Elsewhere nothing ends frames of the library without their destructors:
// both classes are empty.
#pragma once

namespace vu30::platform {

#if defined(_WIN32)

class ReleaseOnFault {
 public:
  using Release = void (*)(void* data) noexcept;
  // Registered from now until destroyed or released by a guard.
  ReleaseOnFault(Release release, void* data) noexcept;
  ~ReleaseOnFault();
  ReleaseOnFault(const ReleaseOnFault&) = delete;
  ReleaseOnFault& operator=(const ReleaseOnFault&) = delete;

  // True once a guard has run the release: the owner's own clean-up must
  // then not release again.
  bool Released() const noexcept { return released_; }

 private:
  friend void RunReleasesAbove(ReleaseOnFault* mark) noexcept;
  Release release_;
  void* data_;
  ReleaseOnFault* outer_;
  bool released_ = false;
};

// The innermost registration of the calling thread (null when none).
ReleaseOnFault* InnermostRelease() noexcept;
// Runs, innermost first, the releases registered on this thread above mark
// (an earlier InnermostRelease()) and unregisters them. Called only while
// the memory of their frames is as the unwind left it: as an unwind crosses
// a guard, or once it has reached the guard that took the exception, from
// the handler still running below the unwound frames.
void RunReleasesAbove(ReleaseOnFault* mark) noexcept;

class HostEntry {
 public:
  enum class HostExceptions { kPass, kContain };
  explicit HostEntry(HostExceptions hostExceptions) noexcept;
  ~HostEntry();
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;

  // The innermost entry of the calling thread, null outside every entry.
  static const HostEntry* Innermost() noexcept;
  // Makes entry the innermost again: the entries above it have ended
  // without their destructors.
  static void ResumeAt(const HostEntry* entry) noexcept;
  // The entry's frames end by an unwind that goes on to the host: its
  // releases run and the entry it was made in is the innermost again.
  void Abandon() const noexcept;

  bool PassesHostExceptions() const noexcept { return hostExceptions_ == HostExceptions::kPass; }

 private:
  HostExceptions hostExceptions_;
  ReleaseOnFault* mark_;
  const HostEntry* outer_;
};

#else

class ReleaseOnFault {
 public:
  using Release = void (*)(void* data) noexcept;
  constexpr ReleaseOnFault(Release /*release*/, void* /*data*/) noexcept {}
  static constexpr bool Released() noexcept { return false; }
};

class HostEntry {
 public:
  enum class HostExceptions { kPass, kContain };
  explicit constexpr HostEntry(HostExceptions /*hostExceptions*/) noexcept {}
};

#endif

// A step of an entry whose every error the library drops (OpenPost's state
// request): while it lives, a host exception raised in a host function the
// library calls is contained, as under an entry that contains host
// exceptions, and reaches the step's catch as a HostFault (call_into_host.h),
// the registrations of that step included.
class ContainedHostCalls {
 public:
  ContainedHostCalls() noexcept : entry_(HostEntry::HostExceptions::kContain) {}

 private:
  [[maybe_unused]] HostEntry entry_;
};

}  // namespace vu30::platform
