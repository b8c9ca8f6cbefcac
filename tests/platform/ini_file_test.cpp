// SPDX-License-Identifier: MIT
// The INI reader and writer: Windows-style lookups and integers, and writes
// that leave every other byte of the file as it was.
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "temp_dir.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace vu30::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& bytes, const std::string& name = "cnf.INI") {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  // Files in the directory (to find temporary files left behind).
  std::size_t FileCount() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_.Path())) ++n;
    return n;
  }

  TempDir dir_;
};

// ---- Reading -------------------------------------------------------------------

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndIsNotCreated) {
  const std::string path = dir_.File("cnf.INI");
  IniFile file(path);
  EXPECT_EQ(file.Path(), path);
  EXPECT_FALSE(file.Read("COMTypeTRK", "COM_0_TYPE").has_value());
  EXPECT_FALSE(file.ReadInteger("COMTypeTRK", "COM_0_TYPE").has_value());
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(IniFileTest, DirectoryInsteadOfAFileReadsAsEmpty) {
  fs::create_directory(dir_.Path() / "cnf.INI");
  IniFile file(dir_.File("cnf.INI"));
  EXPECT_FALSE(file.Read("a", "b").has_value());
}

TEST_F(IniFileTest, NamesAreCaseInsensitiveAndBlanksAreRemoved) {
  IniFile file(Make("[ComTypeTrk]\n  com_3_type  =  1  \n\tCOM_3_IMPL\t=\t50\t\n"));
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_3_TYPE"), "1");
  EXPECT_EQ(file.Read("comtypetrk", "com_3_impl"), "50");
  EXPECT_FALSE(file.Read("COMTypeTRK", "COM_3").has_value());
  EXPECT_FALSE(file.Read("Other", "COM_3_TYPE").has_value());
}

TEST_F(IniFileTest, CrlfLinesReadWithoutTheCarriageReturn) {
  IniFile file(Make("[S]\r\nA=1\r\nB=text\r\n"));
  EXPECT_EQ(file.Read("S", "A"), "1");
  EXPECT_EQ(file.Read("S", "B"), "text");
}

TEST_F(IniFileTest, CommentsKeysOutsideSectionsAndPlainLinesAreNotKeys) {
  IniFile file(Make("A=0\n[S]\n;A=1\nplain line\n=5\n[T]\nA=2\n"));
  EXPECT_FALSE(file.Read("S", "A").has_value());
  EXPECT_EQ(file.Read("T", "A"), "2");
}

TEST_F(IniFileTest, OnlyTheFirstSectionOfANameAndTheFirstKeyCount) {
  IniFile file(Make("[S]\nA=1\nA=2\n[T]\n[s]\nA=3\nB=4\n"));
  EXPECT_EQ(file.Read("S", "A"), "1");
  EXPECT_FALSE(file.Read("S", "B").has_value());
}

TEST_F(IniFileTest, ValuesKeepInnerBlanksAndLoseOnePairOfQuotes) {
  IniFile file(Make("[S]\nA=  two words  \nB=\"quoted\"\nC='x'\nD=\"half\nE=\nF==x\n"));
  EXPECT_EQ(file.Read("S", "A"), "two words");
  EXPECT_EQ(file.Read("S", "B"), "quoted");
  EXPECT_EQ(file.Read("S", "C"), "x");
  EXPECT_EQ(file.Read("S", "D"), "\"half");
  EXPECT_EQ(file.Read("S", "E"), "");
  EXPECT_EQ(file.Read("S", "F"), "=x");
}

TEST_F(IniFileTest, LastLineWithoutLineEndAndByteOrderMark) {
  IniFile file(Make("\xEF\xBB\xBF[S]\nA=7"));
  EXPECT_EQ(file.Read("S", "A"), "7");
}

TEST_F(IniFileTest, Cp1251TextPassesUnchanged) {
  IniFile file(Make("[\xD2\xD0\xCA]\nName=\xC5\xD1-2000\n"));  // [ТРК] Name=ЕС-2000
  EXPECT_EQ(file.Read("\xD2\xD0\xCA", "Name"), "\xC5\xD1-2000");
}

// ---- Integers ---------------------------------------------------------------------

struct IntegerCase {
  const char* text;
  std::optional<long long> value;
};

void PrintTo(const IntegerCase& c, std::ostream* out) {
  *out << "'" << c.text << "' -> ";
  if (c.value) {
    *out << *c.value;
  } else {
    *out << "none";
  }
}

class IniIntegerTest : public IniFileTest, public ::testing::WithParamInterface<IntegerCase> {};

TEST_P(IniIntegerTest, ReadsOnlyWholeNumbersWithin32Bits) {
  const IntegerCase& c = GetParam();
  IniFile file(Make(std::string("[S]\nK=") + c.text + "\n"));
  EXPECT_EQ(file.ReadInteger("S", "K"), c.value) << "value text '" << c.text << "'";
}

// Anything but a whole number within 32 bits is no integer: the caller's
// default applies, never leading digits or a wrapped value.
INSTANTIATE_TEST_SUITE_P(
    Cases, IniIntegerTest,
    ::testing::Values(IntegerCase{"0", 0}, IntegerCase{"300", 300}, IntegerCase{"-1", -1},
                      IntegerCase{"+5", 5}, IntegerCase{"  42  ", 42}, IntegerCase{"007", 7},
                      IntegerCase{"\"25\"", 25}, IntegerCase{"2147483647", 2147483647LL},
                      IntegerCase{"-2147483648", -2147483648LL},
                      IntegerCase{"2147483648", std::nullopt},
                      IntegerCase{"-2147483649", std::nullopt},
                      IntegerCase{"4294967296", std::nullopt},
                      IntegerCase{"99999999999999999999999", std::nullopt},
                      IntegerCase{"12abc", std::nullopt}, IntegerCase{"1 ; note", std::nullopt},
                      IntegerCase{"3 4", std::nullopt}, IntegerCase{"0x10", std::nullopt},
                      IntegerCase{"1.5", std::nullopt}, IntegerCase{"abc", std::nullopt},
                      IntegerCase{"", std::nullopt}, IntegerCase{"-", std::nullopt},
                      IntegerCase{"- 1", std::nullopt}, IntegerCase{"--1", std::nullopt}));

TEST_F(IniFileTest, MissingKeyIsNotAnInteger) {
  IniFile file(Make("[S]\nK=1\n"));
  EXPECT_FALSE(file.ReadInteger("S", "L").has_value());
  EXPECT_FALSE(file.ReadInteger("T", "K").has_value());
}

// ---- Writing ------------------------------------------------------------------------

TEST_F(IniFileTest, ReplacingAValueChangesOnlyThoseBytes) {
  const std::string before =
      "; the host's settings\r\n"
      "[Drivers]\r\n"
      "VU28 = vu28.dll ; not a comment for Windows\r\n"
      "\r\n"
      "[COMTypeTRK]\r\n"
      "  COM_5_TYPE =  2   \r\n"
      "COM_5_IMPL=100\r\n"
      "; trailing comment\r\n"
      "\r\n"
      "[Other]\r\n"
      "COM_5_TYPE=9\r\n";
  const std::string path = Make(before);
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_5_TYPE", "1"));
  ASSERT_TRUE(file.Write("comtypetrk", "com_5_impl", "50"));
  const std::string after =
      "; the host's settings\r\n"
      "[Drivers]\r\n"
      "VU28 = vu28.dll ; not a comment for Windows\r\n"
      "\r\n"
      "[COMTypeTRK]\r\n"
      "  COM_5_TYPE =  1   \r\n"
      "COM_5_IMPL=50\r\n"
      "; trailing comment\r\n"
      "\r\n"
      "[Other]\r\n"
      "COM_5_TYPE=9\r\n";
  EXPECT_EQ(ReadBytes(path), after);
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_5_TYPE"), "1");
  EXPECT_EQ(IniFile(path).Read("COMTypeTRK", "COM_5_IMPL"), "50");
}

TEST_F(IniFileTest, NewKeyGoesAfterTheSectionsLastKeyWithTheFilesLineEnding) {
  const std::string path = Make(
      "[COMTypeTRK]\r\n"
      "COM_0_TYPE=0\r\n"
      "; about port 1\r\n"
      "COM_1_TYPE=1\r\n"
      "\r\n"
      "; about the next section\r\n"
      "[Next]\r\n"
      "X=1\r\n");
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_2_TYPE", "3"));
  EXPECT_EQ(ReadBytes(path),
            "[COMTypeTRK]\r\n"
            "COM_0_TYPE=0\r\n"
            "; about port 1\r\n"
            "COM_1_TYPE=1\r\n"
            "COM_2_TYPE=3\r\n"
            "\r\n"
            "; about the next section\r\n"
            "[Next]\r\n"
            "X=1\r\n");
}

TEST_F(IniFileTest, NewKeyInASectionWithoutKeysFollowsTheHeader) {
  const std::string path = Make("[A]\n[COMTypeTRK]\n\n[B]\nY=2");
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_7_IMPL", "100"));
  EXPECT_EQ(ReadBytes(path), "[A]\n[COMTypeTRK]\nCOM_7_IMPL=100\n\n[B]\nY=2");
}

TEST_F(IniFileTest, NewKeyAfterAnUnterminatedLastLine) {
  const std::string path = Make("[S]\r\nA=1");
  IniFile file(path);
  ASSERT_TRUE(file.Write("S", "B", "2"));
  EXPECT_EQ(ReadBytes(path), "[S]\r\nA=1\r\nB=2\r\n");
}

TEST_F(IniFileTest, NewSectionIsAppendedInTheFilesStyle) {
  const std::string crlf = Make("[Drivers]\r\nA=1\r\n", "crlf.ini");
  ASSERT_TRUE(IniFile(crlf).Write("COMTypeTRK", "COM_5_TYPE", "1"));
  EXPECT_EQ(ReadBytes(crlf), "[Drivers]\r\nA=1\r\n\r\n[COMTypeTRK]\r\nCOM_5_TYPE=1\r\n");

  const std::string lf = Make("[Drivers]\nA=1", "lf.ini");
  ASSERT_TRUE(IniFile(lf).Write("COMTypeTRK", "COM_5_TYPE", "1"));
  EXPECT_EQ(ReadBytes(lf), "[Drivers]\nA=1\n\n[COMTypeTRK]\nCOM_5_TYPE=1\n");

  const std::string blankEnd = Make("[Drivers]\nA=1\n\n", "blank.ini");
  ASSERT_TRUE(IniFile(blankEnd).Write("COMTypeTRK", "COM_5_TYPE", "1"));
  EXPECT_EQ(ReadBytes(blankEnd), "[Drivers]\nA=1\n\n[COMTypeTRK]\nCOM_5_TYPE=1\n");
}

TEST_F(IniFileTest, WritingCreatesAMissingFile) {
  const std::string path = dir_.File("cnf.INI");
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_0_TYPE", "2"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_0_IMPL", "100"));
#if defined(_WIN32)
  EXPECT_EQ(ReadBytes(path), "[COMTypeTRK]\r\nCOM_0_TYPE=2\r\nCOM_0_IMPL=100\r\n");
