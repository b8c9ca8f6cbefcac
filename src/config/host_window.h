/* SPDX-License-Identifier: MIT */
// The host's main window, owner of the library's dialog.
#pragma once

namespace vu30::config {

// Adopts the window GetVU30 was given (on Qt a QWidget*, or null).
void AdoptHostWindow(void* hostWindow);

}  // namespace vu30::config
