// SPDX-License-Identifier: MIT
// The Qt menu adapter that hosts hand to slot 24, driven through the C table
// as the driver drives it.
#include "qt_menu_items.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <stdexcept>

#include "config/menu_entry.h"

namespace vu30::hostqt {
namespace {

int clicks = 0;
void* clickedData = nullptr;
void VU30_CALL OnClick(void* data, void* /*sender*/) {
  ++clicks;
  clickedData = data;
}

TEST(QtMenuTreeTest, PresentsMenusAndCreatesItemsUnderThem) {
  QMenuBar bar;
  bar.addMenu(QStringLiteral("&Файл"))->addAction(QStringLiteral("Выход"));
  QMenu* trk = bar.addMenu(QStringLiteral("&ТРК"));
  trk->addAction(QStringLiteral("Обновить"));
  trk->addSeparator();
  QtMenuTree tree(&bar);
  Vu30MenuItem* root = tree.Root();
  const Vu30MenuItemTable& t = *root->table;

  ASSERT_EQ(t.Count(root), 2);
  Vu30MenuItem* trkItem = t.Item(root, 1);
  EXPECT_STREQ(t.Caption(trkItem), "\x26\xD2\xD0\xCA");
  EXPECT_EQ(t.Item(root, 1), trkItem);  // one item per action
  EXPECT_EQ(t.Count(trkItem), 2);
  EXPECT_STREQ(t.Caption(t.Item(trkItem, 1)), "-");
  EXPECT_EQ(t.Count(t.Item(trkItem, 0)), 0);
  EXPECT_THROW(t.Item(root, 2), std::out_of_range);
  EXPECT_THROW(t.Item(root, -1), std::out_of_range);

  Vu30MenuItem* added = QtMenuTree::CreateItem(trkItem, -1);
  t.SetCaption(added, "\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB");  // "Параметры"
  t.SetHint(added, "\xCF");
  t.SetHelpContext(added, 7);
  t.SetShortCut(added, 0x4000 | 'P');
  int driver = 0;
  t.SetOnClick(added, Vu30BoundMethod{reinterpret_cast<void*>(&OnClick), &driver});
  ASSERT_EQ(trk->actions().size(), 3);
  QAction* action = trk->actions().back();
  EXPECT_EQ(QtMenuTree::ActionOf(added), action);
  EXPECT_EQ(action->text(), QStringLiteral("Параметры"));
  EXPECT_EQ(action->statusTip(), QStringLiteral("П"));
  EXPECT_EQ(action->property("vu30HelpContext").toInt(), 7);
  EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
  t.SetShortCut(added, 0);
  EXPECT_TRUE(action->shortcut().isEmpty());
  EXPECT_THROW(t.SetShortCut(added, 0xFF), std::invalid_argument);  // no Qt key for it

  clicks = 0;
  action->trigger();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(clickedData, &driver);
  t.SetOnClick(added, Vu30BoundMethod{reinterpret_cast<void*>(&OnClick), nullptr});
  action->trigger();  // the handler is replaced, not added
  EXPECT_EQ(clicks, 2);

  QtMenuTree::CreateItem(trkItem, 0);  // inserted before the first action
  EXPECT_EQ(trk->actions().size(), 4);
  EXPECT_TRUE(trk->actions().front()->text().isEmpty());
  EXPECT_THROW(QtMenuTree::CreateItem(t.Item(trkItem, 1), -1), std::invalid_argument);  // no menu

  delete trk->actions().back();
  Vu30MenuItem* stale = added;
  EXPECT_THROW(t.SetCaption(stale, "x"), std::runtime_error);
}

TEST(QtMenuTreeTest, CarriesTheDriversMenuEntry) {
  vu30::config::ResetMenuEntry();
  QMenuBar bar;
  bar.addMenu(QStringLiteral("ТРК"));
  QMenu* trk = bar.addMenu(QStringLiteral("&ТРК"));
  QtMenuTree tree(&bar);
  int driver = 0;
  vu30::config::AddMenuEntry(tree.Root(), QtMenuTree::CreateItem, &driver);
  ASSERT_EQ(trk->actions().size(), 1);
  EXPECT_EQ(trk->actions()[0]->text(), QStringLiteral("Программирование параметров Trovelheim"));
  EXPECT_EQ(trk->actions()[0]->statusTip(), trk->actions()[0]->text());
  vu30::config::ResetMenuEntry();
}

}  // namespace
}  // namespace vu30::hostqt
