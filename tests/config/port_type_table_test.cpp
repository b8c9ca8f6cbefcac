// SPDX-License-Identifier: MIT
// The port type table, its file cnf.INI and its lookup.
#include "config/port_type_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../support/temp_dir.h"
#include "../support/windows_directory_override.h"

namespace vu30::config {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class PortTypeTableTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("cnf.INI"); }

  TempDir dir_;
  PortTypeTable table_;
};

TEST_F(PortTypeTableTest, AtLibraryLoadEveryPortIsNotInUse) {
  for (int port = 0; port <= 30; ++port) {
    EXPECT_EQ(table_.GetPortType(static_cast<uint8_t>(port)), kPortNotInUse) << port;
    EXPECT_EQ(table_.TrkType(port), 0);
    EXPECT_EQ(table_.Impl(port), 0);
    EXPECT_FALSE(table_.InUse(port));
  }
}

TEST_F(PortTypeTableTest, LookupAboveThirtyFails) {
  for (int port = 31; port <= 255; ++port) {
    EXPECT_EQ(table_.GetPortType(static_cast<uint8_t>(port)), kPortLookupFailed) << port;
  }
}

TEST_F(PortTypeTableTest, WithoutAFileEveryEntryLoadsTheDefaults) {
  table_.Load(Path());
  EXPECT_FALSE(fs::exists(Path()));  // not created
  for (int port = 0; port <= 30; ++port) {
    EXPECT_EQ(table_.TrkType(port), kTypeEC2000) << port;
    EXPECT_EQ(table_.Impl(port), kDefaultImpl) << port;
    EXPECT_FALSE(table_.InUse(port));
    EXPECT_EQ(table_.GetPortType(static_cast<uint8_t>(port)), kPortNotInUse);
    table_.MarkInUse(port);
    EXPECT_EQ(table_.GetPortType(static_cast<uint8_t>(port)), kTypeEC2000);
  }
}

TEST_F(PortTypeTableTest, StoredTypeShowsOnceThePostIsOpened) {
  WriteBytes(Path(), "[COMTypeTRK]\r\nCOM_3_TYPE=1\r\nCOM_3_IMPL=50\r\n");
  table_.Load(Path());
  EXPECT_EQ(table_.GetPortType(3), kPortNotInUse);
  table_.MarkInUse(3);
  EXPECT_EQ(table_.GetPortType(3), kTypeFAS);
  EXPECT_EQ(table_.Impl(3), 50);
  EXPECT_EQ(table_.TrkType(4), 0);
  EXPECT_EQ(table_.Impl(4), 100);
}

TEST_F(PortTypeTableTest, ValuesKeepTheirLowEightBits) {
  WriteBytes(Path(),
             "[COMTypeTRK]\n"
             "COM_0_TYPE=300\nCOM_0_IMPL=300\n"
             "COM_1_TYPE=-1\nCOM_1_IMPL=-1\n"
             "COM_2_TYPE=256\nCOM_2_IMPL=256\n"
             "COM_3_TYPE=abc\nCOM_3_IMPL=abc\n"
             "COM_4_TYPE=7\nCOM_4_IMPL=0\n"
             "COM_5_TYPE=\nCOM_5_IMPL=\n"
             "COM_6_TYPE=4294967298\nCOM_6_IMPL=+255\n"
             "COM_7_TYPE=12abc\nCOM_7_IMPL=1 ; note\n");
  table_.Load(Path());
  EXPECT_EQ(table_.TrkType(0), 44);
  EXPECT_EQ(table_.Impl(0), 44);
  EXPECT_EQ(table_.TrkType(1), 255);
  EXPECT_EQ(table_.Impl(1), 255);
  EXPECT_EQ(table_.TrkType(2), 0);
  EXPECT_EQ(table_.Impl(2), 0);
  EXPECT_EQ(table_.TrkType(3), 0);  // not an integer: the default
  EXPECT_EQ(table_.Impl(3), 100);
  EXPECT_EQ(table_.TrkType(4), 7);  // outside 0..3: kept
  EXPECT_EQ(table_.Impl(4), 0);     // 0 loads as 0
  EXPECT_EQ(table_.TrkType(5), 0);
  EXPECT_EQ(table_.Impl(5), 100);
  EXPECT_EQ(table_.TrkType(6), 0);  // beyond 32 bits: not an integer
  EXPECT_EQ(table_.Impl(6), 255);
  EXPECT_EQ(table_.TrkType(7), 0);  // leading digits are not an integer either
  EXPECT_EQ(table_.Impl(7), 100);
  table_.MarkInUse(4);
  EXPECT_EQ(table_.GetPortType(4), 7);
  table_.MarkInUse(1);
  EXPECT_EQ(table_.GetPortType(1), 255);  // a stored 255 is returned as it is
}

