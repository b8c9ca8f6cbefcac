// Windows: the pause waits on a high-resolution waitable timer where the
// system makes one, on Sleep elsewhere, and never ends before its time.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "platform/sleep.h"

namespace vu30::platform {
namespace {

using std::chrono::steady_clock;

// The system's own version (RtlGetVersion does not bend it to the program's
// manifest, as GetVersionEx does): whether it is Windows 10 version 1803
// (build 17134) or later, the first with high-resolution waitable timers.
bool SystemHasHighResolutionTimers() {
  using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion = reinterpret_cast<GetVersionFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (getVersion == nullptr || getVersion(&version) != 0) return false;
  return version.dwMajorVersion > 10 ||
         (version.dwMajorVersion == 10 && version.dwBuildNumber >= 17134);
}

// Pauses for duration with wait; the wait that ended it. The pause must not
// have ended before its time by the steady clock.
PauseWait PauseAndCheck(steady_clock::duration duration, PauseWait wait) {
  const auto start = steady_clock::now();
  const PauseWait used = SleepFor(duration, wait);
  EXPECT_GE(steady_clock::now() - start, duration);
  return used;
}

TEST(PauseWin32, WaitsOnTheHighResolutionTimerWhereTheSystemHasOne) {
  if (!SystemHasHighResolutionTimers()) {
    GTEST_SKIP() << "Windows before 10 version 1803: no high-resolution waitable timer";
  }
  EXPECT_EQ(SystemPauseWait(), PauseWait::kHighResolutionTimer);
  EXPECT_EQ(PauseAndCheck(std::chrono::milliseconds(30), PauseWait::kHighResolutionTimer),
            PauseWait::kHighResolutionTimer);
  // A time the timer's 100 ns units do not divide, and one below a
  // millisecond: rounded up, never down.
  EXPECT_EQ(PauseAndCheck(std::chrono::nanoseconds(2'500'050), PauseWait::kHighResolutionTimer),
            PauseWait::kHighResolutionTimer);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(300), PauseWait::kHighResolutionTimer),
            PauseWait::kHighResolutionTimer);
}

TEST(PauseWin32, SleepWaitsInWholeMillisecondsAndNeverEndsEarly) {
  EXPECT_EQ(PauseAndCheck(std::chrono::milliseconds(30), PauseWait::kSleep), PauseWait::kSleep);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(2'500), PauseWait::kSleep), PauseWait::kSleep);
  EXPECT_EQ(PauseAndCheck(std::chrono::microseconds(300), PauseWait::kSleep), PauseWait::kSleep);
}

TEST(PauseWin32, ThePlainPauseWaitsTheSystemsWay) {
  const auto start = steady_clock::now();
  SleepFor(std::chrono::milliseconds(30));
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(PauseAndCheck(std::chrono::milliseconds(1), SystemPauseWait()), SystemPauseWait());
}

}  // namespace
}  // namespace vu30::platform
