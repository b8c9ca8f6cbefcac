/* SPDX-License-Identifier: MIT */
// An auto-reset event: Signal wakes one wait; signals given while nobody
// waits collapse into one, which the next wait consumes at once. On Windows
// it is the system's event object, on Linux one word and the futex calls on
// it (auto_reset_event_win32.cpp, auto_reset_event_linux.cpp): a signal is
// one atomic exchange, plus the kernel's wake-up only when a thread sleeps on
// the event, and the event shares no lock with anything else.
#pragma once

#if !defined(_WIN32)
#include <atomic>
#include <cstdint>
#endif

namespace vu30::platform {

class AutoResetEvent {
 public:
  AutoResetEvent();  // throws std::system_error when the system has no event for it
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Signal();

  // Waits without a time limit; returns true when woken by a signal, false
  // when the wait itself failed.
  bool Wait();

 private:
#if defined(_WIN32)
  void* handle_;  // the event's HANDLE
#else
  // kClear, kSignalled, or kClearWithSleepers: not signalled, and a thread
  // may be asleep in the kernel waiting for it.
  std::atomic<uint32_t> state_{0};
#endif
};

}  // namespace vu30::platform
