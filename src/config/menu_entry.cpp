// SPDX-License-Identifier: MIT
#include "config/menu_entry.h"

#include <atomic>
#include <string_view>

#include "config/port_type_dialog.h"
#include "platform/call_into_host.h"
#include "platform/cp1251.h"
#include "platform/fp_state.h"
#include "platform/host_entry.h"
#include "platform/thread_cancel.h"

namespace vu30::config {

namespace {

// True from library load until the first AddMenuEntry that completes.
std::atomic<bool> MenuPending{true};

constexpr auto kTrkCaption = platform::Cp1251Literal("&ТРК");
constexpr auto kEntryCaption = platform::Cp1251Literal("Программирование параметров Trovelheim");
static_assert(kTrkCaption.view() == std::string_view("\x26\xD2\xD0\xCA"));

// What the click's body hands back to the click.
struct ClickOutcome {
  bool hostRaised = false;
  platform::HostExceptionRecord host;
  platform::FpState hostFpState;
};

// The click's body: the entry and its floating-point scope live here and
// are ended before it returns, so that nothing of them stays registered
// whichever way the click then leaves. No error of the dialog crosses it
// (the dialog has told the operator what concerns him); a structured
// exception raised in the library's frames under it (outside the dialog's
// window procedure, which has a guard of its own) is taken by the entry's
// guard, and the click returns as when the dialog has closed.
void ClickBody(ClickOutcome& outcome) {
  const platform::HostEntry entry(platform::HostEntry::HostExceptions::kContain);
  platform::LibraryFpScope fpState;
  auto body = [&]() noexcept(!platform::kCancellationUnwinds) {
    try {
      COMTypeTRKForm.ShowDialog();
    } catch (const platform::HostFault& fault) {
      outcome.host = fault.Record();
      outcome.hostRaised = true;
    } catch (...) {
      // The host's thread cancelled while the dialog was up goes on ending.
      if constexpr (platform::kCancellationUnwinds) {
        if (platform::HandlingThreadCancellation()) throw;
      }
    }
  };
  platform::HostExceptionRecord fault;
  (void)platform::RunEntryBody(body, fault);
  outcome.hostFpState = fpState.Release();
}

// The entry's click handler. It uses neither the driver object it is bound to
// nor the sender: the dialog is library-wide. Returns after the dialog has
// closed, or at once when there is no screen to show it on.
// Called by the host's menu: an entry from the host. A host exception raised
// in one of the host's own window procedures while the dialog ran goes on to
// the host, unchanged, once the dialog is closed (a host that continues it
// gets the click's normal return). It is raised from this frame, which holds
// nothing: the host's handler may end it without unwinding it.
void VU30_CALL MenuParamsClick(void* /*data*/, void* /*sender*/) {
  ClickOutcome outcome;
  ClickBody(outcome);
  platform::RestoreFpState(outcome.hostFpState);
  if (outcome.hostRaised) platform::RaiseHostException(outcome.host);
}

// The table of a host's menu item, refused like a missing item when an entry
// that will be called is missing.
template <typename... Entries>
const Vu30MenuItemTable& TableOf(Vu30MenuItem* item, const char* what,
                                 Entries Vu30MenuItemTable::*... called) {
  if (item == nullptr || item->table == nullptr || ((item->table->*called == nullptr) || ...)) {
    throw EVu30Refused(std::string("AddMenuEntry: ") + what + " is not a menu item");
  }
  return *item->table;
}

Vu30MenuItem* CreateMenuItem(Vu30MenuItem* parent, Vu30CreateItemFn createItem, void* clickData) {
  Vu30MenuItem* item = platform::CallHostPassing(createItem, parent, -1);
  const Vu30MenuItemTable& table =
      TableOf(item, "the item made by CreateItem", &Vu30MenuItemTable::SetCaption,
              &Vu30MenuItemTable::SetHint, &Vu30MenuItemTable::SetHelpContext,
              &Vu30MenuItemTable::SetShortCut, &Vu30MenuItemTable::SetOnClick);
  platform::CallHostPassing(table.SetCaption, item, kEntryCaption.c_str());
  platform::CallHostPassing(table.SetHint, item, kEntryCaption.c_str());
  platform::CallHostPassing(table.SetHelpContext, item, 0);
  platform::CallHostPassing(table.SetShortCut, item, 0);
  Vu30BoundMethod onClick{};
  onClick.code = reinterpret_cast<void*>(&MenuParamsClick);
  onClick.data = clickData;
  platform::CallHostPassing(table.SetOnClick, item, onClick);
  return item;
}

}  // namespace

void AddMenuEntry(Vu30MenuItem* parentItem, Vu30CreateItemFn createItem, void* clickData) {
  if (MenuPending.load(std::memory_order_relaxed)) {
    const Vu30MenuItemTable& parent =
        TableOf(parentItem, "the parent item", &Vu30MenuItemTable::Count, &Vu30MenuItemTable::Item);
    if (createItem == nullptr) throw EVu30Refused("AddMenuEntry: no item-creation function");
    const int32_t count = platform::CallHostPassing(parent.Count, parentItem);
    for (int32_t i = 0; i < count; ++i) {
      Vu30MenuItem* child = platform::CallHostPassing(parent.Item, parentItem, i);
      const char* caption = platform::CallHostPassing(
          TableOf(child, "a child of the parent item", &Vu30MenuItemTable::Caption).Caption, child);
      if (caption != nullptr && std::string_view(caption) == kTrkCaption.view()) {
        CreateMenuItem(child, createItem, clickData);
        break;
      }
    }
  }
  MenuPending.store(false, std::memory_order_relaxed);
}

void ResetMenuEntry() { MenuPending.store(true, std::memory_order_relaxed); }

}  // namespace vu30::config
