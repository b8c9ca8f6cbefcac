/* SPDX-License-Identifier: MIT */
// The port type dialog on the Win32 API: a window of its own class laid out
// like the form it shows (absolute positions at 96 dpi), with a report-style
// list view, an editable drop-down combo and an edit with an up-down control
// as the in-place editors, and two push buttons. Its controls forward the
// operator's actions to the library-wide TCOMTypeTRKForm. The window is made
// hidden when first needed; message 1025 shows it modally, owned by the
// host's window, and returns when it has closed.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "config/handler_guard.h"
#include "config/port_type_dialog.h"
#include "platform/call_into_host.h"

namespace vu30::config::win32 {

// Message 1025 (WM_USER + 1), the dialog's entry from outside.
inline constexpr UINT kShowDialogMessage = WM_USER + 1;

// The dialog window's class and the identifiers of its controls.
inline constexpr const wchar_t* kWindowClass = L"vu30.TCOMTypeTRKForm";
inline constexpr int kIdList = 100;         // LV
inline constexpr int kIdCombo = 101;        // cbType
inline constexpr int kIdCancel = IDCANCEL;  // BitBtn3
inline constexpr int kIdSave = IDOK;        // BitBtn4
inline constexpr int kIdBevel = 102;        // Bevel1
inline constexpr int kIdSpinEdit = 103;     // edImp, the edit
inline constexpr int kIdSpinUpDown = 104;   // edImp, its up-down control

// TCOMTypeTRKView over the dialog window. owner may be null (no owner).
class Win32ComTypeTrkView : public TCOMTypeTRKView {
 public:
  Win32ComTypeTrkView(TCOMTypeTRKForm& form, HWND owner);
  ~Win32ComTypeTrkView() override;
  Win32ComTypeTrkView(const Win32ComTypeTrkView&) = delete;
  Win32ComTypeTrkView& operator=(const Win32ComTypeTrkView&) = delete;

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

  // The dialog window, made (hidden) on first use; null if it could not be
  // made.
  HWND Window() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls() const;
  HWND Item(int id) const;
  // Runs a handler unless one is running already: focus changes and
  // notifications that a handler causes itself (an editor hidden while it
  // has the focus) do not run handlers again.
  template <typename Handler>
  void Run(Handler&& handler) {
    handlers_.Run(handler);
  }
  // Moves a control vertically; its left edge stays.
  void MoveTop(HWND control, int top) const;
  // The next control in the dialog's tab order that can take the focus.
  HWND NextTabStop(HWND from, bool backwards) const;
  bool HandleDialogKey(MSG& msg);
  void EndModal(ModalResult result);
  // Keeps a host exception raised while the dialog runs (the first one) and
  // ends the dialog; it is raised again once the dialog has closed.
  void KeepHostFault(const platform::HostExceptionRecord& fault);
  // Calls a function of the system that may call the host's window
  // procedures (activation, focus, enabling, sent messages) through
  // CallHost: a host exception raised there ends the dialog. Returns f's
  // result, or fallback when it raised.
  template <typename R, typename F, typename... A>
  R CallReachingHost(R fallback, F f, A... args) {
    try {
      return platform::CallHost(f, args...);
    } catch (const platform::HostFault& fault) {
      KeepHostFault(fault.Record());
      return fallback;
    }
  }

  TCOMTypeTRKForm& form_;
  HWND owner_;
  mutable HWND window_ = nullptr;
  mutable HFONT formFont_ = nullptr;
  mutable HFONT listFont_ = nullptr;
  // The control that had the focus when the dialog was last deactivated.
  HWND focusBeforeDeactivation_ = nullptr;
  HandlerGuard handlers_;
  bool modal_ = false;
  ModalResult result_ = ModalResult::kNone;
  // Set while the combo reports a choice from its list: the combo's edit
  // does not hold the chosen text yet.
  int choosingItem_ = -1;
  // A host exception raised in one of the host's window procedures while
  // the dialog ran (reached from the message loop, or from a function of
  // the system the dialog called); raised again once the dialog has closed.
  std::optional<platform::HostExceptionRecord> hostFault_;
};

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

}  // namespace vu30::config::win32
