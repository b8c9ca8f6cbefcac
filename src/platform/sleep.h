// Blocking pauses of the calling thread (sleep_posix.cpp, sleep_win32.cpp).
#pragma once

#include <chrono>

namespace vu30::platform {

// Sleeps until the steady clock has passed now + duration. A sleep that the
// system ends early is resumed, so the pause is never shorter.
void SleepFor(std::chrono::steady_clock::duration duration);

inline void SleepMs(unsigned milliseconds) { SleepFor(std::chrono::milliseconds(milliseconds)); }

}  // namespace vu30::platform
