#include <windows.h>

#include "platform/sleep.h"

namespace vu30::platform {

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace vu30::platform
