// SPDX-License-Identifier: MIT
// The Qt view of the port type dialog, offscreen: its widgets, message 1025
// showing it modally as a child of the host window, and an edit-and-save pass
// through real widget events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QFontInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <thread>

#include "config/host_window.h"
#include "config/port_type_dialog.h"
#include "config/qt/port_type_dialog_qt.h"
#include "platform/ini_file.h"
#include "temp_windir.h"

namespace vu30::config {
namespace {

using qt::ComTypeTrkDialog;

// Every column header is whole, the columns fit beside a vertical scroll bar,
// the port column is at least 65 pixels wide and the type combo lies over the
// type column.
void ExpectColumnsFit(const ComTypeTrkDialog& d) {
  const QTreeWidget* lv = d.LV;
  const QHeaderView* header = lv->header();
  for (int column = 1; column <= 3; ++column) {
    EXPECT_LE(header->sectionSizeHint(column), lv->columnWidth(column)) << "column " << column;
  }
  const int room = lv->width() - 2 * lv->frameWidth() -
                   lv->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lv);
  EXPECT_LE(
      lv->columnWidth(0) + lv->columnWidth(1) + lv->columnWidth(2) + header->sectionSizeHint(3),
      room);
  EXPECT_GE(lv->columnWidth(1), 65);
  const int typeLeft = lv->x() + lv->frameWidth() + lv->columnWidth(0) + lv->columnWidth(1);
  EXPECT_NEAR(d.cbType->x(), typeLeft, 4);
  EXPECT_GE(d.cbType->x() + d.cbType->width(), typeLeft + lv->columnWidth(2));
}

class QtViewTest : public ::testing::Test {
 protected:
  QtViewTest() {
    PortTypes().Reset();
    PortTypes().MarkInUse(2);
    PortTypes().SetImpl(2, 100);
    PortTypes().MarkInUse(5);
    PortTypes().SetTrkType(5, kTypeFAS);
    PortTypes().SetImpl(5, 40);
  }
  ~QtViewTest() override {
    COMTypeTRKForm.SetViewFactory(nullptr);
    PortTypes().Reset();
  }

  // Shows the dialog through the library-wide form; whileShown runs on the
  // modal dialog from the event loop and must close it.
  bool ShowAndRun(const std::function<void(ComTypeTrkDialog&)>& whileShown) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<ComTypeTrkDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      ran = true;
      whileShown(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    EXPECT_TRUE(COMTypeTRKForm.ShowDialog());
    return ran;
  }

