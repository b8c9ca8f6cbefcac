/* SPDX-License-Identifier: MIT */
// Blocking pauses of the calling thread (sleep_posix.cpp, sleep_win32.cpp).
#pragma once

#include <chrono>

namespace vu30::platform {

// Sleeps until the steady clock has passed now + duration. A sleep that the
// system ends early is resumed, so the pause is never shorter.
void SleepFor(std::chrono::steady_clock::duration duration);

inline void SleepMs(unsigned milliseconds) { SleepFor(std::chrono::milliseconds(milliseconds)); }

#if defined(_WIN32)
// How a pause waits on Windows. Sleep counts in the system's timer ticks
// (15.625 ms unless some program has made them finer for the whole
// machine), so a pause of 30 ms lasts 31.25 to 46.9 ms; a high-resolution
// waitable timer (Windows 10 version 1803 and later) ends it within about a
// millisecond of its time, without changing the machine's tick.
enum class PauseWait { kHighResolutionTimer, kSleep };

// The wait SleepFor uses on this system: the high-resolution timer where the
// system makes one, Sleep elsewhere.
PauseWait SystemPauseWait();

// SleepFor with the wait named (SleepFor asks for the timer). Returns the
// wait that ended the pause: Sleep where the timer was asked for and the
// system has none.
PauseWait SleepFor(std::chrono::steady_clock::duration duration, PauseWait wait);
#endif

}  // namespace vu30::platform
