/* SPDX-License-Identifier: MIT */
// The driver's entry in the host's menu: "Программирование параметров
// Trovelheim" under the host's "&ТРК" item, added once per library load;
// choosing it shows the port type dialog.
#pragma once

#include "vu30.h"

namespace vu30::config {

// Slot 24. clickData is what the item's click handler is bound to (the driver
// object); the handler does not use it. Errors of createItem or of the host's
// items pass through, and the entry is then tried again on the next call.
void AddMenuEntry(Vu30MenuItem* parentItem, Vu30CreateItemFn createItem, void* clickData);

// Back to the state of library load (the entry not yet added); for tests.
void ResetMenuEntry();

}  // namespace vu30::config
