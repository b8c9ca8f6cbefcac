// The Windows directory, where the host's shared cnf.INI lives.
#pragma once

#include <string>

namespace vu30::platform {

// On Windows, what GetWindowsDirectoryA reports. On POSIX, the value of the
// environment variable WINDIR when it is set and not empty, else
// kDefaultWindowsDirectory.
std::string WindowsDirectory();

// Joins a directory and a file name with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& fileName);

inline constexpr const char* kDefaultWindowsDirectory = "/etc/vu30";

}  // namespace vu30::platform
