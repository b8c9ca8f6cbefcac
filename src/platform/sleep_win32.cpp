// SPDX-License-Identifier: MIT
#include <windows.h>

#include <chrono>
#include <ratio>

#include "platform/sleep.h"

namespace vu30::platform {
namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which headers for older systems
// lack; systems before Windows 10 version 1803 refuse it.
constexpr DWORD kHighResolutionFlag = 0x00000002;

// A high-resolution waitable timer of one pause, closed with it; none
// (Valid() false) where it is not wanted or the system makes none.
// CreateWaitableTimerExW exists from Windows Vista on: it is looked up at
// run time, so that the library loads on Windows XP.
class HighResolutionTimer {
 public:
  explicit HighResolutionTimer(bool wanted) : handle_(wanted ? Create() : nullptr) {}
  ~HighResolutionTimer() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HighResolutionTimer(const HighResolutionTimer&) = delete;
  HighResolutionTimer& operator=(const HighResolutionTimer&) = delete;

  bool Valid() const { return handle_ != nullptr; }

  // Waits at least rest (the timer counts in 100 ns units, rounded up);
  // false when the timer fails, and the caller waits another way.
  bool Wait(std::chrono::steady_clock::duration rest) const {
    using Units = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;
    LARGE_INTEGER due;
    due.QuadPart = -std::chrono::ceil<Units>(rest).count();  // negative: relative
    return SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) &&
           WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  static HANDLE Create() {
    using CreateFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    const auto create = reinterpret_cast<CreateFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateWaitableTimerExW")));
    if (create == nullptr) return nullptr;
    return create(nullptr, nullptr, kHighResolutionFlag, SYNCHRONIZE | TIMER_MODIFY_STATE);
  }

  HANDLE handle_;
};

}  // namespace

PauseWait SystemPauseWait() {
  return HighResolutionTimer(true).Valid() ? PauseWait::kHighResolutionTimer : PauseWait::kSleep;
}

PauseWait SleepFor(std::chrono::steady_clock::duration duration, PauseWait wait) {
  // Whatever wakes the thread, the pause ends only when the steady clock
  // (QueryPerformanceCounter) has passed the deadline: the rest is waited
  // again.
  const auto deadline = std::chrono::steady_clock::now() + duration;
  const HighResolutionTimer timer(wait == PauseWait::kHighResolutionTimer);
  PauseWait used = timer.Valid() ? PauseWait::kHighResolutionTimer : PauseWait::kSleep;
  for (auto now = std::chrono::steady_clock::now(); now < deadline;
       now = std::chrono::steady_clock::now()) {
    const auto rest = deadline - now;
    if (used == PauseWait::kHighResolutionTimer && timer.Wait(rest)) continue;
    used = PauseWait::kSleep;
    Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(rest).count()));
  }
  return used;
}

void SleepFor(std::chrono::steady_clock::duration duration) {
  SleepFor(duration, PauseWait::kHighResolutionTimer);
}

}  // namespace vu30::platform