  vu30::test::TempWindir windir;
};

TEST_F(QtViewTest, MessageShowsTheFormModallyAsTheHostWindowsChild) {
  QMainWindow host;
  AdoptHostWindow(&host);
  const bool ran = ShowAndRun([&](ComTypeTrkDialog& d) {
    EXPECT_TRUE(d.isModal());
    EXPECT_EQ(d.parentWidget(), &host);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Типы ТРК на COM-портах"));
    EXPECT_EQ(d.size(), QSize(264, 322));
    QTreeWidget* lv = d.LV;
    ASSERT_EQ(lv->columnCount(), 4);
    EXPECT_EQ(lv->headerItem()->text(0), QString());
    EXPECT_EQ(lv->headerItem()->text(1), QStringLiteral("COM-порт"));
    EXPECT_EQ(lv->headerItem()->text(2), QStringLiteral("Тип ТРК"));
    EXPECT_EQ(lv->headerItem()->text(3), QStringLiteral("Имп/л"));
    EXPECT_EQ(lv->columnWidth(0), 1);
    ExpectColumnsFit(d);
    // DejaVu Sans, the face of a fresh Debian machine, is far wider than
    // Tahoma: the columns follow the font and no header is cut.
    QFont dejaVu(QStringLiteral("DejaVu Sans"));
    dejaVu.setPixelSize(13);
    ASSERT_EQ(QFontInfo(dejaVu).family(), QStringLiteral("DejaVu Sans"));
    lv->setFont(dejaVu);
    ExpectColumnsFit(d);
    EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(lv->editTriggers(), QAbstractItemView::NoEditTriggers);
    ASSERT_EQ(lv->topLevelItemCount(), 2);
    EXPECT_EQ(lv->topLevelItem(1)->text(1), QStringLiteral("5"));
    EXPECT_EQ(lv->topLevelItem(1)->text(2), QStringLiteral("FAS"));
    EXPECT_EQ(lv->topLevelItem(1)->text(3), QStringLiteral("40"));

    EXPECT_TRUE(d.cbType->isEditable());
    EXPECT_TRUE(d.cbType->isHidden());
    ASSERT_EQ(d.cbType->count(), 4);
    EXPECT_EQ(d.cbType->itemText(0), QStringLiteral("ЕС-2000"));
    EXPECT_EQ(d.cbType->itemText(3), QStringLiteral("ER112"));
    EXPECT_EQ(d.edImp->minimum(), 1);
    EXPECT_EQ(d.edImp->maximum(), 255);
    EXPECT_TRUE(d.edImp->isHidden());
    EXPECT_TRUE(d.BitBtn4->isDefault());
    EXPECT_EQ(d.BitBtn4->text(), QStringLiteral("Сохранить"));
    EXPECT_EQ(d.BitBtn3->text(), QStringLiteral("Отменить"));
    EXPECT_EQ(d.Bevel1->geometry(), QRect(0, 281, 259, 2));

    // A click in the type column of a selected row drops the combo down there.
    lv->setCurrentItem(lv->topLevelItem(1));
    const int rowTop = lv->visualItemRect(lv->topLevelItem(1)).top();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(100, rowTop + 2),
                        QPointF(100, rowTop + 2), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(lv->viewport(), &release);
    EXPECT_TRUE(d.cbType->isVisible());
    EXPECT_EQ(d.cbType->currentIndex(), kTypeFAS);
    EXPECT_EQ(d.cbType->y(), rowTop + lv->viewport()->y() + lv->y());
    d.cbType->hidePopup();  // closing the list hides the combo
    EXPECT_TRUE(d.cbType->isHidden());
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(COMTypeTRKForm.Showing());
}

TEST_F(QtViewTest, CancelLeavesTheStationFileByteForByte) {
  const std::string before = "[Other]\r\nKey=1\r\n\r\n[COMTypeTRK]\r\nCOM_2_TYPE=0\r\n";
  windir.WriteIni(before);
  AdoptHostWindow(nullptr);
  for (int showing = 0; showing < 2; ++showing) {  // the second restores the placement
    EXPECT_TRUE(ShowAndRun([&](ComTypeTrkDialog& d) {
      d.LV->setCurrentItem(d.LV->topLevelItem(0));
      d.cbType->show();
      d.cbType->setCurrentIndex(kTypeFAS);
      d.BitBtn3->click();
    }));
  }
  EXPECT_EQ(windir.ReadIni(), before);
  EXPECT_EQ(PortTypes().TrkType(2), kTypeEC2000);
}

TEST_F(QtViewTest, EditAndSaveThroughTheWidgets) {
  AdoptHostWindow(nullptr);
  const bool ran = ShowAndRun([&](ComTypeTrkDialog& d) {
    QTreeWidget* lv = d.LV;
    // Choosing a type from the (visible) combo puts it into the row.
    lv->setCurrentItem(lv->topLevelItem(0));
    d.cbType->show();
    d.cbType->setCurrentIndex(kTypeER112);
    EXPECT_EQ(lv->topLevelItem(0)->text(2), QStringLiteral("ER112"));
    EXPECT_TRUE(d.cbType->isHidden());

    lv->setCurrentItem(lv->topLevelItem(1));
    const int rowTop = lv->visualItemRect(lv->topLevelItem(1)).top();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(200, rowTop + 2),
                        QPointF(200, rowTop + 2), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(lv->viewport(), &release);
    ASSERT_TRUE(d.edImp->isVisible());
    EXPECT_EQ(d.edImp->value(), 40);
    d.edImp->setValue(77);
    // Enter puts the value into the row; not consumed, it then reaches the
    // default button, which saves and closes.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(d.edImp, &enter);
    EXPECT_TRUE(d.edImp->isHidden());
    EXPECT_EQ(lv->topLevelItem(1)->text(3), QStringLiteral("77"));
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(PortTypes().Impl(5), 77);
  EXPECT_EQ(PortTypes().TrkType(2), kTypeER112);
  const platform::IniFile file(windir.Ini());
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_5_IMPL"), "77");
  EXPECT_EQ(file.Read("COMTypeTRK", "COM_2_TYPE"), "3");
}

TEST_F(QtViewTest, AForeignHostWindowPointerIsNotTrusted) {
  int notAWidget = 0;
  AdoptHostWindow(&notAWidget);
  const bool ran = ShowAndRun([](ComTypeTrkDialog& d) { EXPECT_EQ(d.parentWidget(), nullptr); });
  EXPECT_TRUE(ran);
}

// A host may call GetVU30 again, or off the toolkit's thread: the dialog made
// for the first host window is not touched there; the next showing, on the
// toolkit's thread, replaces it with one owned by the new window.
TEST_F(QtViewTest, AdoptingAWindowOffTheGuiThreadTouchesNoWidget) {
  QMainWindow first;
  QMainWindow second;
  AdoptHostWindow(&first);
  QPointer<ComTypeTrkDialog> shown;
  EXPECT_TRUE(ShowAndRun([&](ComTypeTrkDialog& d) { shown = &d; }));
  ASSERT_FALSE(shown.isNull());
  std::thread([&] { AdoptHostWindow(&second); }).join();
  EXPECT_FALSE(shown.isNull());  // still there: nothing was deleted off the GUI thread
  EXPECT_TRUE(ShowAndRun([&](ComTypeTrkDialog& d) { EXPECT_EQ(d.parentWidget(), &second); }));
  EXPECT_TRUE(shown.isNull());  // replaced on the GUI thread
}

}  // namespace
}  // namespace vu30::config

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The dialog's placement goes to per-user settings: keep it out of the
  // user's own while testing.
  QStandardPaths::setTestModeEnabled(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
