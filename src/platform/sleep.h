// Blocking pauses of the calling thread, in milliseconds (sleep_posix.cpp,
// sleep_win32.cpp).
#pragma once

namespace vu30::platform {

void SleepMs(unsigned milliseconds);

}  // namespace vu30::platform
