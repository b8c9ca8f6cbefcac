// SPDX-License-Identifier: MIT
// Shows the Win32 port type dialog with four rows, the second selected, for
// a screenshot (scripts/screenshot-win32-dialog.sh): once the dialog is up,
// prints "ready <left> <top> <width> <height>" (its client area on the screen)
// and closes it five seconds later.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstdio>

#include "config/host_window.h"
#include "config/port_type_dialog.h"
#include "config/port_type_table.h"
#include "config/win32/port_type_dialog_win32.h"

namespace {

using namespace vu30::config;

constexpr UINT kTickMs = 250;
constexpr int kCloseAfterTicks = 23;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  static int ticks = 0;  // this program's only timer
  HWND dialog = FindWindowW(win32::kWindowClass, nullptr);
  if (dialog == nullptr || !IsWindowVisible(dialog)) return;
  if (++ticks == 1) {
    // A click on the second row's port cell selects it and opens no editor.
    HWND list = GetDlgItem(dialog, win32::kIdList);
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM(30, (row.top + row.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
  } else if (ticks == 3) {
    // The client area, as the Qt view's picture shows it.
    RECT rect{};
    GetClientRect(dialog, &rect);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("ready %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    std::fflush(stdout);
  } else if (ticks >= kCloseAfterTicks) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

}  // namespace

int main() {
  PortTypeTable& table = PortTypes();
  const struct {
    int port;
    uint8_t type;
    uint8_t impl;
  } rows[] = {{1, kTypeEC2000, 100}, {2, kTypeFAS, 50}, {3, kTypeER32, 100}, {4, kTypeER112, 25}};
  for (const auto& row : rows) {
    table.MarkInUse(row.port);
    table.SetTrkType(row.port, row.type);
    table.SetImpl(row.port, row.impl);
  }
  AdoptHostWindow(nullptr);
  SetTimer(nullptr, 0, kTickMs, &Tick);
  return COMTypeTRKForm.ShowDialog() ? 0 : 1;
}
