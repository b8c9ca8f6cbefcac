#include <windows.h>

#include "platform/windows_directory.h"

namespace vu30::platform {

std::string WindowsDirectory() {
  char buffer[255];
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  return std::string(buffer, length);  // cut to the length the call reports
}

std::string JoinPath(const std::string& directory, const std::string& fileName) {
  return directory + "\\" + fileName;
}

}  // namespace vu30::platform
