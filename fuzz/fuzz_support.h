/* SPDX-License-Identifier: MIT */
// What the fuzz targets share: a failed invariant aborts, so that libFuzzer
// keeps the input as a finding; and the line code, written out here on its
// own so that a target checks the library against an independent table.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vu30::fuzz {

inline void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Digit d travels as four complementary bit pairs, b0 in bits 7..6 up to b3
// in bits 1..0; in each pair the lower bit is the digit bit.
inline uint8_t Encode(uint8_t digit) {
  unsigned byte = 0;
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (digit >> k) & 1u;
    const unsigned pair = bit ? 0b01u : 0b10u;
    byte |= pair << (6 - 2 * k);
  }
  return static_cast<uint8_t>(byte);
}

}  // namespace vu30::fuzz
