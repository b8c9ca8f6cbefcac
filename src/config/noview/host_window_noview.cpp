// SPDX-License-Identifier: MIT
// The library without a view: the host window is not used, and the dialog
// has no screen, so choosing the menu entry returns at once.
#include "config/host_window.h"
#include "config/port_type_dialog.h"

namespace vu30::config {

void AdoptHostWindow(void* /*hostWindow*/) {
  COMTypeTRKForm.SetViewFactory([](TCOMTypeTRKForm&) { return nullptr; });
}

}  // namespace vu30::config
