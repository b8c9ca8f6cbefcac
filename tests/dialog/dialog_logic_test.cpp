// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>

#include "config/port_type_dialog.h"
#include "fake_view.h"
#include "platform/ini_file.h"
#include "temp_windir.h"

namespace vu30::config {
namespace {

using testing::FakeView;
using vu30::test::TempWindir;

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() {
    table.Reset();
    testing::UseFakeView(form, &view);
  }

  // Opens the port with a type and factor, as post opening after a load would.
  void Open(int port, uint8_t type, uint8_t impl) {
    table.MarkInUse(port);
    table.SetTrkType(port, type);
    table.SetImpl(port, impl);
  }

  // Shows the dialog once; the operator's part runs while it is up.
  ModalResult Show(std::function<ModalResult(FakeView&)> operatorActs) {
    ModalResult result = ModalResult::kNone;
    form.SetViewFactory([&](TCOMTypeTRKForm& f) {
      auto v = std::make_unique<FakeView>(f);
      v->operatorActs = [&](FakeView& fv) { return result = operatorActs(fv); };
      view = v.get();
      return v;
    });
    EXPECT_TRUE(form.ShowDialog());
    return result;
  }

  TempWindir windir;
  PortTypeTable table;
  TCOMTypeTRKForm form{table};
  FakeView* view = nullptr;
};

TEST_F(DialogTest, FormShowListsPortsInUseInOrderWithEveryImpulsesCell) {
  Open(7, kTypeER112, 40);
  Open(0, kTypeEC2000, 0);
  Open(30, kTypeFAS, 55);
  Open(12, 9, 100);               // a code with no name
  table.SetTrkType(3, kTypeFAS);  // not in use: no row
  form.FormShow();
  const std::vector<PortTypeRow> expected = {
      {"0", "ЕС-2000", "0"}, {"7", "ER112", "40"}, {"12", "", "100"}, {"30", "FAS", "55"}};
  EXPECT_EQ(form.Rows(), expected);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->rows, expected);

  table.MarkInUse(3);
  form.FormShow();  // every showing rebuilds the rows
  EXPECT_EQ(form.Rows().size(), 5u);
  EXPECT_EQ(form.Rows()[1], (PortTypeRow{"3", "FAS", "0"}));
}

TEST_F(DialogTest, MouseUpOpensEditorsByColumnAndType) {
  Open(1, kTypeER32, 100);
  Open(2, kTypeFAS, 80);
  form.FormShow();
  form.LVMouseUp(100);  // no row selected: nothing opens
  EXPECT_FALSE(view->comboVisible);
  EXPECT_FALSE(view->spinVisible);

  view->selected = 1;
  for (int x : {0, 65, 185}) {  // W1 = 65, W2 = 120: borders open nothing
    form.LVMouseUp(x);
    EXPECT_FALSE(view->comboVisible) << x;
    EXPECT_FALSE(view->spinVisible) << x;
  }
  form.LVMouseUp(66);
  EXPECT_TRUE(view->comboVisible);
  EXPECT_EQ(view->comboTop, 20 + 17 + 8);  // the row's top plus the list's top
  EXPECT_EQ(view->comboIndex, kTypeFAS);
  EXPECT_EQ(view->dropDowns, 1);
  EXPECT_FALSE(view->spinVisible);

  form.LVMouseUp(186);  // the impulses column of a "FAS" row; the combo closes first
  EXPECT_FALSE(view->comboVisible);
  EXPECT_TRUE(view->spinVisible);
  EXPECT_EQ(view->spinTop, 45);
  EXPECT_EQ(view->spinText, "80");

  view->spinVisible = false;
  view->selected = 0;  // "ER3/2": no impulses editor
  form.LVMouseUp(186);
  EXPECT_FALSE(view->spinVisible);
  form.LVMouseUp(184);
  EXPECT_TRUE(view->comboVisible);
  EXPECT_EQ(view->comboTop, 28);
  EXPECT_EQ(view->comboIndex, kTypeER32);

  view->widths[1] = 30;  // the current widths count, not the initial ones
  view->comboVisible = false;
  form.LVMouseUp(40);
  EXPECT_TRUE(view->comboVisible);
}

