/* SPDX-License-Identifier: MIT */
// The port type dialog: the operator sets the dispenser type and the
// impulses-per-litre factor of each port opened in this run. This is the
// dialog's behaviour without a widget toolkit; a view (Qt, or none) shows it
// and forwards the operator's actions to the handlers below.
//
// Texts inside the dialog are UTF-8; only the host boundary uses cp1251.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/port_type_table.h"

namespace vu30::config {

// The combo's items; a type code is the position of its name here.
inline constexpr std::array<std::string_view, 4> kTypeNames = {"ЕС-2000", "FAS", "ER3/2", "ER112"};

// Columns of the list: 0 is the empty 1-pixel caption column.
inline constexpr int kColumnCaption = 0;
inline constexpr int kColumnPort = 1;
inline constexpr int kColumnType = 2;
inline constexpr int kColumnImpulses = 3;

// Virtual key code of Enter, as edImpKeyDown receives it.
inline constexpr int kKeyEnter = 13;

// One row of the list: the port cell, the type cell and the impulses cell.
// The rows are the dialog's working copy of the table.
struct PortTypeRow {
  std::string port;
  std::string type;
  std::string impulses;
  bool operator==(const PortTypeRow&) const = default;
};

enum class ModalResult { kNone, kOk, kCancel };

class TCOMTypeTRKForm;

// What the dialog needs from its toolkit. Row numbers count from 0; -1 means
// no row.
class TCOMTypeTRKView {
 public:
  virtual ~TCOMTypeTRKView() = default;

  // LV: replaces all rows; sets one cell (kColumnPort..kColumnImpulses).
  virtual void SetRows(const std::vector<PortTypeRow>& rows) = 0;
  virtual void SetCell(int row, int column, const std::string& text) = 0;
  virtual int SelectedRow() const = 0;
  virtual int ColumnWidth(int column) const = 0;
  // Top of a row within the list, and top of the list within the form.
  virtual int RowTop(int row) const = 0;
  virtual int ListTop() const = 0;

  // cbType. SelectComboItem (-1: none) is not a change: it must not run
  // cbTypeChange.
  virtual void SetComboVisible(bool visible) = 0;
  virtual void MoveComboTop(int top) = 0;
  virtual void SelectComboItem(int index) = 0;
  virtual void DropDownCombo() = 0;
  virtual std::string ComboText() const = 0;

  // edImp.
  virtual void SetSpinVisible(bool visible) = 0;
  virtual void MoveSpinTop(int top) = 0;
  virtual void SetSpinText(const std::string& text) = 0;
  virtual std::string SpinText() const = 0;

  // Tells the operator something and waits until it has been read.
  virtual void ShowMessage(const std::string& text) = 0;
  // Delivers message 1025 to the dialog synchronously; the dialog's handler
  // runs TCOMTypeTRKForm::WMShowDialog.
  virtual void SendShowMessage() = 0;
  // Shows the dialog modally (running FormShow as it is about to appear) and
  // returns when it closes.
  virtual ModalResult ShowModal() = 0;
};

// Makes the view of a form; null when there is no screen to show it on.
using TCOMTypeTRKViewFactory = std::function<std::unique_ptr<TCOMTypeTRKView>(TCOMTypeTRKForm&)>;

class TCOMTypeTRKForm {
 public:
  explicit TCOMTypeTRKForm(PortTypeTable& table);
  ~TCOMTypeTRKForm();
  TCOMTypeTRKForm(const TCOMTypeTRKForm&) = delete;
  TCOMTypeTRKForm& operator=(const TCOMTypeTRKForm&) = delete;

  // How the view is made once it is first needed; set when the host window is
  // adopted, which GetVU30 may do on any thread. No widget is made, touched
  // or released here: a view made earlier is replaced the next time the
  // dialog is needed, on the toolkit's thread, unless it is showing then.
  void SetViewFactory(TCOMTypeTRKViewFactory factory);
  bool HasView() const { return view_ != nullptr; }

  // The entry from outside: makes the view if needed and sends it message
  // 1025; returns after the dialog has closed. False, with nothing shown,
  // when there is no view to show (no screen, or no factory set).
  bool ShowDialog();
  bool Showing() const { return showing_; }

  // Handlers.
  void WMShowDialog();
  void FormShow();
  void LVMouseUp(int x);
  void cbTypeChange();
  void cbTypeCloseUp();
  void edImpExit();
  void edImpKeyDown(int key);
  void LVChange();
  // Save. True when the dialog may close with the OK result; false when a
  // row was refused (nothing changed, the dialog stays open).
  bool BitBtn4Click();

  const std::vector<PortTypeRow>& Rows() const { return rows_; }

 private:
  TCOMTypeTRKView* View();
  void SetCell(int row, int column, std::string text);
  bool ValidRow(int row) const { return row >= 0 && static_cast<std::size_t>(row) < rows_.size(); }

  PortTypeTable& table_;
  // Set from any thread, taken on the toolkit's thread.
  std::mutex factoryMutex_;
  TCOMTypeTRKViewFactory factory_;
  bool factoryChanged_ = false;
  std::unique_ptr<TCOMTypeTRKView> view_;
  bool showing_ = false;
  std::vector<PortTypeRow> rows_;
};

// The library-wide dialog, created at library load.
extern TCOMTypeTRKForm COMTypeTRKForm;

// The position of a type name among the combo's items, -1 when it is none.
int TypeIndex(std::string_view name);

// A whole decimal number as a cell holds it: blanks around, an optional sign,
// digits, within 32 bits. nullopt for anything else.
std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace vu30::config
