// SPDX-License-Identifier: MIT
#include "config/port_type_dialog.h"

#include <charconv>
#include <utility>

#include "platform/thread_cancel.h"

namespace vu30::config {

TCOMTypeTRKForm COMTypeTRKForm(PortTypes());

namespace {

// A row edits its impulses only for the types whose readings are impulses.
bool NamesImpulseType(std::string_view typeName) {
  const int index = TypeIndex(typeName);
  return index >= 0 && CountsImpulses(static_cast<uint8_t>(index));
}

std::string Decimal(int value) { return std::to_string(value); }

}  // namespace

int TypeIndex(std::string_view name) {
  for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
    if (kTypeNames[i] == name) return static_cast<int>(i);
  }
  return -1;
}

std::optional<int> ParseWholeNumber(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || (plus && text.front() == '-')) return std::nullopt;
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

TCOMTypeTRKForm::TCOMTypeTRKForm(PortTypeTable& table) : table_(table) {}

TCOMTypeTRKForm::~TCOMTypeTRKForm() = default;

void TCOMTypeTRKForm::SetViewFactory(TCOMTypeTRKViewFactory factory) {
  std::lock_guard lock(factoryMutex_);
  factory_ = std::move(factory);
  factoryChanged_ = true;
}

TCOMTypeTRKView* TCOMTypeTRKForm::View() {
  TCOMTypeTRKViewFactory factory;
  {
    std::lock_guard lock(factoryMutex_);
    // A view made for an earlier host window is replaced, but never while
    // the dialog is up.
    if (factoryChanged_ && !showing_) {
      view_.reset();
      factoryChanged_ = false;
    }
    if (!view_) factory = factory_;
  }
  if (!view_ && factory) view_ = factory(*this);
  return view_.get();
}

bool TCOMTypeTRKForm::ShowDialog() {
  // A second request while the dialog is up (a click reaching the host's
  // menu from inside the modal loop) shows nothing more.
  if (showing_) return false;
  TCOMTypeTRKView* view = View();
  if (view == nullptr) return false;
  view->SendShowMessage();
  return true;
}

void TCOMTypeTRKForm::WMShowDialog() {
  TCOMTypeTRKView* view = View();
  if (view == nullptr || showing_) return;
  showing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{showing_};
  view->ShowModal();  // the modal result is not used
}

void TCOMTypeTRKForm::FormShow() {
  rows_.clear();
  for (int port = kFirstPort; port <= kLastPort; ++port) {
    if (!table_.InUse(port)) continue;
    const uint8_t type = table_.TrkType(port);
    PortTypeRow row;
    row.port = Decimal(port);
    row.type = type < kTypeNames.size() ? std::string(kTypeNames[type]) : std::string();
    row.impulses = Decimal(table_.Impl(port));
    rows_.push_back(std::move(row));
  }
  if (TCOMTypeTRKView* view = View()) {
    // Editors left open at the last closing would point at rows that are gone.
    view->SetComboVisible(false);
    view->SetSpinVisible(false);
    view->SetRows(rows_);
  }
}

void TCOMTypeTRKForm::SetCell(int row, int column, std::string text) {
  PortTypeRow& r = rows_[static_cast<std::size_t>(row)];
  std::string& cell = column == kColumnPort ? r.port : column == kColumnType ? r.type : r.impulses;
  cell = std::move(text);
  if (TCOMTypeTRKView* view = View()) view->SetCell(row, column, cell);
}

void TCOMTypeTRKForm::LVMouseUp(int x) {
  TCOMTypeTRKView* view = View();
  if (view == nullptr) return;
  view->SetComboVisible(false);
  const int row = view->SelectedRow();
  if (!ValidRow(row)) return;
  const int w1 = view->ColumnWidth(kColumnPort);
  const int w2 = view->ColumnWidth(kColumnType);
  const int top = view->RowTop(row) + view->ListTop();
  const PortTypeRow& r = rows_[static_cast<std::size_t>(row)];
  if (w1 < x && x < w1 + w2) {
    view->MoveComboTop(top);
    view->SelectComboItem(TypeIndex(r.type));
    view->SetComboVisible(true);
    view->DropDownCombo();
  } else if (x > w1 + w2 && NamesImpulseType(r.type)) {
    view->MoveSpinTop(top);
    view->SetSpinText(r.impulses);
    view->SetSpinVisible(true);
  }
}