#else
  EXPECT_EQ(ReadBytes(path), "[COMTypeTRK]\nCOM_0_TYPE=2\nCOM_0_IMPL=100\n");
#endif
}

TEST_F(IniFileTest, KeyInALaterSectionOfTheSameNameIsNotUpdated) {
  const std::string path = Make("[S]\nA=1\n[T]\n[S]\nB=2\n");
  ASSERT_TRUE(IniFile(path).Write("S", "B", "3"));
  EXPECT_EQ(ReadBytes(path), "[S]\nA=1\nB=3\n[T]\n[S]\nB=2\n");
}

TEST_F(IniFileTest, EveryWriteReachesTheFileAndKeepsChangesMadeMeanwhile) {
  const std::string path = Make("[S]\nA=1\n");
  IniFile file(path);
  ASSERT_TRUE(file.Write("S", "A", "2"));
  EXPECT_EQ(ReadBytes(path), "[S]\nA=2\n");
  // Another program adds a key; the next write keeps it.
  WriteBytes(path, "[S]\nA=2\n[Theirs]\nZ=9\n");
  ASSERT_TRUE(file.Write("S", "B", "3"));
  EXPECT_EQ(ReadBytes(path), "[S]\nA=2\nB=3\n[Theirs]\nZ=9\n");
  EXPECT_EQ(file.Read("Theirs", "Z"), "9");
}

