// SPDX-License-Identifier: MIT
// The library's one export.
#include <atomic>
#include <memory>

#include "boundary/boundary_errors.h"
#include "boundary/driver_object.h"
#include "config/host_window.h"
#include "link/host_dispatcher.h"
#include "vu30.h"

namespace vu30::boundary {
namespace {
// The library-wide driver reference of the driver's design: the most recently
// created driver object, cleared when it is destroyed. Nothing reads it: each
// worker acts on its own post.
std::atomic<Vu30Driver*> gDriverReference{nullptr};

void CheckDispatcher(const Vu30Dispatcher* dispatcher) {
  if (dispatcher == nullptr || dispatcher->table == nullptr) {
    throw EVu30Refused("vu30: GetVU30 needs the host's port dispatcher");
  }
  const Vu30DispatcherTable& t = *dispatcher->table;
  if (t.GetChannelError == nullptr || t.SetChannelError == nullptr ||
      t.SetChannelStatus == nullptr || t.GetChannelStatus == nullptr ||
      t.ConfigureChannel == nullptr || t.Transact == nullptr || t.SetReplyChecker == nullptr ||
      t.SetMessageHook == nullptr || t.SetPostInit == nullptr) {
    throw EVu30Refused(
        "vu30: the port dispatcher's table lacks an entry the driver calls (1-4, 17-21)");
  }
}

Vu30Driver* VU30_CALL CreateDriver(uint8_t /*ignored*/, void* hostWindow,
                                   Vu30Dispatcher* dispatcher) {
  CheckDispatcher(dispatcher);
  config::AdoptHostWindow(hostWindow);
  auto object = std::make_unique<DriverObject>();
  object->table = &DriverTable();
  object->driver =
      std::make_unique<driver::ZUD30>(std::make_unique<link::HostDispatcher>(dispatcher));
  Vu30Driver* handle = object.release();  // the host owns it until slot 25
  gDriverReference.store(handle);
  return handle;
}
}  // namespace

void ForgetDriver(Vu30Driver* self) {
  Vu30Driver* expected = self;
  gDriverReference.compare_exchange_strong(expected, nullptr);
}

}  // namespace vu30::boundary

extern "C" VU30_EXPORT Vu30Driver* VU30_CALL GetVU30(uint8_t ignored, void* hostWindow,
                                                     Vu30Dispatcher* dispatcher) {
  return vu30::boundary::Guarded<&vu30::boundary::CreateDriver>(ignored, hostWindow, dispatcher);
}
