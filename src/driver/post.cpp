// SPDX-License-Identifier: MIT
#include "driver/post.h"

#include "driver/amounts.h"
#include "driver/trk_request.h"

namespace vu30::driver {

void DoseRecord::Set(uint8_t nozzle, double amount) {
  word_.store(HundredthsOf(amount) << 8 | nozzle, std::memory_order_relaxed);
}

DoseRecord::Value DoseRecord::Get() const {
  const uint64_t word = word_.load(std::memory_order_relaxed);
  return Value{static_cast<uint8_t>(word & 0xFF), word >> 8};
}

Post::Post() = default;
Post::~Post() = default;

}  // namespace vu30::driver
