// SPDX-License-Identifier: MIT
// The Win32 view of the port type dialog, driven by real window messages:
// message 1025 shows it modally, owned by the host window; a click in the type
// column opens the combo, a click on an item of its list chooses a type, a
// click in the impulses column opens the spin editor; Save and Cancel, with
// their effects on the table and on cnf.INI. The steps run from a timer of
// the host window, inside the dialog's own modal loop.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "config/host_window.h"
#include "config/port_type_dialog.h"
#include "config/win32/port_type_dialog_win32.h"
#include "config/win32/window_placement_win32.h"
#include "temp_windir.h"

namespace vu30::config {
namespace {

using Step = std::function<void()>;

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A plain top-level window as the host's main window. Its timer runs the
// test's steps one per tick; a timer message comes only when every message
// posted by the previous step has been handled.
class HostWindow {
 public:
  HostWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &HostWindow::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"vu30.TestHost";
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, L"vu30.TestHost", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300,
                              300, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~HostWindow() { DestroyWindow(window_); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  HWND Get() const { return window_; }

  // Shows the dialog through the library-wide form and runs the steps while
  // it is up; the dialog is cancelled if the steps leave it open. Returns the
  // number of steps that ran.
  std::size_t ShowAndRun(std::vector<Step> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    SetTimer(window_, 1, 40, nullptr);
    EXPECT_TRUE(COMTypeTRKForm.ShowDialog());
    KillTimer(window_, 1);
    return next_;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_TIMER && host != nullptr) {
      host->Tick();
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  void Tick() {
    if (next_ < steps_.size() && !::testing::Test::HasFatalFailure()) {
      steps_[next_++]();
      return;
    }
    if (HWND dialog = FindWindowW(win32::kWindowClass, nullptr); IsWindowVisible(dialog)) {
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
  }

  HWND window_ = nullptr;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
};

HWND Dialog() { return FindWindowW(win32::kWindowClass, nullptr); }
HWND Control(int id) { return GetDlgItem(Dialog(), id); }
HWND List() { return Control(win32::kIdList); }
HWND Combo() { return Control(win32::kIdCombo); }
HWND SpinEdit() { return Control(win32::kIdSpinEdit); }

std::string Cell(int row, int column) {
  wchar_t buffer[64] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 64;
  SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return win32::Utf8(buffer);
}

std::string Text(HWND window) {
  wchar_t buffer[128] = {};
  GetWindowTextW(window, buffer, 128);
  return win32::Utf8(buffer);
}

RECT RowRect(int row) {
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  return rect;
}

// Top of a control within the dialog's client area.
int TopInDialog(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, Dialog(), reinterpret_cast<POINT*>(&rect), 2);
  return rect.top;
}

// A left click at a point of a window's client area, as the mouse posts it.
void Click(HWND window, int x, int y) {
  PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void ClickCenter(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  Click(window, rect.right / 2, rect.bottom / 2);
}

// A click in a row of the list at x, in the list's client coordinates.
void ClickRow(int row, int x) {
  const RECT rect = RowRect(row);
  Click(List(), x, (rect.top + rect.bottom) / 2);
}

// A click on an item of the combo's dropped-down list.
void ChooseComboItem(int index) {
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(Combo(), &info));
  RECT rect{};
  SendMessageW(info.hwndList, LB_GETITEMRECT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&rect));
  Click(info.hwndList, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

void Key(HWND window, UINT key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

void Type(HWND window, const std::string& text) {
  for (char c : text) PostMessageW(window, WM_CHAR, static_cast<WPARAM>(c), 1);
}

// Inside the type column (65 < x < 185) and inside the impulses column.
constexpr int kTypeColumnX = 100;
constexpr int kImpulsesColumnX = 200;

class Win32ViewTest : public ::testing::Test {
 protected:
  Win32ViewTest() {
    PortTypes().Reset();
    PortTypes().MarkInUse(2);
    PortTypes().SetImpl(2, 100);
    PortTypes().MarkInUse(5);
    PortTypes().SetTrkType(5, kTypeFAS);
    PortTypes().SetImpl(5, 40);
    WriteFile(ini_, "[Other]\r\nKey=kept\r\n");
    RegDeleteKeyW(HKEY_CURRENT_USER, win32::kPlacementKey);
    AdoptHostWindow(host_.Get());
  }
  void SetUp() override {
    ASSERT_NE(host_.Get(), nullptr)
        << "no window could be made: run under a display (e.g. xvfb-run), with a wineserver "
           "started under that display";
  }
  ~Win32ViewTest() override {
    COMTypeTRKForm.SetViewFactory(nullptr);
    PortTypes().Reset();
  }

  vu30::test::TempWindir windir_;  // before ini_: cnf.INI lives in a directory of the test's
  HostWindow host_;
  const std::string ini_ = PortTypeTable::FileName();
};

TEST_F(Win32ViewTest, MessageShowsTheFormModallyOwnedByTheHostWindow) {
  const std::vector<Step> steps = {[&] {
    HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), host_.Get());
    EXPECT_FALSE(IsWindowEnabled(host_.Get()));
    EXPECT_EQ(Text(dialog), "Типы ТРК на COM-портах");
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 264);
    EXPECT_EQ(client.bottom, 322);

    const std::vector<std::pair<std::string, int>> columns = {
        {"", 1}, {"COM-порт", 65}, {"Тип ТРК", 120}};
    for (std::size_t i = 0; i < columns.size(); ++i) {
      wchar_t caption[32] = {};
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT | LVCF_WIDTH;
      column.pszText = caption;
      column.cchTextMax = 32;
      ASSERT_TRUE(SendMessageW(List(), LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
      EXPECT_EQ(win32::Utf8(caption), columns[i].first);
      EXPECT_EQ(column.cx, columns[i].second);
    }
    ASSERT_EQ(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(Cell(0, 1), "2");
    EXPECT_EQ(Cell(0, 2), "ЕС-2000");
    EXPECT_EQ(Cell(0, 3), "100");
    EXPECT_EQ(Cell(1, 1), "5");
    EXPECT_EQ(Cell(1, 2), "FAS");
    EXPECT_EQ(Cell(1, 3), "40");
    EXPECT_FALSE(IsWindowVisible(Combo()));
    EXPECT_FALSE(IsWindowVisible(SpinEdit()));
    EXPECT_EQ(Text(Control(win32::kIdSave)), "Сохранить");
    EXPECT_EQ(Text(Control(win32::kIdCancel)), "Отменить");
    EXPECT_TRUE(GetWindowLongW(Control(win32::kIdSave), GWL_STYLE) & BS_DEFPUSHBUTTON);
    // Esc answers Cancel.
    Key(List(), VK_ESCAPE);
  }};
  EXPECT_EQ(host_.ShowAndRun(steps), steps.size());
  EXPECT_FALSE(IsWindowVisible(Dialog()));  // hidden, kept for the next showing
  EXPECT_TRUE(IsWindowEnabled(host_.Get()));
}

TEST_F(Win32ViewTest, AHostHandleThatIsNoWindowGetsADialogWithoutOwner) {
  // Not a window handle of this process: the dialog must still be shown.
  AdoptHostWindow(reinterpret_cast<void*>(static_cast<uintptr_t>(0x7ffe1234)));
  const std::vector<Step> steps = {[] {
    ASSERT_TRUE(IsWindowVisible(Dialog()));
    EXPECT_EQ(GetWindow(Dialog(), GW_OWNER), nullptr);
    Key(List(), VK_ESCAPE);
  }};
  EXPECT_EQ(host_.ShowAndRun(steps), steps.size());
  EXPECT_FALSE(IsWindowVisible(Dialog()));
}

TEST_F(Win32ViewTest, EditorsEditTheRowsAndEnterInTheSpinEditorSaves) {
  const std::vector<Step> steps = {
      [] { ClickRow(0, kTypeColumnX); },
      [] {
        // The combo on the row, with the row's type chosen and its list down.
        ASSERT_TRUE(IsWindowVisible(Combo()));
        EXPECT_EQ(TopInDialog(Combo()), RowRect(0).top + TopInDialog(List()));
        EXPECT_EQ(SendMessageW(Combo(), CB_GETCURSEL, 0, 0), kTypeEC2000);
        EXPECT_TRUE(SendMessageW(Combo(), CB_GETDROPPEDSTATE, 0, 0));
        ChooseComboItem(kTypeER112);
      },
      [] {
        EXPECT_EQ(Cell(0, 2), "ER112");
        EXPECT_EQ(Cell(0, 3), "100");  // a filled impulses cell keeps its text
        EXPECT_FALSE(IsWindowVisible(Combo()));
        ClickRow(0, kImpulsesColumnX);
      },
      [] {
        ASSERT_TRUE(IsWindowVisible(SpinEdit()));
        EXPECT_EQ(TopInDialog(SpinEdit()), RowRect(0).top + TopInDialog(List()));
        EXPECT_EQ(Text(SpinEdit()), "100");
        ClickCenter(SpinEdit());
        PostMessageW(SpinEdit(), EM_SETSEL, 0, -1);
        Type(SpinEdit(), "75");
      },
      [] {
        EXPECT_EQ(Text(SpinEdit()), "75");
        // Leaving the editor for the next row puts its text into its own row.
        ClickRow(1, kImpulsesColumnX);
      },
      [] {
        EXPECT_EQ(Cell(0, 3), "75");
        ASSERT_TRUE(IsWindowVisible(SpinEdit()));
        EXPECT_EQ(TopInDialog(SpinEdit()), RowRect(1).top + TopInDialog(List()));
        EXPECT_EQ(Text(SpinEdit()), "40");
        ClickCenter(SpinEdit());
        Key(SpinEdit(), VK_UP);  // the up-down control's arrow key
      },
      [] {
        EXPECT_EQ(Text(SpinEdit()), "41");
        Key(SpinEdit(), VK_RETURN);
      },
  };
  EXPECT_EQ(host_.ShowAndRun(steps), steps.size());
  EXPECT_FALSE(IsWindowVisible(Dialog()));
  EXPECT_EQ(PortTypes().TrkType(2), kTypeER112);
  EXPECT_EQ(PortTypes().Impl(2), 75);
  EXPECT_EQ(PortTypes().TrkType(5), kTypeFAS);
  EXPECT_EQ(PortTypes().Impl(5), 41);
  // The other section is kept, and the dialog's position is not in the file.
  EXPECT_EQ(ReadFile(ini_),
            "[Other]\r\nKey=kept\r\n\r\n[COMTypeTRK]\r\nCOM_2_TYPE=3\r\nCOM_2_IMPL=75\r\n"
            "COM_5_TYPE=1\r\nCOM_5_IMPL=41\r\n");
}

TEST_F(Win32ViewTest, CancelKeepsTableAndFileAndTheNextShowingStartsAfreshWhereItWasLeft) {
  const std::vector<Step> first = {
      [] { ClickRow(1, kTypeColumnX); },
      [] {
        ASSERT_TRUE(IsWindowVisible(Combo()));
        ChooseComboItem(kTypeER32);
      },
      [] {
        EXPECT_EQ(Cell(1, 2), "ER3/2");
        EXPECT_EQ(Cell(1, 3), "");
        SetWindowPos(Dialog(), nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ClickCenter(Control(win32::kIdCancel));
      },
  };
  EXPECT_EQ(host_.ShowAndRun(first), first.size());
  EXPECT_EQ(PortTypes().TrkType(5), kTypeFAS);
  EXPECT_EQ(PortTypes().Impl(5), 40);
  EXPECT_EQ(ReadFile(ini_), "[Other]\r\nKey=kept\r\n");

  const std::vector<Step> second = {[] {
    EXPECT_EQ(Cell(1, 2), "FAS");
    EXPECT_EQ(Cell(1, 3), "40");
    RECT rect{};
    GetWindowRect(Dialog(), &rect);
    EXPECT_EQ(rect.left, 123);
    EXPECT_EQ(rect.top, 77);
    ClickCenter(Control(win32::kIdCancel));
  }};
  EXPECT_EQ(host_.ShowAndRun(second), second.size());
  EXPECT_EQ(ReadFile(ini_), "[Other]\r\nKey=kept\r\n");
}

}  // namespace
}  // namespace vu30::config
