// SPDX-License-Identifier: MIT
#include "config/win32/port_type_dialog_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <utility>

#include "config/win32/window_placement_win32.h"
#include "platform/call_into_host.h"
#include "platform/fp_state.h"
#include "platform/host_entry.h"

// The module this code is linked into (the library's DLL, or a test program):
// its window class is registered for that module.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vu30::config::win32 {

namespace {

constexpr int kClientWidth = 264;
constexpr int kClientHeight = 322;
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kSpinMin = 1;
constexpr int kSpinMax = 255;
constexpr int kSpinInitial = 100;
// The impulses column keeps a list view's usual default width.
constexpr int kImpulsesColumnWidth = 50;
// Height of the combo's drop-down list: the four items without scrolling.
constexpr int kComboListHeight = 100;

HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HFONT Tahoma(int height) {
  return CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

// The control of the dialog that a window belongs to (a combo's edit belongs
// to the combo); null when it is not inside the dialog.
HWND ControlOf(HWND dialog, HWND window) {
  while (window != nullptr && GetParent(window) != dialog) window = GetParent(window);
  return window;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

Win32ComTypeTrkView::Win32ComTypeTrkView(TCOMTypeTRKForm& form, HWND owner)
    : form_(form), owner_(owner), formFont_(Tahoma(11)), listFont_(Tahoma(13)) {}

Win32ComTypeTrkView::~Win32ComTypeTrkView() {
  // Only the thread that made the window can destroy it; at process end the
  // system has done so already.
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
  if (window_ != nullptr) SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  // A class registered by a DLL outlives its unloading; its procedure would
  // then point nowhere.
  UnregisterClassW(kWindowClass, Module());
  if (formFont_ != nullptr) DeleteObject(formFont_);
  if (listFont_ != nullptr) DeleteObject(listFont_);
}

HWND Win32ComTypeTrkView::Window() const {
  if (window_ != nullptr) return window_;
  WNDCLASSEXW windowClass{};
  if (!GetClassInfoExW(Module(), kWindowClass, &windowClass)) {
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32ComTypeTrkView::WindowProc;
    windowClass.hInstance = Module();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) return nullptr;
  }
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  // An owner destroyed since it was adopted would make the creation fail.
  HWND owner = owner_ != nullptr && IsWindow(owner_) ? owner_ : nullptr;
  // The window procedure needs the view; it is not changed through this.
  auto* self = const_cast<Win32ComTypeTrkView*>(this);
  CreateWindowExW(kWindowExStyle, kWindowClass, Wide("Типы ТРК на COM-портах").c_str(),
                  kWindowStyle, 0, 0, frame.right - frame.left, frame.bottom - frame.top, owner,
                  nullptr, Module(), self);
  if (window_ != nullptr) CreateControls();
  return window_;
}

void Win32ComTypeTrkView::CreateControls() const {
  const auto make = [this](DWORD exStyle, const wchar_t* windowClass, const std::wstring& text,
                           DWORD style, int left, int top, int width, int height, int id) {
    HWND control = CreateWindowExW(
        exStyle, windowClass, text.c_str(), WS_CHILD | style, left, top, width, height, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Module(), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_), FALSE);
    return control;
  };
  // Children are made in their drawing order, the topmost first: the editors
  // lie over the list. The tab order is the dialog's own (NextTabStop).
  HWND combo = make(0, WC_COMBOBOXW, L"",
                    WS_TABSTOP | WS_VSCROLL | WS_CLIPSIBLINGS | CBS_DROPDOWN | CBS_AUTOHSCROLL, 72,
                    144, 124, 21 + kComboListHeight, kIdCombo);
  for (std::string_view name : kTypeNames) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(std::string(name)).c_str()));
  }
  SetWindowTextW(combo, Wide(std::string(kTypeNames[kTypeEC2000])).c_str());

  HWND edit = make(WS_EX_CLIENTEDGE, WC_EDITW, L"",
                   WS_TABSTOP | WS_CLIPSIBLINGS | ES_NUMBER | ES_AUTOHSCROLL, 202, 144, 49, 21,
                   kIdSpinEdit);
  // The up-down control takes its place inside the edit's right edge.
  HWND upDown =
      make(0, UPDOWN_CLASSW, L"",
           WS_CLIPSIBLINGS | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
           0, 0, 0, kIdSpinUpDown);
  SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  SendMessageW(upDown, UDM_SETRANGE32, kSpinMin, kSpinMax);
  SendMessageW(upDown, UDM_SETPOS32, 0, kSpinInitial);

  HWND list = make(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 7,
      8, 249, 267, kIdList);
  SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), FALSE);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const std::array<std::pair<const char*, int>, 4> columns = {
      {{"", 1}, {"COM-порт", 65}, {"Тип ТРК", 120}, {"Имп/л", kImpulsesColumnWidth}}};
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::wstring caption = Wide(columns[i].first);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = caption.data();
    column.cx = columns[i].second;
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }

  make(0, WC_BUTTONW, Wide("Отменить"), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 150, 289, 101, 25,
       kIdCancel);
  make(0, WC_BUTTONW, Wide("Сохранить"), WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 8, 289, 97, 25,
       kIdSave);
  make(0, WC_STATICW, L"", WS_VISIBLE | SS_ETCHEDHORZ, 0, 281, 259, 2, kIdBevel);
}

