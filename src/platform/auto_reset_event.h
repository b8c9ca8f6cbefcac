// An auto-reset event: Signal wakes one wait; signals given while nobody
// waits collapse into one, which the next wait consumes at once. On Windows
// it is the system's event object, elsewhere a condition variable
// (auto_reset_event_win32.cpp, auto_reset_event_posix.cpp).
#pragma once

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
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
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
#endif
};

}  // namespace vu30::platform