TEST_F(PortTypeTableTest, PortThirtyIsLoadedSavedAndLookedUpLikeTheOthers) {
  table_.Load(Path());
  EXPECT_EQ(table_.TrkType(30), 0);
  EXPECT_EQ(table_.Impl(30), 100);
  table_.MarkInUse(30);
  EXPECT_EQ(table_.GetPortType(30), 0);

  WriteBytes(Path(), "[COMTypeTRK]\nCOM_30_TYPE=3\nCOM_30_IMPL=80\n");
  table_.Load(Path());
  EXPECT_FALSE(table_.InUse(30));  // cleared by the load
  EXPECT_EQ(table_.GetPortType(30), kPortNotInUse);
  table_.MarkInUse(30);
  EXPECT_EQ(table_.GetPortType(30), 3);
  EXPECT_EQ(table_.Impl(30), 80);
  table_.SetImpl(30, 90);
  ASSERT_TRUE(table_.Save(Path()));
  EXPECT_EQ(ReadBytes(Path()), "[COMTypeTRK]\nCOM_30_TYPE=3\nCOM_30_IMPL=90\n");
}

TEST_F(PortTypeTableTest, LoadClearsEveryInUseMarkButThoseLiveDriversHold) {
  for (int port = 0; port <= 30; ++port) table_.MarkInUse(port);
  table_.Hold(3);  // a live driver object opened post 3
  table_.Load(Path());
  for (int port = 0; port <= 30; ++port) EXPECT_EQ(table_.InUse(port), port == 3) << port;
  table_.Release(3);  // that driver is gone: its mark goes at the next load
  EXPECT_TRUE(table_.InUse(3));
  table_.Load(Path());
  EXPECT_FALSE(table_.InUse(3));
}

// Only entries in use are written; the bytes around them are the INI
// writer's to keep (ini_file_test).
TEST_F(PortTypeTableTest, SaveWritesOnlyTheEntriesInUse) {
  WriteBytes(Path(), "[COMTypeTRK]\r\nCOM_4_TYPE=2\r\nCOM_4_IMPL=70\r\nCOM_5_TYPE = 0\r\n");
  table_.Load(Path());
  table_.MarkInUse(5);
  table_.SetTrkType(5, kTypeER112);
  table_.SetImpl(5, 25);
  table_.SetTrkType(4, 1);  // changed, but not in use: not written
  ASSERT_TRUE(table_.Save(Path()));
  EXPECT_EQ(ReadBytes(Path()),
            "[COMTypeTRK]\r\nCOM_4_TYPE=2\r\nCOM_4_IMPL=70\r\nCOM_5_TYPE = 3\r\nCOM_5_IMPL=25\r\n");
}

TEST_F(PortTypeTableTest, SaveWritesTypeThenImplInPortOrder) {
  table_.Load(Path());
  for (const int port : {29, 0, 12}) table_.MarkInUse(port);
  table_.SetTrkType(12, 2);
  ASSERT_TRUE(table_.Save(Path()));
  const std::string nl =
#if defined(_WIN32)
      "\r\n";
#else
      "\n";
#endif
  EXPECT_EQ(ReadBytes(Path()), "[COMTypeTRK]" + nl + "COM_0_TYPE=0" + nl + "COM_0_IMPL=100" + nl +
                                   "COM_12_TYPE=2" + nl + "COM_12_IMPL=100" + nl + "COM_29_TYPE=0" +
                                   nl + "COM_29_IMPL=100" + nl);
}

