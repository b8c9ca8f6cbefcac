/* SPDX-License-Identifier: MIT */
// Points the Windows directory of the library code in this test program at a
// directory of the test's, and puts back what was there at the end.
//
// POSIX: through WINDIR, which a loaded libvu30.so reads too. Windows:
// through the platform layer's test seam, which reaches the library code
// linked into the program; a loaded vu30.dll keeps the system's directory.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#if defined(_WIN32)
#include "platform/windows_directory.h"
#endif

namespace vu30::test {

class WindowsDirectoryOverride {
 public:
  explicit WindowsDirectoryOverride(const std::string& directory) {
#if !defined(_WIN32)
    if (const char* v = std::getenv("WINDIR")) saved_ = v;
#endif
    PointAt(directory);
  }
  ~WindowsDirectoryOverride() {
#if defined(_WIN32)
    platform::SetWindowsDirectoryForTests({});
#else
    if (saved_) {
      ::setenv("WINDIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("WINDIR");
    }
#endif
  }
  WindowsDirectoryOverride(const WindowsDirectoryOverride&) = delete;
  WindowsDirectoryOverride& operator=(const WindowsDirectoryOverride&) = delete;

  // Points it at another directory while the override lives.
  void PointAt(const std::string& directory) {
#if defined(_WIN32)
    platform::SetWindowsDirectoryForTests(directory);
#else
    ::setenv("WINDIR", directory.c_str(), 1);
#endif
  }

 private:
  std::optional<std::string> saved_;
};

}  // namespace vu30::test
