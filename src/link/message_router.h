// Routing of the dispenser's own messages to the post workers: each message
// is tested and decoded with the reply check (reporting nothing to the
// dispatcher), filtered, copied into the post's message slot, and the slot's
// owner is woken.
#pragma once

#include <cstdint>
#include <functional>

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
  // findSlot returns the slot of an opened post 1..30, or null.
  explicit MessageRouter(std::function<MessageSlot*(uint8_t post)> findSlot)
      : findSlot_(std::move(findSlot)) {}

  // Never throws: the dispatcher calls it on a thread of its own.
  void RouteMessage(uint8_t workerAddress, uint8_t* buffer, int32_t reserved,
                    uint8_t length) override;

 private:
  std::function<MessageSlot*(uint8_t post)> findSlot_;
};

}  // namespace vu30::link
