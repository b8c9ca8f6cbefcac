// Threads with a termination flag, a priority and a wait-for-finish operation,
// as the post workers need them. Each platform supplies ApplyPriority in its
// own file (thread_posix.cpp, thread_win32.cpp).
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace vu30::platform {

enum class ThreadPriority { Normal, TimeCritical };

// Sets the calling thread's priority. Best effort: where the platform refuses
// it (no privilege), the thread keeps the priority it has.
void ApplyPriority(ThreadPriority priority);

class Thread {
 public:
  // The body runs on the new thread at once, at the given priority; it should
  // return soon after Terminated() becomes true.
  Thread(ThreadPriority priority, std::function<void()> body);
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
