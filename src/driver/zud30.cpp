#include "driver/zud30.h"

#include <cstring>
#include <string>

#include "config/port_type_table.h"
#include "driver/messages.h"
#include "driver/trk_request.h"
#include "vu30.h"

namespace vu30::driver {

ZUD30::ZUD30(std::unique_ptr<link::PortDispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)),
      link_(*dispatcher_),
      router_([this](uint8_t post) -> link::MessageSlot* {
        return post >= 1 && post <= kPosts ? workers_[post].load(std::memory_order_acquire)
                                           : nullptr;
      }) {
  for (int post = 1; post <= kPosts; ++post) {
    link_.SetLinkStatus(post, link::kLinkGood);
    pumpState_[post].store(kStateIdle, relaxed);
    overDoseCount_[post].store(0, relaxed);
    pricePending_[post].store(false, relaxed);
  }
  config::PortTypes().Load();
}

ZUD30::~ZUD30() {
  // Every worker is told to end and woken first, then each is waited for; a
  // worker may be inside a transaction, so the link and its locks are
  // released only after the last worker has finished.
  for (auto& worker : workerOwners_) {
    if (worker) worker->RequestTermination();
  }
  for (int post = 1; post <= kPosts; ++post) {
    workers_[post].store(nullptr, std::memory_order_release);
    if (workerOwners_[post]) config::PortTypes().Release(post);
    workerOwners_[post].reset();
  }
}

int ZUD30::CheckedPost(int64_t post) {
  if (post < 1 || post > kPosts) {
    throw EVu30Refused("vu30: post " + std::to_string(post) + " is outside 1..30");
  }
  return static_cast<int>(post);
}

int ZUD30::CheckedNozzle(int64_t nozzle) {
  if (nozzle < 1 || nozzle > kNozzles) {
    throw EVu30Refused("vu30: nozzle " + std::to_string(nozzle) + " is outside 1..8");
  }
  return static_cast<int>(nozzle);
}

TTrkRequest* ZUD30::Worker(int post) const {
  return workers_[CheckedPost(post)].load(std::memory_order_acquire);
}

TTrkRequest& ZUD30::OpenedWorker(int post) const {
  TTrkRequest* worker = Worker(post);
  if (worker == nullptr) {
    throw EVu30Refused("vu30: post " + std::to_string(post) + " has not been opened");
  }
  return *worker;
}

double ZUD30::Price(int post, int nozzle) const {
  return prices_[CheckedPost(post)][CheckedNozzle(nozzle)].load(relaxed);
}

void ZUD30::GetDriverInfo(uint8_t* result) {
  if (result == nullptr) throw EVu30Refused("vu30: no buffer for the driver information");
  std::memcpy(result, messages::kDriverInfo, VU30_DRIVER_INFO_SIZE);
}

void ZUD30::SetLinkStatus(int post, uint8_t value) {
  link_.SetLinkStatus(CheckedPost(post), value);
}

uint8_t ZUD30::GetLinkStatus(int post) const { return link_.LinkStatus(CheckedPost(post)); }

bool ZUD30::GetCapability(int32_t number, int32_t* value) {
  struct Capability {
    uint32_t number;
    int32_t value;
  };
  static constexpr Capability kCapabilities[] = {{1, 1}, {2, 0}, {3, 1},
                                                 {5, 1}, {6, 0}, {9, 99999}};
  for (const auto& capability : kCapabilities) {
    if (capability.number == static_cast<uint32_t>(number)) {
      if (value == nullptr) throw EVu30Refused("vu30: no place for the capability value");
      *value = capability.value;
      return true;
    }
  }
  return false;
}

}  // namespace vu30::driver
