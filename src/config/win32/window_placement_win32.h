/* SPDX-License-Identifier: MIT */
// Where the port type dialog was last shown, kept per user in the registry
// (HKEY_CURRENT_USER\Software\vu30\COMTypeTRKForm, values Left and Top), not
// in the shared cnf.INI: the position is the operator's, not the station's.
#pragma once

#include <windows.h>

#include <optional>

namespace vu30::config::win32 {

inline constexpr const wchar_t* kPlacementKey = L"Software\\vu30\\COMTypeTRKForm";

// The stored position; nullopt when none is stored or a value is not a
// plausible screen coordinate (outside -100000..100000).
std::optional<POINT> RestorePosition();
// Stores the position; a failure only means the next showing starts at 0, 0.
void SavePosition(POINT position);

}  // namespace vu30::config::win32
