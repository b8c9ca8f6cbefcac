// SPDX-License-Identifier: MIT
#include "driver/zud30.h"

#include <cstring>
#include <string>

#include "config/port_type_table.h"
#include "driver/messages.h"
#include "driver/trk_request.h"
#include "link/own_exchange.h"
#include "platform/hot_path.h"
#include "vu30.h"

namespace vu30::driver {

ZUD30::ZUD30(std::unique_ptr<link::PortDispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)),
      link_(*dispatcher_),
      gates_(link::CallbackGate::KeepNewGates()) {
  config::PortTypes().Load();
  for (int p = 1; p <= kPosts; ++p) {
    Post& post = posts_[static_cast<std::size_t>(p)];
    link::CallbackGate& gate = gates_[static_cast<std::size_t>(p)];
    post.channel.Attach(*dispatcher_, static_cast<uint8_t>(p), gate);
    post.channel.SetLinkStatus(link::kLinkGood);
    gate.Open(post.channel, router_, *this);
  }
}

ZUD30::~ZUD30() {
  // The dispatcher may go on calling the registered methods: from now on
  // they find their gates closed, and the calls already inside have ended.
  for (link::CallbackGate& gate : gates_) gate.Close();
  // Every worker is told to end and woken first, then each is waited for; a
  // worker may be inside a transaction, so the link and its locks are
  // released only after the last worker has finished.
  for (Post& post : posts_) {
    if (post.workerOwner) post.workerOwner->RequestTermination();
  }
  for (int p = 1; p <= kPosts; ++p) {
    Post& post = posts_[static_cast<std::size_t>(p)];
    if (!post.workerOwner) continue;
    router_.SetSlot(static_cast<uint8_t>(p), nullptr);
    post.worker.store(nullptr, std::memory_order_release);
    post.workerOwner.reset();
    config::PortTypes().Release(p);
  }
}

VU30_HOT_PATH Post& ZUD30::PostAt(int64_t post) {
  if (post < 1 || post > kPosts) {
    throw EVu30Refused("vu30: post " + std::to_string(post) + " is outside 1..30");
  }
  return posts_[static_cast<std::size_t>(post)];
}

const Post& ZUD30::PostAt(int64_t post) const { return const_cast<ZUD30*>(this)->PostAt(post); }

VU30_HOT_PATH int ZUD30::CheckedNozzle(int64_t nozzle) {
  if (nozzle < 1 || nozzle > kNozzles) {
    throw EVu30Refused("vu30: nozzle " + std::to_string(nozzle) + " is outside 1..8");
  }
  return static_cast<int>(nozzle);
}

VU30_HOT_PATH Post& ZUD30::OpenedPost(int64_t post) {
  Post& record = PostAt(post);
  if (record.worker.load(std::memory_order_acquire) == nullptr) {
    throw EVu30Refused("vu30: post " + std::to_string(post) + " has not been opened");
  }
  return record;
}

VU30_HOT_PATH link::Exchange ZUD30::HostExchange(Post& post, link::Frame& frame,
                                                 protocol::Request request, const char* failure) {
  const link::Exchange exchange =
      link_.SendRequest(post.channel, link::Origin::Host, &frame, request.length,
                        request.replyLength, request.replyType);
  if (exchange.result != 0) throw ESerialIO(failure);
  return exchange;
}

bool ZUD30::InsideOwnExchange() const { return link::OwnExchange::Inside(dispatcher_.get()); }

void ZUD30::GetDriverInfo(uint8_t* result) {
  if (result == nullptr) throw EVu30Refused("vu30: no buffer for the driver information");
  std::memcpy(result, messages::kDriverInfo, VU30_DRIVER_INFO_SIZE);
}

void ZUD30::SetLinkStatus(int post, uint8_t value) { PostAt(post).channel.SetLinkStatus(value); }

uint8_t ZUD30::GetLinkStatus(int post) const { return PostAt(post).channel.LinkStatus(); }

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
