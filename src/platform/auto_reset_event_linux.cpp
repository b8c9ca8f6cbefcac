// SPDX-License-Identifier: MIT
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/auto_reset_event.h"
#include "platform/hot_path.h"

namespace vu30::platform {
namespace {

constexpr uint32_t kClear = 0;
constexpr uint32_t kSignalled = 1;
constexpr uint32_t kClearWithSleepers = 2;

// The kernel waits on and wakes the atomic's own word.
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

uint32_t* Word(std::atomic<uint32_t>& state) { return reinterpret_cast<uint32_t*>(&state); }

// Sleeps while the word still holds expected; returns at once when it does
// not, and may return early (a signal, a spurious wake-up): the caller
// looks at the word again.
long FutexWait(std::atomic<uint32_t>& state, uint32_t expected) {
  return syscall(SYS_futex, Word(state), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>& state) {
  (void)syscall(SYS_futex, Word(state), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

AutoResetEvent::AutoResetEvent() = default;
AutoResetEvent::~AutoResetEvent() = default;

VU30_HOT_PATH void AutoResetEvent::Signal() {
  // The release pairs with the acquire of the wait that consumes the signal:
  // what the signalling thread wrote before is visible to the woken one.
  if (state_.exchange(kSignalled, std::memory_order_release) == kClearWithSleepers) {
    FutexWakeOne(state_);
  }
}

VU30_HOT_PATH bool AutoResetEvent::Wait() {
  // A thread that has slept cannot know whether others still sleep, so it
  // consumes a signal leaving kClearWithSleepers behind: the next Signal then
  // wakes one of them (or none, at the cost of one needless call).
  bool slept = false;
  uint32_t seen = state_.load(std::memory_order_relaxed);
  for (;;) {
    if (seen == kSignalled) {
      if (state_.compare_exchange_weak(seen, slept ? kClearWithSleepers : kClear,
                                       std::memory_order_acquire, std::memory_order_relaxed)) {
        return true;
      }
      continue;
    }
    if (seen == kClear &&
        !state_.compare_exchange_weak(seen, kClearWithSleepers, std::memory_order_relaxed,
                                      std::memory_order_relaxed)) {
      continue;
    }
    if (FutexWait(state_, kClearWithSleepers) != 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    slept = true;
    seen = state_.load(std::memory_order_relaxed);
  }
}

}  // namespace vu30::platform
