#include <windows.h>

#include <chrono>

#include "platform/sleep.h"

namespace vu30::platform {

void SleepFor(std::chrono::steady_clock::duration duration) {
  // Sleep counts in the system's timer ticks and may wake a little before
  // the steady clock has moved as far: the rest is slept again.
  const auto deadline = std::chrono::steady_clock::now() + duration;
  for (auto now = std::chrono::steady_clock::now(); now < deadline;
       now = std::chrono::steady_clock::now()) {
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    Sleep(static_cast<DWORD>(rest.count()));
  }
}

}  // namespace vu30::platform
