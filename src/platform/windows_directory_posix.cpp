// SPDX-License-Identifier: MIT
#include <cstdlib>

#include "platform/windows_directory.h"

namespace vu30::platform {

std::string WindowsDirectory() {
  const char* value = std::getenv("WINDIR");
  if (value != nullptr && *value != '\0') return value;
  return kDefaultWindowsDirectory;
}

std::string JoinPath(const std::string& directory, const std::string& fileName) {
  if (!directory.empty() && directory.back() == '/') return directory + fileName;
  return directory + "/" + fileName;
}

}  // namespace vu30::platform
