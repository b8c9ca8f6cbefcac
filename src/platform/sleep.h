// Blocking pauses of the calling thread, in milliseconds.
#pragma once

#include <chrono>
#include <thread>

namespace vu30::platform {

inline void SleepMs(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vu30::platform
