// SPDX-License-Identifier: MIT
#include "qt_menu_items.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QVariant>
#include <QWidget>
#include <stdexcept>

namespace vu30::hostqt {

struct QtMenuTree::Item : Vu30MenuItem {
  QtMenuTree* tree = nullptr;
  QPointer<QWidget> container;  // the root only
  QPointer<QAction> action;     // every other item
  std::string caption;          // cp1251, kept for the pointer Caption returns
  QMetaObject::Connection click;

  ~Item() { QObject::disconnect(click); }
};

const Vu30MenuItemTable QtMenuTree::kTable = {Count,   Child,          Caption,     SetCaption,
                                              SetHint, SetHelpContext, SetShortCut, SetOnClick};

namespace {

QString MenuText(const char* text) {
  if (text == nullptr) throw std::invalid_argument("menu item: null text");
  return ::FromCp1251(text);
}

}  // namespace

QtMenuTree::QtMenuTree(QWidget* root) : root_(std::make_unique<Item>()) {
  if (root == nullptr) throw std::invalid_argument("QtMenuTree: no root menu");
  root_->table = &kTable;
  root_->tree = this;
  root_->container = root;
}

QtMenuTree::~QtMenuTree() = default;

Vu30MenuItem* QtMenuTree::Root() { return root_.get(); }

Vu30MenuItem* QtMenuTree::ItemFor(QAction* action) {
  if (action == nullptr) throw std::invalid_argument("QtMenuTree: no action");
  std::unique_ptr<Item>& slot = items_[action];
  if (!slot || slot->action.isNull()) {  // new, or an old action's address reused
    slot = std::make_unique<Item>();
    slot->table = &kTable;
    slot->tree = this;
    slot->action = action;
  }
  return slot.get();
}

QAction* QtMenuTree::ActionOf(Vu30MenuItem* item) { return Of(item).action.data(); }

QtMenuTree::Item& QtMenuTree::Of(Vu30MenuItem* item) {
  if (item == nullptr || item->table != &kTable) {
    throw std::invalid_argument("QtMenuTree: not one of this adapter's menu items");
  }
  return *static_cast<Item*>(item);
}

QWidget* QtMenuTree::MenuOf(Item& item) {
  if (item.tree->root_.get() == &item) {
    if (item.container.isNull()) throw std::runtime_error("QtMenuTree: the root menu is gone");
    return item.container.data();
  }
  if (item.action.isNull()) throw std::runtime_error("QtMenuTree: the menu item is gone");
  return item.action->menu();
}

int32_t VU30_CALL QtMenuTree::Count(Vu30MenuItem* self) {
  QWidget* menu = MenuOf(Of(self));
  return menu == nullptr ? 0 : static_cast<int32_t>(menu->actions().size());
}

Vu30MenuItem* VU30_CALL QtMenuTree::Child(Vu30MenuItem* self, int32_t index) {
  Item& item = Of(self);
  QWidget* menu = MenuOf(item);
  const QList<QAction*> actions = menu == nullptr ? QList<QAction*>() : menu->actions();
  if (index < 0 || index >= actions.size()) {
    throw std::out_of_range("QtMenuTree: item index " + std::to_string(index) + " out of range");
  }
  return item.tree->ItemFor(actions[index]);
}

const char* VU30_CALL QtMenuTree::Caption(Vu30MenuItem* self) {
  Item& item = Of(self);
  QString text;
  if (item.tree->root_.get() != &item) {
    if (item.action.isNull()) throw std::runtime_error("QtMenuTree: the menu item is gone");
    text = item.action->isSeparator() ? QStringLiteral("-") : item.action->text();
  }
  item.caption = ToCp1251(text);
  return item.caption.c_str();
}

namespace {

QAction& ActionOrThrow(QPointer<QAction>& action) {
  if (action.isNull()) throw std::runtime_error("QtMenuTree: not an action, or the action is gone");
  return *action;
}

}  // namespace

void VU30_CALL QtMenuTree::SetCaption(Vu30MenuItem* self, const char* caption) {
  ActionOrThrow(Of(self).action).setText(MenuText(caption));
}

void VU30_CALL QtMenuTree::SetHint(Vu30MenuItem* self, const char* hint) {
  QAction& action = ActionOrThrow(Of(self).action);
  action.setStatusTip(MenuText(hint));
  action.setToolTip(MenuText(hint));
}

void VU30_CALL QtMenuTree::SetHelpContext(Vu30MenuItem* self, int32_t context) {
  ActionOrThrow(Of(self).action).setProperty("vu30HelpContext", context);
}

int QtMenuTree::QtShortcut(int32_t shortCut) {
  if (shortCut == 0) return 0;
  if (shortCut < 0 || shortCut > 0xFFFF || (shortCut & 0x1F00) != 0) {
    throw std::invalid_argument("QtMenuTree: malformed shortcut " + std::to_string(shortCut));
  }
  const int vk = shortCut & 0xFF;
  int key = 0;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
    key = vk;  // Qt::Key_0.. and Qt::Key_A.. share the ASCII codes
  } else if (vk >= 0x70 && vk <= 0x7B) {
    key = Qt::Key_F1 + (vk - 0x70);
  } else if (vk == 0x0D) {
    key = Qt::Key_Return;
  } else if (vk == 0x2D) {
    key = Qt::Key_Insert;
  } else if (vk == 0x2E) {
    key = Qt::Key_Delete;
  } else {
    throw std::invalid_argument("QtMenuTree: no Qt key for virtual key " + std::to_string(vk));
  }
  if (shortCut & 0x2000) key |= Qt::SHIFT;
  if (shortCut & 0x4000) key |= Qt::CTRL;
  if (shortCut & 0x8000) key |= Qt::ALT;
  return key;
}

void VU30_CALL QtMenuTree::SetShortCut(Vu30MenuItem* self, int32_t shortCut) {
  const int key = QtShortcut(shortCut);
  ActionOrThrow(Of(self).action).setShortcut(key == 0 ? QKeySequence() : QKeySequence(key));
}

void VU30_CALL QtMenuTree::SetOnClick(Vu30MenuItem* self, Vu30BoundMethod handler) {
  Item& item = Of(self);
  QAction& action = ActionOrThrow(item.action);
  QObject::disconnect(item.click);
  if (handler.code == nullptr) return;
  const auto code = reinterpret_cast<Vu30MenuClickFn>(handler.code);
  void* data = handler.data;
  Vu30MenuItem* sender = self;
  item.click = QObject::connect(&action, &QAction::triggered, &action, [code, data, sender] {
    // An error must not unwind through Qt's event loop: it is shown instead.
    try {
      code(data, sender);
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, QStringLiteral("vu30"), ::FromCp1251(e.what()));
    }
  });
}

Vu30MenuItem* VU30_CALL QtMenuTree::CreateItem(Vu30MenuItem* parent, int32_t index) {
  Item& item = Of(parent);
  QWidget* menu = MenuOf(item);
  if (menu == nullptr) throw std::invalid_argument("QtMenuTree: the parent item has no menu");
  auto* action = new QAction(menu);  // owned by the menu
  const QList<QAction*> actions = menu->actions();
  if (index < 0 || index >= actions.size()) {
    menu->addAction(action);
  } else {
    menu->insertAction(actions[index], action);
  }
  return item.tree->ItemFor(action);
}

}  // namespace vu30::hostqt

QString FromCp1251(const char* text) {
  QStringDecoder decoder("windows-1251");
  return decoder(QByteArrayView(text));
}

std::string ToCp1251(const QString& text) {
  QStringEncoder encoder("windows-1251");
  return QByteArray(encoder(text)).toStdString();
}
