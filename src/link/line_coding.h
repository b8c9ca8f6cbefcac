/* SPDX-License-Identifier: MIT */
// Line byte coding: every data byte on the dispenser line carries one 4-bit
// digit as four complementary bit pairs. Pair k (line bits L7-L6, L5-L4,
// L3-L2, L1-L0 for k = 0..3) carries digit bit bk: lower bit = the digit bit,
// upper bit = its complement. Exactly 16 of the 256 byte values are well formed.
//
// The operations are defined here, inline, because every request digit and
// every received byte goes through them on the workers' answer path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vu30::link {

namespace coding {
// The constant mask tables of the line coding, used in the order given.
inline constexpr std::array<uint8_t, 4> kCodingMasks{0x01, 0x02, 0x04, 0x08};    // b0..b3
inline constexpr std::array<uint8_t, 4> kDecodingMasks{0x01, 0x04, 0x10, 0x40};  // L0, L2, L4, L6
inline constexpr std::array<uint8_t, 4> kLowerBitMasks{0x01, 0x04, 0x10,
                                                       0x40};  // lower bit of a pair
inline constexpr std::array<uint8_t, 4> kUpperBitMasks{0x02, 0x08, 0x20,
                                                       0x80};  // upper bit of a pair
}  // namespace coding

// Codes the low four bits of digit; the upper four are ignored.
constexpr uint8_t EncodeDigit(uint8_t digit) {
  unsigned result = 0;
  for (const uint8_t mask : coding::kCodingMasks) {
    // Digit bit 1 -> pair 01, digit bit 0 -> pair 10; the first mask ends up in L7..L6.
    result = (result * 4 + ((digit & mask) != 0 ? 1u : 2u)) & 0xFFu;
  }
  return static_cast<uint8_t>(result);
}

// True when all four pairs of the byte are complementary.
constexpr bool IsValidLineByte(uint8_t byte) {
  for (std::size_t k = 0; k < coding::kLowerBitMasks.size(); ++k) {
    const unsigned lower = byte & coding::kLowerBitMasks[k];
    const unsigned upper = byte & coding::kUpperBitMasks[k];
    if ((lower << 1) == upper) return false;  // 0 0 or 1 1: not complementary
  }
  return true;
}

// The digit carried by a byte (its even bits); does not test the byte.
constexpr uint8_t DecodeLineByte(uint8_t byte) {
  unsigned result = 0;
  for (const uint8_t mask : coding::kDecodingMasks) {
    // L0 carries b3 and comes first, L6 carries b0 and comes last.
    result = result * 2 + ((byte & mask) != 0 ? 1u : 0u);
  }
  return static_cast<uint8_t>(result);
}

}  // namespace vu30::link
