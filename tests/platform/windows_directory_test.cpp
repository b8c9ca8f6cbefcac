// SPDX-License-Identifier: MIT
// Where the Windows directory lies: on POSIX WINDIR, else /etc/vu30; on
// Windows the system's, unless a test points it elsewhere.
#include "platform/windows_directory.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdlib>
#include <optional>
#include <string>

namespace vu30::platform {
namespace {

#if !defined(_WIN32)
// Sets WINDIR for one test and puts back what was there.
class WindirGuard {
 public:
  WindirGuard() {
    if (const char* v = std::getenv("WINDIR")) saved_ = v;
  }
  ~WindirGuard() {
    if (saved_) {
      ::setenv("WINDIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("WINDIR");
    }
  }
  WindirGuard(const WindirGuard&) = delete;
  WindirGuard& operator=(const WindirGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(WindowsDirectory, ComesFromWindir) {
  WindirGuard guard;
  ::setenv("WINDIR", "/tmp/some/dir", 1);
  EXPECT_EQ(WindowsDirectory(), "/tmp/some/dir");
}

TEST(WindowsDirectory, DefaultsWhenWindirIsUnsetOrEmpty) {
  WindirGuard guard;
  ::unsetenv("WINDIR");
  EXPECT_EQ(WindowsDirectory(), kDefaultWindowsDirectory);
  ::setenv("WINDIR", "", 1);
  EXPECT_EQ(WindowsDirectory(), "/etc/vu30");
}

TEST(WindowsDirectory, JoinPathAddsOneSeparator) {
  EXPECT_EQ(JoinPath("/etc/vu30", "cnf.INI"), "/etc/vu30/cnf.INI");
  EXPECT_EQ(JoinPath("/etc/vu30/", "cnf.INI"), "/etc/vu30/cnf.INI");
}
#else
TEST(WindowsDirectory, IsTheSystemsUnlessATestPointsItElsewhere) {
  char system[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(system, sizeof system);
  ASSERT_TRUE(length > 0 && length < sizeof system);
  EXPECT_EQ(WindowsDirectory(), std::string(system, length));
  SetWindowsDirectoryForTests("D:\\station");
  EXPECT_EQ(WindowsDirectory(), "D:\\station");
  SetWindowsDirectoryForTests({});
  EXPECT_EQ(WindowsDirectory(), std::string(system, length));
  EXPECT_EQ(JoinPath("C:\\WINDOWS", "cnf.INI"), "C:\\WINDOWS\\cnf.INI");
  EXPECT_EQ(JoinPath("C:\\", "cnf.INI"), "C:\\cnf.INI");
}
#endif

}  // namespace
}  // namespace vu30::platform