HWND Win32ComTypeTrkView::Item(int id) const { return GetDlgItem(Window(), id); }

namespace {

Win32ComTypeTrkView* ViewOf(HWND hwnd) {
  return reinterpret_cast<Win32ComTypeTrkView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

LRESULT CALLBACK Win32ComTypeTrkView::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  // Called by user32, on behalf of the host's message loop or of ours: an
  // entry from the host, in the library's floating-point state, and nothing
  // crosses it. A failure of a handler concerns no one beyond the dialog
  // (a failed save is shown to the operator by the form itself): the
  // message is then left to the default procedure. A structured exception
  // raised under it (a host window procedure that a function of the system
  // reached from a handler) is taken here, with what the frames above held
  // released, and ends the dialog like a host exception in its loop.
  const platform::HostEntry entry(platform::HostEntry::HostExceptions::kContain);
  const platform::LibraryFpScope fpState;
  LRESULT result = 0;
  bool handled = false;
  auto body = [&]() noexcept {
    try {
      result = Dispatch(hwnd, message, wParam, lParam);
      handled = true;
    } catch (const platform::HostFault& fault) {
      if (auto* view = ViewOf(hwnd)) view->KeepHostFault(fault.Record());
    } catch (...) {
    }
  };
  platform::HostExceptionRecord fault;
  if (!platform::RunEntryBody(body, fault)) {
    if (auto* view = ViewOf(hwnd)) view->KeepHostFault(fault);
  }
  return handled ? result : DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32ComTypeTrkView::KeepHostFault(const platform::HostExceptionRecord& fault) {
  if (!hostFault_) hostFault_ = fault;
  modal_ = false;
}

LRESULT Win32ComTypeTrkView::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* view =
        static_cast<Win32ComTypeTrkView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    view->window_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<Win32ComTypeTrkView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // Destroyed with its owner, or by the view: the next use makes a new one.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    view->window_ = nullptr;
    view->modal_ = false;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return view->Handle(message, wParam, lParam);
}

LRESULT Win32ComTypeTrkView::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kShowDialogMessage:
      form_.WMShowDialog();
      return 0;
    case DM_GETDEFID:  // asked by IsDialogMessageW for Enter
      return MAKELRESULT(kIdSave, DC_HASDEFID);
    case WM_SHOWWINDOW:
      if (wParam != 0 && lParam == 0) Run([this] { form_.FormShow(); });
      break;
    case WM_ACTIVATE:
      // Keep the focused control across a deactivation (a message box).
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) focusBeforeDeactivation_ = focus;
      } else {
        HWND focus = focusBeforeDeactivation_ != nullptr && IsWindow(focusBeforeDeactivation_) &&
                             IsWindowVisible(focusBeforeDeactivation_)
                         ? focusBeforeDeactivation_
                         : Item(kIdList);
        SetFocus(focus);
        return 0;
      }
      break;
    case WM_CLOSE:
      EndModal(ModalResult::kCancel);
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == kIdSave && (code == BN_CLICKED || lParam == 0)) {
        bool close = false;
        Run([this, &close] { close = form_.BitBtn4Click(); });
        if (close) EndModal(ModalResult::kOk);
        return 0;
      }
      if (id == kIdCancel && (code == BN_CLICKED || lParam == 0)) {
        EndModal(ModalResult::kCancel);
        return 0;
      }
      if (id == kIdCombo && code == CBN_SELCHANGE) {
        // The combo's edit gets the chosen text only after this notification.
        const auto index = static_cast<int>(SendMessageW(Item(kIdCombo), CB_GETCURSEL, 0, 0));
        choosingItem_ = index;
        Run([this] { form_.cbTypeChange(); });
        choosingItem_ = -1;
        return 0;
      }
      if (id == kIdCombo && code == CBN_EDITCHANGE) {
        Run([this] { form_.cbTypeChange(); });
        return 0;
      }
      if (id == kIdCombo && code == CBN_CLOSEUP) {
        Run([this] { form_.cbTypeCloseUp(); });
        return 0;
      }
      if (id == kIdSpinEdit && code == EN_KILLFOCUS) {
        Run([this] { form_.edImpExit(); });
        return 0;
      }
      break;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr || header->idFrom != kIdList) break;
      if (header->code == NM_CLICK || header->code == NM_RCLICK) {
        // Sent when the button is released over the list, with the pointer's
        // position in the list's client coordinates.
        const int x = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->ptAction.x;
        Run([this, x] { form_.LVMouseUp(x); });
      } else if (header->code == LVN_ITEMCHANGING) {
        // A click on another row moves the selection before the list takes
        // the focus: the spin editor is left first, so that its text goes
        // into the row it was opened for.
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) != 0 &&
            ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) != 0 &&
            GetFocus() == Item(kIdSpinEdit)) {
          SetFocus(Item(kIdList));
        }
        return FALSE;  // the change is allowed
      } else if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) != 0 &&
            ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) != 0) {
          Run([this] { form_.LVChange(); });
        }
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void Win32ComTypeTrkView::EndModal(ModalResult result) {
  if (!modal_) return;
  result_ = result;
  modal_ = false;
}

