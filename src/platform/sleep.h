// Blocking pauses of the calling thread.
#pragma once

#include <chrono>
#include <thread>

namespace vu30::platform {

// Sleeps until the steady clock has passed now + duration. A sleep that the
// system ends early is resumed, so the pause is never shorter.
inline void SleepFor(std::chrono::steady_clock::duration duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

inline void SleepMs(unsigned milliseconds) { SleepFor(std::chrono::milliseconds(milliseconds)); }

}  // namespace vu30::platform
