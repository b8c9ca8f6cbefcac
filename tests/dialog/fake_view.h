/* SPDX-License-Identifier: MIT */
// A dialog view without a screen: it records what the dialog asks of it, and
// plays the operator's part through the fields a test sets.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/port_type_dialog.h"

namespace vu30::config::testing {

class FakeView : public TCOMTypeTRKView {
 public:
  explicit FakeView(TCOMTypeTRKForm& form) : form_(form) {}

  // Set by the test.
  int selected = -1;
  int widths[4] = {1, 65, 120, 50};
  int headerHeight = 20;
  int rowHeight = 17;
  int listTop = 8;
  std::string comboText;  // what the operator typed or chose
  std::string spinText;
  std::function<ModalResult(FakeView&)> operatorActs;  // runs while the dialog is up

  // Recorded.
  std::vector<PortTypeRow> rows;
  bool comboVisible = false;
  bool spinVisible = false;
  int comboTop = 144;
  int spinTop = 144;
  int comboIndex = -2;  // -2: never selected from code
  int dropDowns = 0;
  int messagesSent = 0;
  int modalShows = 0;
  std::vector<std::string> messages;

  void SetRows(const std::vector<PortTypeRow>& r) override { rows = r; }
  void SetCell(int row, int column, const std::string& text) override {
    PortTypeRow& r = rows.at(static_cast<std::size_t>(row));
    (column == kColumnPort ? r.port : column == kColumnType ? r.type : r.impulses) = text;
  }
  int SelectedRow() const override { return selected; }
  int ColumnWidth(int column) const override { return widths[column]; }
  int RowTop(int row) const override { return headerHeight + row * rowHeight; }
  int ListTop() const override { return listTop; }
  void SetComboVisible(bool visible) override { comboVisible = visible; }
  void MoveComboTop(int top) override { comboTop = top; }
  void SelectComboItem(int index) override {
    comboIndex = index;
    comboText = index >= 0 ? std::string(kTypeNames[static_cast<std::size_t>(index)]) : "";
  }
  void DropDownCombo() override { ++dropDowns; }
  std::string ComboText() const override { return comboText; }
  void SetSpinVisible(bool visible) override { spinVisible = visible; }
  void MoveSpinTop(int top) override { spinTop = top; }
  void SetSpinText(const std::string& text) override { spinText = text; }
  std::string SpinText() const override { return spinText; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SendShowMessage() override {
    ++messagesSent;
    form_.WMShowDialog();
  }
  ModalResult ShowModal() override {
    ++modalShows;
    form_.FormShow();
    return operatorActs ? operatorActs(*this) : ModalResult::kCancel;
  }

 private:
  TCOMTypeTRKForm& form_;
};

// Installs a FakeView factory in form; *made points at the view once made.
inline void UseFakeView(TCOMTypeTRKForm& form, FakeView** made) {
  form.SetViewFactory([made](TCOMTypeTRKForm& f) {
    auto view = std::make_unique<FakeView>(f);
    *made = view.get();
    return view;
  });
}

}  // namespace vu30::config::testing
