// SPDX-License-Identifier: MIT
// The routing of the dispenser's own messages on arbitrary input. Input: the
// worker address, then the received bytes.
//
// What must hold: at most one delivery, only to the post the address names
// (opened posts 1..30), only for messages of more than three bytes; a
// delivered message fits the worker's slot, is closed by a zero byte, holds
// digits that code back to the received bytes, and a price or dose request
// (codes 0, 8, 9) is exactly four bytes long.
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "link/message_router.h"
#include "link/request_link.h"

namespace {

using namespace vu30::link;

class RecordingSlot final : public MessageSlot {
 public:
  void Deliver(const uint8_t* message, int32_t length) override {
    vu30::fuzz::Require(length >= 1 && length <= kMessageCapacity, "delivery length out of range");
    ++deliveries;
    delivered.assign(message, message + length);
  }
  int deliveries = 0;
  std::vector<uint8_t> delivered;
};

// The glue: the router as the driver sets it up, one slot per opened post.
void Route(std::array<RecordingSlot, kPostCount + 1>& slots, uint8_t address, uint8_t* buffer,
           uint8_t length) {
  MessageRouter router;
  for (int post = 1; post <= kPostCount; ++post) {
    router.SetSlot(static_cast<uint8_t>(post), &slots[static_cast<std::size_t>(post)]);
  }
  router.RouteMessage(address, buffer, 0, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 + 255) return 0;
  const uint8_t address = data[0];
  const std::vector<uint8_t> received(data + 1, data + size);
  std::vector<uint8_t> buffer(received);
  std::array<RecordingSlot, kPostCount + 1> slots{};
  Route(slots, address, buffer.empty() ? nullptr : buffer.data(),
        static_cast<uint8_t>(buffer.size()));

  int total = 0;
  for (int post = 0; post <= kPostCount; ++post) {
    const RecordingSlot& slot = slots[static_cast<size_t>(post)];
    total += slot.deliveries;
    if (slot.deliveries == 0) continue;
    vu30::fuzz::Require(post == address - kWorkerAddressOffset, "delivered to another post");
    vu30::fuzz::Require(received.size() > 3, "a short message was delivered");
    const std::vector<uint8_t>& m = slot.delivered;
    const size_t shift = received.size() - m.size();
    vu30::fuzz::Require(shift <= 1, "more than one leading byte removed");
    vu30::fuzz::Require(m.back() == 0, "delivered message not closed by zero");
    for (size_t i = 0; i + 1 < m.size(); ++i) {
      vu30::fuzz::Require(m[i] < 16, "a delivered byte is not a digit");
      vu30::fuzz::Require(vu30::fuzz::Encode(m[i]) == received[i + shift],
                          "a delivered digit does not code back to the received byte");
    }
    if (m[0] == 0 || m[0] == 8 || m[0] == 9) {
      vu30::fuzz::Require(m.size() == 4, "a price or dose request of another length");
    }
  }
  vu30::fuzz::Require(total <= 1, "one message delivered more than once");
  return 0;
}
