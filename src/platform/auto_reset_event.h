// An auto-reset event: Signal wakes one wait; signals given while nobody
// waits collapse into one, which the next wait consumes at once.
#pragma once

#include <condition_variable>
#include <mutex>

namespace vu30::platform {

class AutoResetEvent {
 public:
  void Signal() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  // Waits without a time limit; returns true when woken by a signal.
  bool Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace vu30::platform
