// SPDX-License-Identifier: MIT
#include "station_ini.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#endif

namespace vu30::demo {

constexpr const char* kSection = "COMTypeTRK";

#if defined(_WIN32)

namespace {

// The value of a key, nullopt when it is missing (told apart by two defaults).
std::optional<std::string> ReadKey(const std::string& file, const char* key) {
  char value[256];
  GetPrivateProfileStringA(kSection, key, "\x01", value, sizeof value, file.c_str());
  if (std::string(value) == "\x01") {
    GetPrivateProfileStringA(kSection, key, "\x02", value, sizeof value, file.c_str());
    if (std::string(value) == "\x02") return std::nullopt;
  }
  return std::string(value);
}

}  // namespace

StationIni::StationIni(const std::vector<std::pair<std::string, std::string>>& keys) {
  char windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  if (length == 0 || length >= sizeof windows) throw std::runtime_error("no Windows directory");
  directory_.assign(windows, length);
  file_ = directory_ + "\\cnf.INI";
  for (const auto& [key, value] : keys) {
    before_.emplace_back(key, ReadKey(file_, key.c_str()));
    if (!WritePrivateProfileStringA(kSection, key.c_str(), value.c_str(), file_.c_str())) {
      throw std::runtime_error("cannot write " + file_);
    }
  }
}

StationIni::~StationIni() {
  for (const auto& [key, value] : before_) {
    WritePrivateProfileStringA(kSection, key.c_str(), value ? value->c_str() : nullptr,
                               file_.c_str());
  }
}

#else

StationIni::StationIni(const std::vector<std::pair<std::string, std::string>>& keys) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vu30-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create temp dir");
  directory_ = pattern;
  std::ofstream ini(std::filesystem::path(directory_) / "cnf.INI");
  ini << "[" << kSection << "]\r\n";
  for (const auto& [key, value] : keys) ini << key << "=" << value << "\r\n";
  if (!ini) throw std::runtime_error("cannot write cnf.INI");
  if (setenv("WINDIR", directory_.c_str(), 1) != 0) throw std::runtime_error("cannot set WINDIR");
}

StationIni::~StationIni() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

#endif

}  // namespace vu30::demo
