/* SPDX-License-Identifier: MIT */
// A Windows directory of the test's own: a fresh temporary directory is the
// Windows directory for the test's lifetime (see windows_directory_override.h).
#pragma once

#include <string>

#include "temp_dir.h"
#include "windows_directory_override.h"

namespace vu30::test {

class TempWindir {
 public:
  TempWindir() : override_(dir_.Path().string()) {}

  std::string Dir() const { return dir_.Path().string(); }
  std::string Ini() const { return dir_.File("cnf.INI"); }
  std::string ReadIni() const { return ReadBytes(Ini()); }
  void WriteIni(const std::string& text) const { WriteBytes(Ini(), text); }
  // Makes another directory the Windows directory while this one lives.
  void PointAt(const std::string& directory) { override_.PointAt(directory); }

 private:
  TempDir dir_;  // made before the override, removed after it
  WindowsDirectoryOverride override_;
};

}  // namespace vu30::test
