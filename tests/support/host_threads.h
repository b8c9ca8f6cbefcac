/* SPDX-License-Identifier: MIT */
// Host threads in trouble: a call that may never return, and a thread that
// is cancelled (pthread_cancel) inside a call.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace vu30::test {

// Runs body on a thread of its own. A body that has not returned within 10 s
// is taken for a deadlock: the test program ends there, failed.
inline void WithoutDeadlock(const std::function<void()>& body) {
  std::promise<void> returned;
  std::thread runner([&] {
    body();
    returned.set_value();
  });
  if (returned.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::fprintf(stderr, "deadlock: the call did not return within 10 s\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  runner.join();
}

#if !defined(_WIN32)
// ThreadSanitizer does not unwind its own interceptors' frames when a thread
// is cancelled inside a blocking call: the locks that the unwind then
// releases stay held in its books, and the next lock of one is reported as
// a double lock. Tests that cancel a thread holding a lock skip under it.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerFollowsCancellation = false;
#else
inline constexpr bool kSanitizerFollowsCancellation = true;
#endif

// Runs body on a new thread, waits until inside() is true, lets `after` pass,
// cancels the thread and returns what it ended with: PTHREAD_CANCELED when
// the cancellation ended it, null when body returned.
inline void* CancelInside(std::function<void()> body, const std::function<bool()>& inside,
                          std::chrono::milliseconds after = std::chrono::milliseconds(10)) {
  pthread_t thread{};
  if (pthread_create(
          &thread, nullptr,
          [](void* run) -> void* {
            (*static_cast<std::function<void()>*>(run))();
            return nullptr;
          },
          &body) != 0) {
    return nullptr;
  }
  while (!inside()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(after);
  pthread_cancel(thread);
  void* result = nullptr;
  pthread_join(thread, &result);
  return result;
}

#endif

}  // namespace vu30::test