HWND Win32ComTypeTrkView::NextTabStop(HWND from, bool backwards) const {
  const std::array<HWND, 5> order = {Item(kIdList), Item(kIdCombo), Item(kIdCancel), Item(kIdSave),
                                     Item(kIdSpinEdit)};
  const int count = static_cast<int>(order.size());
  int at = -1;
  for (int i = 0; i < count; ++i) {
    if (order[static_cast<std::size_t>(i)] == from) at = i;
  }
  if (at < 0) at = backwards ? 0 : count - 1;
  for (int step = 1; step <= count; ++step) {
    const int i = ((backwards ? at - step : at + step) % count + count) % count;
    HWND candidate = order[static_cast<std::size_t>(i)];
    if (IsWindowVisible(candidate) && IsWindowEnabled(candidate)) return candidate;
  }
  return nullptr;
}

bool Win32ComTypeTrkView::HandleDialogKey(MSG& msg) {
  if (msg.message != WM_KEYDOWN || window_ == nullptr || !IsChild(window_, msg.hwnd)) return false;
  HWND control = ControlOf(window_, msg.hwnd);
  const auto key = static_cast<int>(msg.wParam);
  if (control == Item(kIdSpinEdit)) {
    // The key is not consumed: Enter then also reaches the default button.
    Run([this, key] { form_.edImpKeyDown(key); });
    return false;
  }
  if (key != VK_TAB) return false;
  const LRESULT code =
      SendMessageW(msg.hwnd, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg));
  if ((code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) != 0) return false;
  HWND next = NextTabStop(control, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
  if (next == nullptr) return true;
  if (next == Item(kIdSpinEdit)) SendMessageW(next, EM_SETSEL, 0, -1);
  SetFocus(next);
  return true;
}

