/* SPDX-License-Identifier: MIT */
// The dispenser's own line coding: every data byte carries one 4-bit digit as
// four complementary bit pairs (digit bit b0 in bits 7..6, b3 in bits 1..0;
// within a pair the lower bit is the digit bit and the upper bit its
// complement). The dispenser side codes its replies and messages with it and
// decodes the requests it receives.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vu30::sim {

inline constexpr std::array<uint8_t, 16> kLineCode = {
    0xAA, 0x6A, 0x9A, 0x5A, 0xA6, 0x66, 0x96, 0x56, 0xA9, 0x69, 0x99, 0x59, 0xA5, 0x65, 0x95, 0x55};

// The line byte of the low four bits of digit.
constexpr uint8_t EncodeDigit(uint8_t digit) { return kLineCode[digit & 0x0F]; }

// The digit a well-formed line byte carries, or nothing for a malformed byte.
constexpr std::optional<uint8_t> DecodeLineByte(uint8_t lineByte) {
  for (uint8_t d = 0; d < 16; ++d) {
    if (kLineCode[d] == lineByte) return d;
  }
  return std::nullopt;
}

}  // namespace vu30::sim
