/* SPDX-License-Identifier: MIT */
// Routing of the dispenser's own messages to the post workers: each message
// is tested and decoded with the reply check (reporting nothing to the
// dispatcher), filtered, copied into the post's message slot, and the slot's
// owner is woken.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "link/frame.h"
#include "link/port_dispatcher.h"

namespace vu30::link {

inline constexpr int kMessageCapacity = 100;

// Where a post's messages go (the post worker). Deliver copies the message
// and wakes the worker; a newer message replaces an older unread one.
class MessageSlot {
 public:
  virtual void Deliver(const uint8_t* message, int32_t length) = 0;

 protected:
  ~MessageSlot() = default;
};

class MessageRouter final : public MessageHook {
 public:
  // Makes slot the destination of post's messages (post 1..kPostCount), or
  // leaves the post without one (null): its messages are then ignored. The
  // slot must stay valid until it is replaced and no routing is in progress.
  void SetSlot(uint8_t post, MessageSlot* slot);

  // Never throws: the dispatcher calls it on a thread of its own.
  void RouteMessage(uint8_t workerAddress, uint8_t* buffer, int32_t reserved,
                    uint8_t length) override;

 private:
  // Written when a post's worker comes or goes, read for every message: the
  // way from a message to its worker is one load, with nothing written.
  std::array<std::atomic<MessageSlot*>, kPostCount + 1> slots_{};  // [0] unused
};

}  // namespace vu30::link
