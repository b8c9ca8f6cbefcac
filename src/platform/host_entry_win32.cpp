// SPDX-License-Identifier: MIT
#include <cstdint>

#include "platform/host_entry.h"

namespace vu30::platform {

namespace {
thread_local ReleaseOnFault* tInnermostRelease = nullptr;
thread_local const HostEntry* tInnermostEntry = nullptr;
}  // namespace

ReleaseOnFault::ReleaseOnFault(Release release, void* data) noexcept
    : release_(release), data_(data), outer_(tInnermostRelease) {
  tInnermostRelease = this;
}

ReleaseOnFault::~ReleaseOnFault() {
  if (!released_) tInnermostRelease = outer_;
}

ReleaseOnFault* InnermostRelease() noexcept { return tInnermostRelease; }

namespace {

// Registrations live in frames on the thread's stack, which grows down: one
// made in a later frame lies below an earlier one. Compared so, a guard
// never runs a release of a frame below its own mark, whatever a nested
// guard has run already.
bool Above(const ReleaseOnFault* release, const ReleaseOnFault* mark) {
  return mark == nullptr ||
         reinterpret_cast<std::uintptr_t>(release) < reinterpret_cast<std::uintptr_t>(mark);
}

}  // namespace

void RunReleasesAbove(ReleaseOnFault* mark) noexcept {
  // Called while the memory of the frames the registrations lie in is still
  // as the unwind left it: by a guard's handler, below those frames.
  while (tInnermostRelease != nullptr && tInnermostRelease != mark &&
         Above(tInnermostRelease, mark)) {
    ReleaseOnFault* release = tInnermostRelease;
    tInnermostRelease = release->outer_;
    release->released_ = true;
    release->release_(release->data_);
  }
}

HostEntry::HostEntry(HostExceptions hostExceptions) noexcept
    : hostExceptions_(hostExceptions), mark_(tInnermostRelease), outer_(tInnermostEntry) {
  tInnermostEntry = this;
}

HostEntry::~HostEntry() { tInnermostEntry = outer_; }

const HostEntry* HostEntry::Innermost() noexcept { return tInnermostEntry; }

void HostEntry::ResumeAt(const HostEntry* entry) noexcept { tInnermostEntry = entry; }

void HostEntry::Abandon() const noexcept {
  RunReleasesAbove(mark_);
  tInnermostEntry = outer_;
}

}  // namespace vu30::platform