TEST_F(DialogTest, ChoosingTypeEmptiesOrRefillsImpulses) {
  Open(4, kTypeER112, 33);
  form.FormShow();
  view->comboText = "ER3/2";
  form.cbTypeChange();  // no row selected
  EXPECT_EQ(form.Rows()[0].type, "ER112");

  view->selected = 0;
  view->comboVisible = true;
  form.cbTypeChange();
  EXPECT_EQ(form.Rows()[0], (PortTypeRow{"4", "ER3/2", ""}));
  EXPECT_EQ(view->rows[0], form.Rows()[0]);
  EXPECT_FALSE(view->comboVisible);

  table.SetImpl(4, 61);  // the table's current factor fills an empty cell
  view->comboText = "FAS";
  form.cbTypeChange();
  EXPECT_EQ(form.Rows()[0], (PortTypeRow{"4", "FAS", "61"}));

  view->spinText = "90";
  form.edImpExit();
  view->comboText = "ER112";
  form.cbTypeChange();  // a non-empty cell keeps its text
  EXPECT_EQ(form.Rows()[0].impulses, "90");

  view->comboText = "typed";
  form.cbTypeChange();
  EXPECT_EQ(form.Rows()[0], (PortTypeRow{"4", "typed", ""}));
}

TEST_F(DialogTest, SpinEditorExitEnterAndListChange) {
  Open(5, kTypeFAS, 10);
  form.FormShow();
  view->spinVisible = true;
  view->spinText = "200";
  form.edImpExit();  // no row: the editor still hides
  EXPECT_FALSE(view->spinVisible);
  EXPECT_EQ(form.Rows()[0].impulses, "10");

  view->selected = 0;
  view->spinVisible = true;
  form.edImpKeyDown(27);  // not Enter: nothing
  EXPECT_TRUE(view->spinVisible);
  EXPECT_EQ(form.Rows()[0].impulses, "10");
  form.edImpKeyDown(kKeyEnter);
  EXPECT_FALSE(view->spinVisible);
  EXPECT_EQ(form.Rows()[0].impulses, "200");
  EXPECT_EQ(view->rows[0].impulses, "200");

  view->spinVisible = true;
  view->comboVisible = true;
  form.cbTypeCloseUp();
  EXPECT_FALSE(view->comboVisible);
  EXPECT_TRUE(view->spinVisible);
  view->comboVisible = true;
  form.LVChange();
  EXPECT_FALSE(view->comboVisible);
  EXPECT_FALSE(view->spinVisible);
}

TEST_F(DialogTest, SaveStoresEveryRowAndWritesTheFile) {
  windir.WriteIni("[Other]\nKey=1\n[COMTypeTRK]\nCOM_9_TYPE=2\n");
  Open(1, kTypeER112, 20);
  Open(2, kTypeEC2000, 0);
  Open(3, kTypeFAS, 50);
  Open(30, kTypeER32, 100);
  table.SetTrkType(9, kTypeFAS);  // not in use: neither shown nor written
  const ModalResult result = Show([this](FakeView& v) {
    v.selected = 0;
    v.comboText = "ER3/2";  // port 1: the impulses cell empties
    form.cbTypeChange();
    v.selected = 2;
    v.spinText = "300";  // only the low 8 bits are stored
    form.edImpExit();
    v.selected = 3;
    v.comboText = "odd";  // not a name: stored as 255
    form.cbTypeChange();
    return form.BitBtn4Click() ? ModalResult::kOk : ModalResult::kNone;
  });
  EXPECT_EQ(result, ModalResult::kOk);
  EXPECT_TRUE(view->messages.empty());
  EXPECT_EQ(table.TrkType(1), kTypeER32);
  EXPECT_EQ(table.Impl(1), 100);
  EXPECT_EQ(table.TrkType(2), kTypeEC2000);
  EXPECT_EQ(table.Impl(2), 0);  // the shown factor is stored again
  EXPECT_EQ(table.Impl(3), 44);
  EXPECT_EQ(table.TrkType(30), 255);
  EXPECT_EQ(table.Impl(30), 100);
  EXPECT_TRUE(table.InUse(3));

  const platform::IniFile file(windir.Ini());
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_1_TYPE"), "2");
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_1_IMPL"), "100");
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_3_IMPL"), "44");
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_30_TYPE"), "255");
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_9_TYPE"), "2");
  EXPECT_EQ(file.Read("Other", "Key"), "1");
}

