/* SPDX-License-Identifier: MIT */
// Qt menus as the driver sees host menu items: QtMenuTree presents a menu bar
// (or a menu) and the QActions below it through Vu30MenuItemTable, and
// CreateItem makes a new action under an item, for the driver's slot 24.
//
//   QtMenuTree tree(window.menuBar());
//   driver->table->AddMenuEntry(driver, tree.Root(), QtMenuTree::CreateItem);
//
// Captions cross in code page 1251. The tree must outlive every item handed
// out, and is used from the GUI thread only. Errors (an index out of range, an
// action deleted meanwhile, a shortcut with no Qt key) are thrown as C++
// exceptions derived from std::exception.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <memory>
#include <string>
#include <unordered_map>

#include "vu30.h"

class QString;

// Texts cross the driver boundary in code page 1251; Qt converts them.
QString FromCp1251(const char* text);
std::string ToCp1251(const QString& text);

class QAction;
class QWidget;

namespace vu30::hostqt {

class QtMenuTree {
 public:
  // root is a QMenuBar or QMenu; its actions are the root item's children.
  explicit QtMenuTree(QWidget* root);
  ~QtMenuTree();
  QtMenuTree(const QtMenuTree&) = delete;
  QtMenuTree& operator=(const QtMenuTree&) = delete;

  Vu30MenuItem* Root();
  // The item of an action (made on first use; one per action).
  Vu30MenuItem* ItemFor(QAction* action);
  // The action behind an item; null for the root or a deleted action.
  static QAction* ActionOf(Vu30MenuItem* item);

  // Vu30CreateItemFn: a new action in the menu of parent, appended for a
  // negative index, else inserted before the index-th action. The parent must
  // be the root or an action with a menu.
  static Vu30MenuItem* VU30_CALL CreateItem(Vu30MenuItem* parent, int32_t index);

  // Qt key combination of a shortcut in the host's encoding (virtual key in
  // the low byte; 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt); 0 is none.
  static int QtShortcut(int32_t shortCut);

 private:
  struct Item;
  static Item& Of(Vu30MenuItem* item);
  static QWidget* MenuOf(Item& item);

  static int32_t VU30_CALL Count(Vu30MenuItem* self);
  static Vu30MenuItem* VU30_CALL Child(Vu30MenuItem* self, int32_t index);
  static const char* VU30_CALL Caption(Vu30MenuItem* self);
  static void VU30_CALL SetCaption(Vu30MenuItem* self, const char* caption);
  static void VU30_CALL SetHint(Vu30MenuItem* self, const char* hint);
  static void VU30_CALL SetHelpContext(Vu30MenuItem* self, int32_t context);
  static void VU30_CALL SetShortCut(Vu30MenuItem* self, int32_t shortCut);
  static void VU30_CALL SetOnClick(Vu30MenuItem* self, Vu30BoundMethod handler);
  static const Vu30MenuItemTable kTable;

  std::unique_ptr<Item> root_;
  std::unordered_map<QAction*, std::unique_ptr<Item>> items_;
};

}  // namespace vu30::hostqt
