// A Windows directory of the test's own: a fresh temporary directory is the
// Windows directory for the test's lifetime (see windows_directory_override.h).
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "windows_directory_override.h"

namespace vu30::test {

class TempWindir {
 public:
  TempWindir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("vu30-windir-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (!std::filesystem::create_directory(dir_))
      throw std::runtime_error("no temporary directory");
    override_ = std::make_unique<WindowsDirectoryOverride>(dir_.string());
  }
  ~TempWindir() {
    override_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempWindir(const TempWindir&) = delete;
  TempWindir& operator=(const TempWindir&) = delete;

  std::string Dir() const { return dir_.string(); }
  std::string Ini() const { return (dir_ / "cnf.INI").string(); }
  std::string ReadIni() const {
    std::ifstream in(Ini(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteIni(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }
  // Makes another directory the Windows directory while this one lives.
  void PointAt(const std::string& directory) { override_->PointAt(directory); }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<WindowsDirectoryOverride> override_;
};

}  // namespace vu30::test
