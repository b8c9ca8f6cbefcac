/* SPDX-License-Identifier: MIT */
// The port type dialog on Qt Widgets: a QDialog laid out like the form it
// shows (absolute positions at 96 dpi), whose widgets forward the operator's
// actions to the library-wide TCOMTypeTRKForm.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>

#include "config/handler_guard.h"
#include "config/port_type_dialog.h"

class QFrame;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace vu30::config::qt {

// Message 1025, the dialog's entry from outside, as a Qt event type.
inline constexpr int kShowDialogEvent = 1025;

// An editable combo that reports the closing of its drop-down list.
class TypeCombo : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void hidePopup() override;

 signals:
  void closedUp();
};

class ComTypeTrkDialog : public QDialog {
  Q_OBJECT
 public:
  ComTypeTrkDialog(TCOMTypeTRKForm& form, QWidget* owner);

  QTreeWidget* LV = nullptr;
  TypeCombo* cbType = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn4 = nullptr;
  QFrame* Bevel1 = nullptr;
  QSpinBox* edImp = nullptr;

  // Sizes the list's columns for the font it really got: the port and type
  // columns keep their widths of 65 and 120 pixels unless their header or
  // cell texts need more, the impulses column takes the rest, and the
  // in-place editors follow the columns they edit. Called on construction;
  // again whenever the list's font changes.
  void SizeColumns();

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  TCOMTypeTRKForm& form_;
  // Set while a handler runs, so that focus changes it causes (an editor
  // hidden while it has the focus) do not run handlers again.
  HandlerGuard handlers_;
  void Run(const std::function<void()>& handler) { handlers_.Run(handler); }
};

// TCOMTypeTRKView over ComTypeTrkDialog. The dialog is made when first
// needed, as a child of the owner window; if the owner deletes it, the next
// use makes a new one.
class QtComTypeTrkView : public TCOMTypeTRKView {
 public:
  QtComTypeTrkView(TCOMTypeTRKForm& form, QWidget* owner);
  ~QtComTypeTrkView() override;

  void SetRows(const std::vector<PortTypeRow>& rows) override;
  void SetCell(int row, int column, const std::string& text) override;
  int SelectedRow() const override;
  int ColumnWidth(int column) const override;
  int RowTop(int row) const override;
  int ListTop() const override;
  void SetComboVisible(bool visible) override;
  void MoveComboTop(int top) override;
  void SelectComboItem(int index) override;
  void DropDownCombo() override;
  std::string ComboText() const override;
  void SetSpinVisible(bool visible) override;
  void MoveSpinTop(int top) override;
  void SetSpinText(const std::string& text) override;
  std::string SpinText() const override;
  void ShowMessage(const std::string& text) override;
  void SendShowMessage() override;
  ModalResult ShowModal() override;

  ComTypeTrkDialog* Dialog() const;

 private:
  TCOMTypeTRKForm& form_;
  QPointer<QWidget> owner_;
  mutable QPointer<ComTypeTrkDialog> dialog_;
};

}  // namespace vu30::config::qt
