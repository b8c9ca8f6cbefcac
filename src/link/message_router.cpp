// SPDX-License-Identifier: MIT
#include "link/message_router.h"

#include "link/frame.h"
#include "link/request_link.h"
#include "platform/hot_path.h"

namespace vu30::link {
namespace {

// Message codes that are accepted only with exactly three digits (four bytes
// with the closing zero): the price requests 0 and 9 and the dose request 8.
constexpr bool NeedsThreeDigits(uint8_t code) { return code == 0 || code == 8 || code == 9; }
constexpr uint8_t kThreeDigitLength = 4;
// Messages of this many bytes or fewer are ignored.
constexpr uint8_t kShortestIgnored = 3;

}  // namespace

void MessageRouter::SetSlot(uint8_t post, MessageSlot* slot) {
  if (post >= 1 && post <= kPostCount) slots_[post].store(slot, std::memory_order_release);
}

VU30_HOT_PATH void MessageRouter::RouteMessage(uint8_t workerAddress, uint8_t* buffer,
                                               int32_t /*reserved*/, uint8_t length) {
  try {
    // The worker of post WorkerAddress - 32; an address that names no opened
    // post is ignored.
    if (workerAddress <= kWorkerAddressOffset ||
        workerAddress > kWorkerAddressOffset + kPostCount || buffer == nullptr) {
      return;
    }
    const auto post = static_cast<uint8_t>(workerAddress - kWorkerAddressOffset);
    MessageSlot* const slot = slots_[post].load(std::memory_order_acquire);
    if (slot == nullptr) return;
    // Too short.
    if (length <= kShortestIgnored) return;
    // Test and decode in place, reporting nothing (channel 0).
    const uint8_t expected = length;
    if (!CheckReplyFrame(nullptr, 0, buffer, length, expected)) return;
    // The worker's slot holds kMessageCapacity bytes: a longer message is dropped.
    if (length > kMessageCapacity) return;
    // Codes 0, 8 and 9 only with three digits.
    if (NeedsThreeDigits(buffer[0]) && length != kThreeDigitLength) return;
    // Copy and wake the worker.
    slot->Deliver(buffer, length);
  } catch (...) {
    // The dispatcher's thread must not see an exception; the message is lost.
  }
}

}  // namespace vu30::link