TEST_F(DialogTest, SaveRefusesARowWithoutWholeNumbersAndChangesNothing) {
  Open(2, kTypeFAS, 50);
  Open(6, kTypeER112, 70);
  windir.WriteIni("[COMTypeTRK]\nCOM_2_TYPE=1\n");
  const std::string before = windir.ReadIni();
  bool closed = true;
  Show([&](FakeView& v) {
    v.selected = 0;
    v.comboText = "ER3/2";  // a valid change in the first row
    form.cbTypeChange();
    v.selected = 1;
    v.spinText = "7x";
    form.edImpExit();
    closed = form.BitBtn4Click();
    return ModalResult::kCancel;
  });
  EXPECT_FALSE(closed);
  ASSERT_EQ(view->messages.size(), 1u);
  EXPECT_NE(view->messages[0].find("COM-порт 6"), std::string::npos);
  EXPECT_NE(view->messages[0].find("7x"), std::string::npos);
  EXPECT_EQ(table.TrkType(2), kTypeFAS);  // the earlier row did not reach the table
  EXPECT_EQ(table.Impl(6), 70);
  EXPECT_EQ(windir.ReadIni(), before);
}

TEST_F(DialogTest, AFileThatCannotBeWrittenChangesNothingAndKeepsTheDialogOpen) {
  Open(4, kTypeEC2000, 100);
  Open(7, kTypeFAS, 60);
  windir.PointAt((std::filesystem::path(windir.Dir()) / "missing" / "dir").string());
  bool closed = true;
  Show([&](FakeView& v) {
    v.selected = 0;
    v.comboText = "FAS";
    form.cbTypeChange();
    closed = form.BitBtn4Click();
    return ModalResult::kCancel;
  });
  EXPECT_FALSE(closed);
  ASSERT_EQ(view->messages.size(), 1u);
  EXPECT_NE(view->messages[0].find("не записан"), std::string::npos);
  EXPECT_EQ(table.TrkType(4), kTypeEC2000);  // neither the table nor the file changed
  EXPECT_EQ(table.Impl(7), 60);
}

TEST_F(DialogTest, CancelLeavesTableAndFileAndTheNextShowingStartsAfresh) {
  Open(3, kTypeER112, 12);
  Show([&](FakeView& v) {
    v.selected = 0;
    v.comboText = "ЕС-2000";
    form.cbTypeChange();
    return ModalResult::kCancel;
  });
  EXPECT_EQ(table.TrkType(3), kTypeER112);
  EXPECT_FALSE(std::filesystem::exists(windir.Ini()));
  form.FormShow();
  EXPECT_EQ(form.Rows()[0], (PortTypeRow{"3", "ER112", "12"}));
}

TEST_F(DialogTest, ShowDialogNeedsAViewAndDoesNotNest) {
  TCOMTypeTRKForm bare(table);
  EXPECT_FALSE(bare.ShowDialog());  // no factory yet
  bare.SetViewFactory([](TCOMTypeTRKForm&) { return nullptr; });
  EXPECT_FALSE(bare.ShowDialog());  // no screen
  EXPECT_FALSE(bare.HasView());

  bool inner = true;
  Show([&](FakeView&) {
    EXPECT_TRUE(form.Showing());
    inner = form.ShowDialog();
    return ModalResult::kCancel;
  });
  EXPECT_FALSE(inner);
  EXPECT_FALSE(form.Showing());
  EXPECT_EQ(view->messagesSent, 1);
  EXPECT_EQ(view->modalShows, 1);
}

TEST(WholeNumber, AcceptsOnlyDecimalIntegers) {
  EXPECT_EQ(ParseWholeNumber("12"), 12);
  EXPECT_EQ(ParseWholeNumber(" -3 "), -3);
  EXPECT_EQ(ParseWholeNumber("+7"), 7);
  for (const char* bad : {"", " ", "1.5", "12a", "+-1", "++1", "0x10", "99999999999"}) {
    EXPECT_EQ(ParseWholeNumber(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(TypeIndex("ER112"), 3);
  EXPECT_EQ(TypeIndex("ec-2000"), -1);
}

}  // namespace
}  // namespace vu30::config
