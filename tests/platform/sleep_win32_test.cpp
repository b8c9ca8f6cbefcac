// SPDX-License-Identifier: MIT
// Windows: the pause waits on a high-resolution waitable timer where the
// system makes one, on Sleep elsewhere, and never ends before its time.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "platform/sleep.h"

namespace vu30::platform {
namespace {

using std::chrono::steady_clock;

// Whether this system makes a high-resolution waitable timer, asked as
// Windows says to: CreateWaitableTimerExW exists from Vista on, and systems
// before Windows 10 version 1803 refuse its high-resolution flag (2).
bool SystemMakesHighResolutionTimers() {
  using CreateFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
  const auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateWaitableTimerExW")));
  if (create == nullptr) return false;
  const HANDLE timer = create(nullptr, nullptr, 2, TIMER_ALL_ACCESS);
  if (timer == nullptr) return false;
  CloseHandle(timer);
  return true;
}

// Pauses for duration with wait; the wait that ended it. The pause must not
// have ended before its time by the steady clock.
PauseWait PauseAndCheck(steady_clock::duration duration, PauseWait wait) {
  const auto start = steady_clock::now();
  const PauseWait used = SleepFor(duration, wait);
  EXPECT_GE(steady_clock::now() - start, duration);
  return used;
}

TEST(PauseWin32, WaitsOnTheHighResolutionTimerWhereTheSystemHasOneAndOnSleepElsewhere) {
  const PauseWait expected =
      SystemMakesHighResolutionTimers() ? PauseWait::kHighResolutionTimer : PauseWait::kSleep;
  EXPECT_EQ(SystemPauseWait(), expected);
  EXPECT_EQ(PauseAndCheck(std::chrono::milliseconds(30), PauseWait::kHighResolutionTimer),
            expected);
  // A time the timer's 100 ns units do not divide, and one below a
  // millisecond: rounded up, never down.
  EXPECT_EQ(PauseAndCheck(std::chrono::nanoseconds(2'500'050), PauseWait::kHighResolutionTimer),
            expected);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(300), PauseWait::kHighResolutionTimer),
            expected);
}

TEST(PauseWin32, SleepWaitsInWholeMillisecondsAndNeverEndsEarly) {
  EXPECT_EQ(PauseAndCheck(std::chrono::milliseconds(30), PauseWait::kSleep), PauseWait::kSleep);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(2'500), PauseWait::kSleep), PauseWait::kSleep);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(300), PauseWait::kSleep), PauseWait::kSleep);
}

TEST(PauseWin32, ThePlainPauseNeverEndsEarly) {
  const auto start = steady_clock::now();
  SleepFor(std::chrono::milliseconds(30));
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace vu30::platform
