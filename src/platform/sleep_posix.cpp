#include <chrono>
#include <thread>

#include "platform/sleep.h"

namespace vu30::platform {

void SleepMs(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vu30::platform