void TCOMTypeTRKForm::cbTypeChange() {
  TCOMTypeTRKView* view = View();
  if (view == nullptr) return;
  const int row = view->SelectedRow();
  if (!ValidRow(row)) return;
  const std::string text = view->ComboText();
  SetCell(row, kColumnType, text);
  view->SetComboVisible(false);
  if (!NamesImpulseType(text)) {
    SetCell(row, kColumnImpulses, std::string());
    return;
  }
  if (!rows_[static_cast<std::size_t>(row)].impulses.empty()) return;
  const std::optional<int> port = ParseWholeNumber(rows_[static_cast<std::size_t>(row)].port);
  if (port && *port >= kFirstPort && *port <= kLastPort) {
    SetCell(row, kColumnImpulses, Decimal(table_.Impl(*port)));
  }
}

void TCOMTypeTRKForm::cbTypeCloseUp() {
  if (TCOMTypeTRKView* view = View()) view->SetComboVisible(false);
}

void TCOMTypeTRKForm::edImpExit() {
  TCOMTypeTRKView* view = View();
  if (view == nullptr) return;
  const int row = view->SelectedRow();
  if (ValidRow(row)) SetCell(row, kColumnImpulses, view->SpinText());
  view->SetSpinVisible(false);
}

void TCOMTypeTRKForm::edImpKeyDown(int key) {
  if (key == kKeyEnter) edImpExit();
}

void TCOMTypeTRKForm::LVChange() {
  if (TCOMTypeTRKView* view = View()) {
    view->SetComboVisible(false);
    view->SetSpinVisible(false);
  }
}

bool TCOMTypeTRKForm::BitBtn4Click() {
  std::vector<PortSetting> changes;
  std::string refusal;
  // Every row is checked before anything changes: the table and the file
  // take all rows or none.
  for (std::size_t i = 0; i < rows_.size() && refusal.empty(); ++i) {
    const PortTypeRow& r = rows_[i];
    const std::optional<int> port = ParseWholeNumber(r.port);
    if (!port || *port < kFirstPort || *port > kLastPort) {
      refusal = "Строка " + Decimal(static_cast<int>(i) + 1) + ": «" + r.port +
                "» не номер COM-порта (целое число от 0 до 30).";
      break;
    }
    // A name that is not among the combo's items is stored as 255.
    const int index = TypeIndex(r.type);
    PortSetting change{*port, static_cast<uint8_t>(index < 0 ? 255 : index), kDefaultImpl};
    if (!r.impulses.empty()) {
      const std::optional<int> impl = ParseWholeNumber(r.impulses);
      if (!impl) {
        refusal = "COM-порт " + Decimal(*port) + ": «" + r.impulses +
                  "» не целое число импульсов на литр.";
        break;
      }
      change.impl = static_cast<uint8_t>(*impl & 0xFF);  // the low 8 bits, as stored
    }
    changes.push_back(change);
  }
  TCOMTypeTRKView* view = View();
  if (!refusal.empty()) {
    if (view != nullptr) view->ShowMessage(refusal + " Ничего не сохранено.");
    return false;
  }
  // The file first, then the table: a file that cannot be written changes
  // nothing, and the dialog stays open with the operator's rows.
  bool saved = false;
  try {
    saved = table_.Save(changes);
  } catch (...) {
    // Out of memory or the like while saving: told like a file that could
    // not be written; the table changes only after a complete write. A
    // thread cancelled while it wrote goes on ending.
    if (platform::HandlingThreadCancellation()) throw;
  }
  if (!saved) {
    if (view != nullptr) {
      view->ShowMessage("Файл " + PortTypeTable::FileName() + " не записан. Ничего не сохранено.");
    }
    return false;
  }
  return true;
}

}  // namespace vu30::config
