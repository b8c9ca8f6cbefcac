// A Windows directory of the test's own: WINDIR points at a fresh temporary
// directory for the test's lifetime.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vu30::test {

class TempWindir {
 public:
  TempWindir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vu30-windir-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    if (const char* old = std::getenv("WINDIR")) old_ = old, hadOld_ = true;
    setenv("WINDIR", dir_.c_str(), 1);
  }
  ~TempWindir() {
    if (hadOld_) {
      setenv("WINDIR", old_.c_str(), 1);
    } else {
      unsetenv("WINDIR");
    }
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

 private:
  std::filesystem::path dir_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace vu30::test
