// SPDX-License-Identifier: MIT
// Windows: cnf.INI in directories with non-ASCII names and beyond MAX_PATH.
// The library takes paths in the ANSI code page and converts them once
// (WidePath); a file it writes must be the file the system's own ANSI and
// wide functions see under the same name.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "platform/file_replace.h"
#include "platform/ini_file.h"
#include "platform/wide_path.h"
#include "platform/windows_directory.h"
#include "temp_dir.h"

namespace vu30::platform {
namespace {

// A directory name with a letter outside ASCII that the ANSI code page holds
// (Cyrillic on a Russian system, Latin-1 elsewhere); nullopt when it has none.
std::optional<std::string> NonAsciiName() {
  for (const wchar_t* candidate : {L"\u0416\u0443\u0440\u043D\u0430\u043B", L"R\u00E9sum\u00E9"}) {
    char ansi[64];
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, candidate, -1, ansi, sizeof ansi, nullptr, &lossy);
    if (n > 0 && !lossy) return std::string("vu30 ") + ansi;
  }
  return std::nullopt;
}

// The file's bytes, read with the system's ANSI function.
std::string ReadAnsi(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open>";
  std::string text(4096, '\0');
  DWORD got = 0;
  ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(file);
  text.resize(got);
  return text;
}

class WindowsFilesTest : public ::testing::Test {
 protected:
  std::string Dir() const { return dir_.Path().string(); }
  test::TempDir dir_;
};

TEST_F(WindowsFilesTest, ANonAsciiDirectoryIsTheOneTheSystemNames) {
  const std::optional<std::string> name = NonAsciiName();
  if (!name) GTEST_SKIP() << "the ANSI code page has no letter outside ASCII";
  const std::string directory = Dir() + "\\" + *name;
  // The system itself must be able to hold the name: Wine under a Unix
  // locale that is not UTF-8 (no LANG at all, say) stores file names in
  // ASCII and refuses every other letter, whatever the ANSI code page.
  if (!CreateDirectoryA(directory.c_str(), nullptr)) {
    GTEST_SKIP() << "the system cannot make a directory named \"" << *name << "\" (error "
                 << GetLastError() << "); under Wine the Unix locale must be a UTF-8 one";
  }
  const std::string path = JoinPath(directory, "cnf.INI");

  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_1_TYPE", "2"));
  // The system finds it under the same ANSI name, and under the wide one.
  EXPECT_EQ(ReadAnsi(path), "[COMTypeTRK]\r\nCOM_1_TYPE=2\r\n");
  EXPECT_NE(GetFileAttributesW(WidePath(path).c_str()), INVALID_FILE_ATTRIBUTES);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "\\*.INI").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(found.cFileName, "cnf.INI");
  EXPECT_FALSE(FindNextFileA(search, &found));  // and no temporary file is left
  FindClose(search);

  // A file the system wrote there reads back, and is replaced in place.
  ASSERT_TRUE(WritePrivateProfileStringA("Other", "Key", "kept", path.c_str()));
  ASSERT_TRUE(IniFile(path).Write("COMTypeTRK", "COM_1_TYPE", "3"));
  EXPECT_EQ(IniFile(path).Read("COMTypeTRK", "COM_1_TYPE"), "3");
  EXPECT_EQ(IniFile(path).Read("Other", "Key"), "kept");
}

TEST_F(WindowsFilesTest, PathsBeyondMaxPathWork) {
  // Nested directories making the file's path about 400 characters long.
  std::string directory = Dir();
  while (directory.size() < 380) {
    directory += "\\" + std::string(40, 'd');
    ASSERT_TRUE(CreateDirectoryW(WidePath(directory).c_str(), nullptr)) << directory.size();
  }
  const std::string path = JoinPath(directory, "cnf.INI");
  ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));

  std::string text;
  EXPECT_EQ(ReadWholeFile(path, text), ReadResult::Missing);
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_7_IMPL", "55"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_7_TYPE", "1"));
  ASSERT_EQ(ReadWholeFile(path, text), ReadResult::Ok);
  EXPECT_EQ(text, "[COMTypeTRK]\r\nCOM_7_IMPL=55\r\nCOM_7_TYPE=1\r\n");
  EXPECT_EQ(IniFile(path).Read("COMTypeTRK", "COM_7_IMPL"), "55");
  // Cleaned up here: the test's directory removal goes through the same
  // extended names.
  ASSERT_TRUE(DeleteFileW(WidePath(path).c_str()));
  while (directory.size() > Dir().size()) {
    ASSERT_TRUE(RemoveDirectoryW(WidePath(directory).c_str()));
    directory.resize(directory.rfind('\\'));
  }
}

TEST_F(WindowsFilesTest, OneConversionForEveryFormOfPath) {
  const std::wstring full = WidePath(Dir() + "/a/../cnf.INI");
  EXPECT_EQ(full.rfind(L"\\\\?\\", 0), 0u);
  EXPECT_EQ(full.find(L'/'), std::wstring::npos);
  EXPECT_EQ(full.find(L".."), std::wstring::npos);
  EXPECT_EQ(full, WidePath(Dir() + "\\cnf.INI"));
  EXPECT_EQ(WidePath("\\\\server\\share\\cnf.INI"), L"\\\\?\\UNC\\server\\share\\cnf.INI");
  EXPECT_EQ(WidePath("\\\\?\\C:\\x\\cnf.INI"), L"\\\\?\\C:\\x\\cnf.INI");
  EXPECT_EQ(WidePath(""), L"");
}

TEST_F(WindowsFilesTest, AFailedReplaceLeavesTheFileAndNoTemporaryFile) {
  const std::string path = JoinPath(Dir(), "cnf.INI");
  test::WriteBytes(path, "[S]\r\nA=1\r\n");
  // The file is open without sharing: it can be neither read nor replaced.
  HANDLE locked = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceWholeFile(path, "[S]\r\nA=2\r\n"));
  CloseHandle(locked);
  EXPECT_EQ(test::ReadBytes(path), "[S]\r\nA=1\r\n");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((Dir() + "\\*.vu30tmp.*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

}  // namespace
}  // namespace vu30::platform
