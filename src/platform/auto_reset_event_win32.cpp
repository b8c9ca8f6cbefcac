// SPDX-License-Identifier: MIT
#include <windows.h>

#include <system_error>

#include "platform/auto_reset_event.h"

namespace vu30::platform {

AutoResetEvent::AutoResetEvent()
    : handle_(CreateEventA(nullptr, /*bManualReset=*/FALSE, /*bInitialState=*/FALSE, nullptr)) {
  if (handle_ == nullptr) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "vu30: no event object");
  }
}

AutoResetEvent::~AutoResetEvent() { CloseHandle(handle_); }

void AutoResetEvent::Signal() { SetEvent(handle_); }

bool AutoResetEvent::Wait() { return WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0; }

}  // namespace vu30::platform
