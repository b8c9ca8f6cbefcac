/* SPDX-License-Identifier: MIT */
// A trace's records on their way to the file: fixed-size records in bounded
// lock-free rings. Any thread may push (several at once); one thread, the
// trace's writer, takes them out. A push never waits: when the ring is full
// it refuses the record, and the caller counts it as dropped.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "trace/trace_format.h"

namespace vu30::trace {

// One recorded call. Which fields count depends on the entry (see the
// writer); everything is plain data, copied into and out of the ring.
struct Record {
  enum Flag : uint16_t {
    kChecked = 1u << 0,      // the reply check ran: replyBytes are the received bytes
    kAccepted = 1u << 1,     // the reply check's verdict was true
    kHasStatus = 1u << 2,    // the channel's status was set during the exchange
    kHasError = 1u << 3,     // the channel's error was set during the exchange
    kFaulted = 1u << 4,      // the host's code raised; faultCode tells what
    kReplyCopied = 1u << 5,  // no check ran: replyBytes are the reply buffer afterwards
  };
  int64_t timeNs = 0;      // since the trace was opened
  int64_t durationNs = 0;  // of the forwarded call
  uint32_t thread = 0;
  uint32_t faultCode = 0;  // the structured exception's code; 0 for a C++ exception
  int32_t value = 0;       // result, value returned or set, error code, mode
  int32_t error = 0;       // the error set on the channel during the exchange
  uint32_t settings = 0;   // ConfigureChannel's line settings
  int32_t mode = 0;        // ConfigureChannel's mode
  uint16_t flags = 0;
  Entry entry{};
  uint8_t channel = 0;  // channel, or post for the entries that name a post
  uint8_t lineAddress = 0;
  uint8_t requestLength = 0;  // also a message's length
  uint8_t replyAwaited = 0;
  uint8_t replyCount = 0;  // the received count reported to the check
  uint8_t countAfter = 0;  // the count the check left
  uint8_t replyType = 0;
  uint8_t status = 0;  // the status set on the channel during the exchange
  std::array<uint8_t, kKeptBytes> request{};
  std::array<uint8_t, kKeptBytes> reply{};
};

// A bounded multi-producer, single-consumer queue of records (each cell
// carries a sequence number that tells whose turn it is).
template <std::size_t Capacity>
class RecordRing {
  static_assert((Capacity & (Capacity - 1)) == 0, "a power of two");

 public:
  RecordRing() {
    for (std::size_t i = 0; i < Capacity; ++i)
      cells_[i].sequence.store(i, std::memory_order_relaxed);
  }

  // Copies r in; false when the ring is full.
  bool TryPush(const Record& r) {
    std::size_t pos = tail_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[pos & (Capacity - 1)];
      const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos);
      if (diff == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          cell.record = r;
          // seq_cst: the writer's look before it sleeps must not miss it.
          cell.sequence.store(pos + 1, std::memory_order_seq_cst);
          return true;
        }
      } else if (diff < 0) {
        return false;
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
  }

  // The writer's side: the oldest record, if any.
  bool TryPop(Record& out) {
    Cell& cell = cells_[head_ & (Capacity - 1)];
    if (cell.sequence.load(std::memory_order_acquire) != head_ + 1) return false;
    out = cell.record;
    cell.sequence.store(head_ + Capacity, std::memory_order_release);
    ++head_;
    return true;
  }

  // The writer's side: whether a record waits.
  bool HasRecord() const {
    return cells_[head_ & (Capacity - 1)].sequence.load(std::memory_order_seq_cst) == head_ + 1;
  }

 private:
  struct Cell {
    std::atomic<std::size_t> sequence{0};
    Record record;
  };
  alignas(64) std::atomic<std::size_t> tail_{0};
  alignas(64) std::size_t head_ = 0;  // the writer's own
  std::array<Cell, Capacity> cells_{};
};

}  // namespace vu30::trace