TEST_F(PortTypeTableTest, SaveWithNothingInUseWritesNothing) {
  table_.Load(Path());
  EXPECT_TRUE(table_.Save(Path()));
  EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(PortTypeTableTest, ChangesReachTheTableOnlyWithTheFileInOneWrite) {
  const std::string path = dir_.File("missing-dir/cnf.INI");
  table_.Load(path);
  table_.MarkInUse(2);
  table_.MarkInUse(4);
  EXPECT_FALSE(table_.Save(path, {{2, 1, 60}, {4, 3, 20}}));
  EXPECT_EQ(table_.TrkType(2), 0);  // nothing changed
  EXPECT_EQ(table_.Impl(4), 100);
  EXPECT_FALSE(fs::exists(dir_.Path() / "missing-dir"));

  ASSERT_TRUE(table_.Save(Path(), {{2, 1, 60}, {4, 3, 20}}));
  EXPECT_EQ(table_.TrkType(2), 1);
  EXPECT_EQ(table_.Impl(4), 20);
#if defined(_WIN32)
  const std::string eol = "\r\n";  // a new file takes the platform's line ending
#else
  const std::string eol = "\n";
#endif
  EXPECT_EQ(ReadBytes(Path()), "[COMTypeTRK]" + eol + "COM_2_TYPE=1" + eol + "COM_2_IMPL=60" + eol +
                                   "COM_4_TYPE=3" + eol + "COM_4_IMPL=20" + eol);
}

TEST_F(PortTypeTableTest, SavedTableLoadsBack) {
  table_.Load(Path());
  for (int port = 0; port <= 30; ++port) {
    table_.MarkInUse(port);
    table_.SetTrkType(port, static_cast<uint8_t>(port % 4));
    table_.SetImpl(port, static_cast<uint8_t>(port * 8 + 1));
  }
  ASSERT_TRUE(table_.Save(Path()));
  PortTypeTable other;
  other.Load(Path());
  for (int port = 0; port <= 30; ++port) {
    EXPECT_EQ(other.TrkType(port), port % 4);
    EXPECT_EQ(other.Impl(port), port * 8 + 1);
    EXPECT_FALSE(other.InUse(port));
  }
}

TEST_F(PortTypeTableTest, ResetGoesBackToTheStateOfLibraryLoad) {
  WriteBytes(Path(), "[COMTypeTRK]\nCOM_1_TYPE=2\n");
  table_.Load(Path());
  table_.MarkInUse(1);
  table_.Reset();
  for (int port = 0; port <= 30; ++port) {
    EXPECT_EQ(table_.TrkType(port), 0);
    EXPECT_EQ(table_.Impl(port), 0);
    EXPECT_EQ(table_.GetPortType(static_cast<uint8_t>(port)), kPortNotInUse);
  }
}

TEST_F(PortTypeTableTest, AccessorsRefusePortsWithoutAnEntry) {
  for (const int port : {-1, 31, 255}) {
    EXPECT_THROW(table_.MarkInUse(port), std::out_of_range) << port;
    EXPECT_THROW((void)table_.InUse(port), std::out_of_range);
    EXPECT_THROW((void)table_.TrkType(port), std::out_of_range);
    EXPECT_THROW((void)table_.Impl(port), std::out_of_range);
    EXPECT_THROW(table_.SetTrkType(port, 1), std::out_of_range);
    EXPECT_THROW(table_.SetImpl(port, 1), std::out_of_range);
  }
}

TEST_F(PortTypeTableTest, ReadersAndAWriterShareTheTableWithoutLocks) {
  table_.Load(Path());
  for (int port = 1; port <= 30; ++port) table_.MarkInUse(port);
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        for (int port = 1; port <= 30; ++port) {
          const uint8_t type = table_.GetPortType(static_cast<uint8_t>(port));
          EXPECT_LE(type, 3);
          (void)table_.Impl(port);
        }
      }
    });
  }
  for (int round = 0; round < 200; ++round) {
    for (int port = 1; port <= 30; ++port) {
      table_.SetTrkType(port, static_cast<uint8_t>(round % 4));
      table_.SetImpl(port, static_cast<uint8_t>(round));
    }
  }
  stop.store(true);
  for (auto& t : readers) t.join();
}

// The file in the Windows directory (WINDIR on POSIX, the test seam on
// Windows).
class WindirTest : public PortTypeTableTest {
 protected:
  test::WindowsDirectoryOverride windir_{dir_.Path().string()};
};

TEST_F(WindirTest, FileNameIsCnfIniInTheWindowsDirectory) {
  EXPECT_EQ(PortTypeTable::FileName(), (dir_.Path() / "cnf.INI").string());
}

TEST_F(WindirTest, LoadAndSaveUseTheWindowsDirectory) {
  WriteBytes(Path(), "[COMTypeTRK]\nCOM_9_TYPE=2\nCOM_9_IMPL=33\n");
  table_.Load();
  table_.MarkInUse(9);
  EXPECT_EQ(table_.GetPortType(9), 2);
  EXPECT_EQ(table_.Impl(9), 33);
  table_.SetImpl(9, 44);
  ASSERT_TRUE(table_.Save());
  EXPECT_EQ(ReadBytes(Path()), "[COMTypeTRK]\nCOM_9_TYPE=2\nCOM_9_IMPL=44\n");
}

TEST_F(WindirTest, TheLibraryWideTableIsOne) {
  PortTypeTable& table = PortTypes();
  EXPECT_EQ(&table, &PortTypes());
  table.Reset();
  EXPECT_EQ(table.GetPortType(1), kPortNotInUse);
  table.Load();
  table.MarkInUse(1);
  EXPECT_EQ(PortTypes().GetPortType(1), 0);
  table.Reset();
}

}  // namespace
}  // namespace vu30::config
