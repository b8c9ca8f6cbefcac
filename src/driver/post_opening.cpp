// Opening a post: its worker, the dispatcher registrations and the channel's
// line set-up by the port's dispenser type.
#include "config/port_type_table.h"
#include "driver/messages.h"
#include "driver/protocol.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
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
  const int p = CheckedPost(post);
  dispatcher_->SetPostInit(static_cast<uint8_t>(p), *this);
  PreparePost(static_cast<uint8_t>(p));
  // The state request only wakes up an ЕС-2000 dispenser; its outcome,
  // whatever it is, is no concern of the host.
  try {
    if (config::PortTypes().GetPortType(static_cast<uint8_t>(p)) == config::kTypeEC2000) {
      uint8_t buffer[kStateReplyLength] = {kCmdState, kStateAtOpening};
      if (link_.SendRequest(static_cast<uint8_t>(p), buffer, 2, kStateReplyLength,
                            kStateReplyType) != 0) {
        throw ESerialIO(messages::kStateFailed);
      }
    }
  } catch (...) {
  }
}

void ZUD30::PreparePost(uint8_t post) {
  const int p = CheckedPost(post);
  config::PortTypes().MarkInUse(p);
  {
    std::lock_guard lock(workersMutex_);
    if (!workerOwners_[p]) {
      workerOwners_[p] = std::make_unique<TTrkRequest>(
          *this, static_cast<uint8_t>(p + link::kWorkerAddressOffset));
      workers_[p].store(workerOwners_[p].get(), std::memory_order_release);
      config::PortTypes().Hold(p);  // released when this driver object goes
    }
  }
  dispatcher_->SetMessageHook(post, router_);
  uint32_t settings = kLineSettingsDefault;
  switch (config::PortTypes().GetPortType(post)) {
    case config::kTypeFAS:
    case config::kTypeER112:
      settings = kLineSettingsImpulses;
      break;
    case config::kTypeER32:
      settings = kLineSettingsER32;
      break;
    case config::kPortLookupFailed:
      return;  // a port whose type is unknown gets no line set-up
    default:
      break;
  }
  (void)dispatcher_->ConfigureChannel(post, VU30_CONFIGURE_MODE, settings);
}

}  // namespace vu30::driver
