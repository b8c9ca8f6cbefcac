// SPDX-License-Identifier: MIT
// Adoption of the host window on Windows: the host passes its main window's
// HWND, or null. The handle is checked when the dialog is first needed: it is
// used as the dialog's owner only if it is a window of this process made by
// the calling thread (the host's user-interface thread). A handle that is no
// window gets a dialog without an owner; a window of another thread gets no
// dialog, since its modal loop would run in the wrong thread.
#include <windows.h>

#include "config/host_window.h"
#include "config/win32/port_type_dialog_win32.h"

namespace vu30::config {

void AdoptHostWindow(void* hostWindow) {
  COMTypeTRKForm.SetViewFactory(
      [hostWindow](TCOMTypeTRKForm& form) -> std::unique_ptr<TCOMTypeTRKView> {
        auto owner = static_cast<HWND>(hostWindow);
        DWORD process = 0;
        const DWORD thread =
            owner != nullptr && IsWindow(owner) ? GetWindowThreadProcessId(owner, &process) : 0;
        if (owner != nullptr && (thread == 0 || process != GetCurrentProcessId())) {
          OutputDebugStringW(
              L"vu30: the host window given to GetVU30 is not a window of this process; "
              L"the port type dialog is shown without an owner\n");
          owner = nullptr;
        } else if (owner != nullptr && thread != GetCurrentThreadId()) {
          OutputDebugStringW(
              L"vu30: the port type dialog can only be shown from the thread of the host "
              L"window\n");
          return nullptr;
        }
        // The dialog's owner is a top-level window, also when the host names one
        // of its child windows.
        if (owner != nullptr) owner = GetAncestor(owner, GA_ROOT);
        return std::make_unique<win32::Win32ComTypeTrkView>(form, owner);
      });
}

}  // namespace vu30::config
