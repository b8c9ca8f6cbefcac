/* SPDX-License-Identifier: MIT */
// The station's port types in a cnf.INI where the driver finds it.
//
// POSIX: a Windows directory of the demo's own, named by WINDIR for the
// driver, removed again at the end. Windows: the driver reads the system's
// Windows directory, so the demo sets its keys in the cnf.INI there (every
// other section and key stays as it is) and puts back what was there before
// at the end.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vu30::demo {

class StationIni {
 public:
  // keys: name and value of each key of section [COMTypeTRK].
  explicit StationIni(const std::vector<std::pair<std::string, std::string>>& keys);
  ~StationIni();
  StationIni(const StationIni&) = delete;
  StationIni& operator=(const StationIni&) = delete;

 private:
  std::string directory_;
#if defined(_WIN32)
  std::string file_;
  std::vector<std::pair<std::string, std::optional<std::string>>> before_;
#endif
};

}  // namespace vu30::demo
