// SPDX-License-Identifier: MIT
// Opening a post: its worker, the dispatcher registrations and the channel's
// line set-up by the port's dispenser type.
#include "config/port_type_table.h"
#include "driver/protocol.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
#include "platform/host_entry.h"
#include "platform/thread_cancel.h"
#include "vu30.h"

namespace vu30::driver {

namespace {
using namespace protocol;

// The line settings word: 1200 in the low 16 bits, the top byte by type.
constexpr uint32_t kLineSettingsDefault = 0x030004B0;
constexpr uint32_t kLineSettingsImpulses = 0x040004B0;  // FAS, ER112
constexpr uint32_t kLineSettingsER32 = 0x050004B0;
}  // namespace

void ZUD30::OpenPost(int32_t post) {
  Post& record = PostAt(post);
  const uint8_t p = record.Number();
  dispatcher_->SetPostInit(p, gates_[p]);
  PreparePost(p);
  // The state request only wakes up an ЕС-2000 dispenser; its outcome,
  // whatever it is, is no concern of the host: a host exception raised in it
  // (the reply check's registration included) is contained and dropped here.
  // A cancellation of the host's thread goes on.
  try {
    const platform::ContainedHostCalls contained;
    if (config::PortTypes().GetPortType(p) == config::kTypeEC2000) {
      link::Frame frame{kCmdState, kStateAtOpening};
      link_.SendRequest(record.channel, link::Origin::Host, &frame, kState.length,
                        kState.replyLength, kState.replyType);
    }
  } catch (...) {
    if (platform::HandlingThreadCancellation()) throw;  // the thread goes on ending
  }
}

void ZUD30::PreparePost(uint8_t post) {
  Post& record = PostAt(post);
  config::PortTypes().MarkInUse(post);
  {
    std::lock_guard lock(workersMutex_);
    if (!record.workerOwner) {
      record.workerOwner = std::make_unique<TTrkRequest>(record, link_);
      record.worker.store(record.workerOwner.get(), std::memory_order_release);
      router_.SetSlot(post, record.workerOwner.get());
      config::PortTypes().Hold(post);  // released when this driver object goes
    }
  }
  dispatcher_->SetMessageHook(post, gates_[post]);
  const uint8_t type = config::PortTypes().GetPortType(post);
  if (type == config::kPortLookupFailed) return;  // an unknown type gets no line set-up
  uint32_t settings = kLineSettingsDefault;
  if (config::CountsImpulses(type)) {
    settings = kLineSettingsImpulses;
  } else if (type == config::kTypeER32) {
    settings = kLineSettingsER32;
  }
  (void)dispatcher_->ConfigureChannel(post, VU30_CONFIGURE_MODE, settings);
}

}  // namespace vu30::driver
