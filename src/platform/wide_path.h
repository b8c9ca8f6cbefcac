/* SPDX-License-Identifier: MIT */
// Windows only: the one conversion of a path in the ANSI code page (as the
// library gets and keeps paths) to the UTF-16 path the system's wide
// functions take, so that every file operation sees the same name.
#pragma once

#include <string>

namespace vu30::platform {

// The full UTF-16 path of ansiPath, in the extended form ("\\?\C:\..." or
// "\\?\UNC\server\...") that has no length limit. Empty when the text is not
// a path in the ANSI code page.
std::wstring WidePath(const std::string& ansiPath);

}  // namespace vu30::platform
