// SPDX-License-Identifier: MIT
#include <windows.h>

#include <string>

#include "platform/thread.h"

namespace vu30::platform {

void ApplyPriority(ThreadPriority priority) {
  const int level = priority == ThreadPriority::TimeCritical ? THREAD_PRIORITY_TIME_CRITICAL
                                                             : THREAD_PRIORITY_NORMAL;
  (void)SetThreadPriority(GetCurrentThread(), level);
}

void NameThisThread(const std::string& name) {
  // SetThreadDescription exists from Windows 10 1607 on; older systems keep
  // their threads unnamed.
  using SetDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  const auto setDescription = reinterpret_cast<SetDescriptionFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetThreadDescription")));
  if (setDescription == nullptr) return;
  const std::wstring wide(name.begin(), name.end());  // worker names are ASCII
  (void)setDescription(GetCurrentThread(), wide.c_str());
}

}  // namespace vu30::platform