TEST_F(IniFileTest, NoTemporaryFileIsLeftBehind) {
  const std::string path = Make("[S]\nA=1\n");
  IniFile file(path);
  for (int i = 0; i < 20; ++i) {
    std::string key = "K";  // appended: GCC 12 warns falsely (-Wrestrict) on "K" + std::string
    key += std::to_string(i);
    ASSERT_TRUE(file.Write("S", key, "v"));
  }
  EXPECT_EQ(FileCount(), 1u);
  EXPECT_FALSE(file.Write("S", "bad\nkey", "v"));
  EXPECT_FALSE(IniFile(dir_.File("missing/cnf.INI")).Write("S", "A", "1"));
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(IniFileTest, RefusedNamesAndValuesLeaveTheFileUnchanged) {
  const std::string before = "[S]\nA=1\n";
  const std::string path = Make(before);
  IniFile file(path);
  EXPECT_FALSE(file.Write("", "A", "1"));
  EXPECT_FALSE(file.Write("S", "", "1"));
  EXPECT_FALSE(file.Write("S]", "A", "1"));
  EXPECT_FALSE(file.Write("S", "A=B", "1"));
  EXPECT_FALSE(file.Write("S", ";A", "1"));
  EXPECT_FALSE(file.Write("S", "[A", "1"));
  EXPECT_FALSE(file.Write(" S", "A", "1"));
  EXPECT_FALSE(file.Write("S", "A ", "1"));
  EXPECT_FALSE(file.Write("S", "A", "1\r\nB=2"));
  EXPECT_FALSE(file.Write("S\n", "A", "1"));
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(IniFileTest, WriteFailsWhenTheDirectoryIsMissing) {
  const std::string path = dir_.File("no-such-dir/cnf.INI");
  IniFile file(path);
  EXPECT_FALSE(file.Write("S", "A", "1"));
  EXPECT_FALSE(fs::exists(dir_.Path() / "no-such-dir"));
}

TEST_F(IniFileTest, WriteFailsWhenThePathIsADirectory) {
  fs::create_directory(dir_.Path() / "cnf.INI");
  IniFile file(dir_.File("cnf.INI"));
  EXPECT_FALSE(file.Write("S", "A", "1"));
  EXPECT_TRUE(fs::is_directory(dir_.Path() / "cnf.INI"));
}

#if !defined(_WIN32)
// A write that fails part-way (here: the process may not grow a file beyond a
// few bytes, which holds for root too) leaves the old file and no temporary.
TEST_F(IniFileTest, AWriteThatFailsPartWayLeavesTheFileIntact) {
  const std::string before = "[S]\nA=1\n";
  const std::string path = Make(before);
  const std::size_t files = FileCount();
  IniFile file(path);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = before.size();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = file.Write("S", {{"A", "2"}, {"B", "a value longer than the limit"}});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(file.Read("S", "A"), "1");
  EXPECT_EQ(FileCount(), files);
}

TEST_F(IniFileTest, TheFileKeepsItsPermissions) {
  const std::string path = Make("[S]\nA=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(IniFile(path).Write("S", "A", "2"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, ASymbolicLinkIsFollowedAndKept) {
  const std::string target = Make("[S]\nA=1\n", "real.ini");
  const std::string link = dir_.File("cnf.INI");
  fs::create_symlink(target, link);
  ASSERT_TRUE(IniFile(link).Write("S", "A", "2"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "[S]\nA=2\n");
}
#endif

TEST_F(IniFileTest, RoundTripOfABigForeignFile) {
  // Foreign content of every kind around the section, in CRLF.
  std::string before =
      "\xEF\xBB\xBF; cnf.INI of the station\r\n"
      "\r\n"
      "[Station]\r\n"
      "Name=\xC0\xC7\xD1 \xB9"
      "5\r\n"
      "   Indented = yes\r\n"
      "NoEquals\r\n"
      "\t\r\n"
      "[COMTypeTRK]\r\n"
      ";COM_0_TYPE=3\r\n"
      "COM_0_TYPE=1\r\n"
      "COM_0_IMPL=abc\r\n"
      "COM_29_IMPL = 255\r\n"
      "Foreign_Key=keep me\r\n"
      "[Tail]\r\n"
      "Last=1";
  const std::string path = Make(before);
  IniFile file(path);
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_0_TYPE", "0"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_0_IMPL", "100"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_29_IMPL", "7"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_30_TYPE", "2"));
  const std::string expected =
      "\xEF\xBB\xBF; cnf.INI of the station\r\n"
      "\r\n"
      "[Station]\r\n"
      "Name=\xC0\xC7\xD1 \xB9"
      "5\r\n"
      "   Indented = yes\r\n"
      "NoEquals\r\n"
      "\t\r\n"
      "[COMTypeTRK]\r\n"
      ";COM_0_TYPE=3\r\n"
      "COM_0_TYPE=0\r\n"
      "COM_0_IMPL=100\r\n"
      "COM_29_IMPL = 7\r\n"
      "Foreign_Key=keep me\r\n"
      "COM_30_TYPE=2\r\n"
      "[Tail]\r\n"
      "Last=1";
  EXPECT_EQ(ReadBytes(path), expected);
  // Writing the same values again changes nothing.
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_0_TYPE", "0"));
  ASSERT_TRUE(file.Write("COMTypeTRK", "COM_30_TYPE", "2"));
  EXPECT_EQ(ReadBytes(path), expected);
}

}  // namespace
}  // namespace vu30::platform
