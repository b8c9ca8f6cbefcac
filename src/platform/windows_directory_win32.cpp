// SPDX-License-Identifier: MIT
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/windows_directory.h"

namespace vu30::platform {
namespace {

struct TestDirectory {
  std::mutex mutex;
  std::string directory;
};

TestDirectory& TestOverride() {
  static TestDirectory instance;
  return instance;
}

std::string SystemWindowsDirectory() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const UINT length = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);  // too small: length is the size needed, with the NUL
  }
}

}  // namespace

std::string WindowsDirectory() {
  {
    TestDirectory& test = TestOverride();
    std::lock_guard lock(test.mutex);
    if (!test.directory.empty()) return test.directory;
  }
  return SystemWindowsDirectory();
}

void SetWindowsDirectoryForTests(std::string directory) {
  TestDirectory& test = TestOverride();
  std::lock_guard lock(test.mutex);
  test.directory = std::move(directory);
}

std::string JoinPath(const std::string& directory, const std::string& fileName) {
  if (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) {
    return directory + fileName;
  }
  return directory + "\\" + fileName;
}

}  // namespace vu30::platform
