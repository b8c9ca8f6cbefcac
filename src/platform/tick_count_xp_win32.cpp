// SPDX-License-Identifier: MIT
// i686 only. The thread runtime linked into the library (winpthread) times
// its waits with GetTickCount64, which Windows XP lacks: a DLL that imports
// it does not load there. This file defines that import's slot, so the
// linker takes it instead of the system's import library (the link pulls it
// in by name, see CMakeLists.txt): it calls the system's own GetTickCount64
// where there is one, looked up at run time, and elsewhere counts the
// milliseconds of QueryPerformanceCounter, as steady as the ticks are.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64() {
  using TickCountFn = ULONGLONG(WINAPI*)();
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto system = kernel == nullptr
                          ? nullptr
                          : reinterpret_cast<TickCountFn>(reinterpret_cast<void (*)()>(
                                GetProcAddress(kernel, "GetTickCount64")));
  if (system != nullptr) return system();
  LARGE_INTEGER count;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);  // never 0 from Windows XP on
  const auto ticks = static_cast<ULONGLONG>(count.QuadPart);
  const auto perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

}  // namespace

// The slot the import library would define: a pointer the callers call
// through (the name carries the stdcall decoration of i686).
extern "C" ULONGLONG(WINAPI* const vu30_tick_count64_slot)() __asm__("__imp__GetTickCount64@0");
extern "C" ULONGLONG(WINAPI* const vu30_tick_count64_slot)() = &TickCount64;
