/* SPDX-License-Identifier: MIT */
// Fault injection: which frames and messages the line damages or loses. Faults
// are drawn at random at the forecourt's rate among the kinds it allows, and
// can also be ordered for the next frames or messages of one post (so that a
// test scripts exactly the fault it wants). Every fault is counted by kind.
//
// Every member may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <vector>

#include "sim_types.h"

namespace vu30::sim {

class FaultInjector {
 public:
  FaultInjector(uint64_t seed, double rate, unsigned kinds);

  // The fault that hits a frame of post awaiting replyLength bytes, or Fault{0}.
  // Faults that need reply bytes are drawn only when there are enough of them.
  Fault DrawForFrame(int post, uint8_t replyLength);
  // True when the post's message is lost before it reaches the driver.
  bool DrawLostMessage(int post);
  // Damages one byte of a reply hit by Fault::MalformedByte.
  void DamageReply(std::vector<uint8_t>& replyBytes);

  // The rate of random faults (0..1; anything else is taken as the nearest, NaN as 0).
  void SetRate(double rate);
  // The next count frames of post fail with fault (a frame fault kind), or the
  // next count messages of post are lost (Fault::LostMessage); 0 cancels.
  void Order(int post, Fault fault, uint32_t count);
  uint64_t Count(Fault fault) const;

 private:
  void Counted(Fault fault);

  const unsigned kinds_;
  std::mutex mu_;
  std::mt19937_64 rng_;
  double rate_;
  struct Ordered {
    Fault frameFault{0};
    uint32_t frames = 0;
    uint32_t messages = 0;
  };
  std::array<Ordered, kPostCount + 1> ordered_{};
  std::array<std::atomic<uint64_t>, kFaultKinds> counts_{};
};

}  // namespace vu30::sim
