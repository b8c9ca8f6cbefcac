/* SPDX-License-Identifier: MIT */
// The Windows directory, where the host's shared cnf.INI lives.
#pragma once

#include <string>

namespace vu30::platform {

// On Windows, what GetWindowsDirectoryA reports (a path in the ANSI code
// page, of any length). On POSIX, the value of the environment variable
// WINDIR when it is set and not empty, else kDefaultWindowsDirectory.
std::string WindowsDirectory();

// Joins a directory and a file name with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& fileName);

inline constexpr const char* kDefaultWindowsDirectory = "/etc/vu30";

#if defined(_WIN32)
// For tests: WindowsDirectory() reports directory from now on; an empty one
// gives the system's back. Nothing the library exports reaches it, so the
// shipped DLL always uses the system's directory.
void SetWindowsDirectoryForTests(std::string directory);
#endif

}  // namespace vu30::platform
