/* SPDX-License-Identifier: MIT */
// Threads with a termination flag, a priority and a wait-for-finish operation,
// as the post workers need them. Each platform supplies ApplyPriority in its
// own file (thread_posix.cpp, thread_win32.cpp).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace vu30::platform {

enum class ThreadPriority { Normal, TimeCritical };

// Sets the calling thread's priority. Best effort: on POSIX, time-critical is
// nice -20, and where that is refused (no CAP_SYS_NICE) the strongest nice
// that RLIMIT_NICE allows; the thread never gets a weaker one than it had.
void ApplyPriority(ThreadPriority priority);

// Names the calling thread (at most 15 characters are kept on Linux), so that
// an operator or a host can find it, and see its priority, among the
// process's threads (/proc/<pid>/task/*/comm and stat, `ps -L`). Best effort.
void NameThisThread(const std::string& name);

class Thread {
 public:
  // The body runs on the new thread at once, at the given priority and under
  // the given name (none when empty); it should return soon after
  // Terminated() becomes true.
  Thread(ThreadPriority priority, std::function<void()> body, std::string name = {});
  ~Thread();  // terminates and waits for the body
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Terminate() { terminated_.store(true, std::memory_order_release); }
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // Waits until the body has returned; safe to call more than once, from any
  // thread but the thread itself.
  void WaitFor();

 private:
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace vu30::platform
