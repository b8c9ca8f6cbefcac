// SPDX-License-Identifier: MIT
#include <chrono>
#include <thread>

#include "platform/hot_path.h"
#include "platform/sleep.h"

namespace vu30::platform {

VU30_HOT_PATH void SleepFor(std::chrono::steady_clock::duration duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
}

}  // namespace vu30::platform