void Win32ComTypeTrkView::MoveTop(HWND control, int top) const {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
  SetWindowPos(control, nullptr, rect.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32ComTypeTrkView::SetRows(const std::vector<PortTypeRow>& rows) {
  HWND list = Item(kIdList);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (std::size_t i = 0; i < rows.size() && i < INT_MAX; ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(L"");
    const auto row =
        static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) break;
    SetCell(row, kColumnPort, rows[i].port);
    SetCell(row, kColumnType, rows[i].type);
    SetCell(row, kColumnImpulses, rows[i].impulses);
  }
}

void Win32ComTypeTrkView::SetCell(int row, int column, const std::string& text) {
  if (column < kColumnPort || column > kColumnImpulses) return;
  std::wstring wide = Wide(text);
  LVITEMW item{};
  item.iSubItem = column;  // a column's cell is the sub-item of the same number
  item.pszText = wide.data();
  SendMessageW(Item(kIdList), LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
}

int Win32ComTypeTrkView::SelectedRow() const {
  return static_cast<int>(
      SendMessageW(Item(kIdList), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int Win32ComTypeTrkView::ColumnWidth(int column) const {
  return static_cast<int>(SendMessageW(Item(kIdList), LVM_GETCOLUMNWIDTH, column, 0));
}

int Win32ComTypeTrkView::RowTop(int row) const {
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  if (SendMessageW(Item(kIdList), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&rect)) == 0) {
    return 0;
  }
  return rect.top;
}

int Win32ComTypeTrkView::ListTop() const {
  RECT rect{};
  GetWindowRect(Item(kIdList), &rect);
  MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
  return rect.top;
}

void Win32ComTypeTrkView::SetComboVisible(bool visible) {
  HWND combo = Item(kIdCombo);
  if (!visible) {
    if (SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0) {
      SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    }
    // A hidden control keeps the focus unless it is moved.
    if (HWND focus = GetFocus(); focus != nullptr && ControlOf(Window(), focus) == combo) {
      SetFocus(Item(kIdList));
    }
  }
  ShowWindow(combo, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32ComTypeTrkView::MoveComboTop(int top) { MoveTop(Item(kIdCombo), top); }

void Win32ComTypeTrkView::SelectComboItem(int index) {
  SendMessageW(Item(kIdCombo), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32ComTypeTrkView::DropDownCombo() {
  HWND combo = Item(kIdCombo);
  SetFocus(combo);
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
}

std::string Win32ComTypeTrkView::ComboText() const {
  HWND combo = Item(kIdCombo);
  if (choosingItem_ >= 0) {
    const auto length = static_cast<int>(SendMessageW(combo, CB_GETLBTEXTLEN, choosingItem_, 0));
    if (length >= 0) {
      std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
      const auto copied = static_cast<int>(
          SendMessageW(combo, CB_GETLBTEXT, choosingItem_, reinterpret_cast<LPARAM>(text.data())));
      text.resize(static_cast<std::size_t>(std::max(copied, 0)));
      return Utf8(text);
    }
  }
  return Utf8(WindowText(combo));
}

void Win32ComTypeTrkView::SetSpinVisible(bool visible) {
  HWND edit = Item(kIdSpinEdit);
  if (!visible && GetFocus() == edit) SetFocus(Item(kIdList));
  ShowWindow(edit, visible ? SW_SHOWNA : SW_HIDE);
  ShowWindow(Item(kIdSpinUpDown), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32ComTypeTrkView::MoveSpinTop(int top) {
  MoveTop(Item(kIdSpinEdit), top);
  MoveTop(Item(kIdSpinUpDown), top);
}

void Win32ComTypeTrkView::SetSpinText(const std::string& text) {
  const std::optional<int> value = ParseWholeNumber(text);
  if (!value) return;
  SendMessageW(Item(kIdSpinUpDown), UDM_SETPOS32, 0, std::clamp(*value, kSpinMin, kSpinMax));
}

std::string Win32ComTypeTrkView::SpinText() const {
  // A half-typed or out-of-range number is settled first: kept within
  // 1..255, and text that is no number falls back to the last value.
  HWND upDown = Item(kIdSpinUpDown);
  const std::optional<int> typed = ParseWholeNumber(Utf8(WindowText(Item(kIdSpinEdit))));
  const int value = typed ? *typed : static_cast<int>(SendMessageW(upDown, UDM_GETPOS32, 0, 0));
  const int settled = std::clamp(value, kSpinMin, kSpinMax);
  SendMessageW(upDown, UDM_SETPOS32, 0, settled);
  return std::to_string(settled);
}

void Win32ComTypeTrkView::ShowMessage(const std::string& text) {
  HWND window = Window();
  // Its loop dispatches the host's messages too.
  CallReachingHost(0, &MessageBoxW, window, Wide(text).c_str(), WindowText(window).c_str(),
                   static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

void Win32ComTypeTrkView::SendShowMessage() {
  HWND window = Window();
  if (window == nullptr) return;
  hostFault_.reset();
  SendMessageW(window, kShowDialogMessage, 0, 0);
  if (const std::optional<platform::HostExceptionRecord> fault = std::exchange(hostFault_, {})) {
    throw platform::HostFault(*fault);
  }
}

ModalResult Win32ComTypeTrkView::ShowModal() {
  HWND window = Window();
  if (window == nullptr) return ModalResult::kCancel;
  // Where the operator left it, if that is still on a screen; else 0, 0.
  RECT rect{};
  GetWindowRect(window, &rect);
  POINT position{0, 0};
  if (const std::optional<POINT> stored = RestorePosition()) {
    const RECT there{stored->x, stored->y, stored->x + (rect.right - rect.left),
                     stored->y + (rect.bottom - rect.top)};
    if (MonitorFromRect(&there, MONITOR_DEFAULTTONULL) != nullptr) position = *stored;
  }
  SetWindowPos(window, nullptr, position.x, position.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  HWND owner = GetWindow(window, GW_OWNER);
  const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
  // From here on every function of the system that may call one of the
  // host's window procedures (the owner's, the windows that lose the
  // activation or the focus, those sent a message from another thread while
  // the loop waits) is called through CallHost: a host exception there ends
  // the dialog and the dialog is taken down as on any other way out.
  if (disableOwner) CallReachingHost(FALSE, &EnableWindow, owner, FALSE);
  result_ = ModalResult::kCancel;
  modal_ = !hostFault_;
  focusBeforeDeactivation_ = nullptr;
  if (modal_) {
    CallReachingHost(FALSE, &ShowWindow, window,
                     SW_SHOW);  // FormShow runs as it is about to appear
  }
  if (modal_) CallReachingHost<HWND>(nullptr, &SetActiveWindow, window);
  if (modal_) CallReachingHost<HWND>(nullptr, &SetFocus, Item(kIdList));

  MSG msg{};
  while (modal_ && window_ != nullptr) {
    const BOOL got = CallReachingHost(-1, &GetMessageW, &msg, static_cast<HWND>(nullptr), 0u, 0u);
    if (got == 0) {
      // A quit request ends the dialog and is passed on to the host's loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) break;
    if (HandleDialogKey(msg)) continue;
    if (window_ != nullptr && IsDialogMessageW(window_, &msg)) continue;
    TranslateMessage(&msg);
    // The message may be the host's, for one of its own windows.
    CallReachingHost<LRESULT>(0, &DispatchMessageW, &msg);
  }
  modal_ = false;

  // The owner is enabled again before the dialog hides, so that it becomes
  // the active window.
  if (disableOwner && IsWindow(owner)) CallReachingHost(FALSE, &EnableWindow, owner, TRUE);
  if (window_ != nullptr) {
    if (GetWindowRect(window_, &rect)) SavePosition(POINT{rect.left, rect.top});
    CallReachingHost(FALSE, &ShowWindow, window_, SW_HIDE);
  }
  return result_;
}

}  // namespace vu30::config::win32
