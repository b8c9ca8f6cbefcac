#include "link/line_coding.h"

#include <array>

namespace vu30::link {
namespace {

// The constant mask tables of the line coding, used in the order given.
constexpr std::array<uint8_t, 4> kCodingMasks{0x01, 0x02, 0x04, 0x08};    // b0..b3
constexpr std::array<uint8_t, 4> kDecodingMasks{0x01, 0x04, 0x10, 0x40};  // L0, L2, L4, L6
constexpr std::array<uint8_t, 4> kLowerBitMasks{0x01, 0x04, 0x10, 0x40};  // lower bit of a pair
constexpr std::array<uint8_t, 4> kUpperBitMasks{0x02, 0x08, 0x20, 0x80};  // upper bit of a pair

}  // namespace

uint8_t EncodeDigit(uint8_t digit) {
  unsigned result = 0;
  for (const uint8_t mask : kCodingMasks) {
    // Digit bit 1 -> pair 01, digit bit 0 -> pair 10; the first mask ends up in L7..L6.
    result = (result * 4 + ((digit & mask) != 0 ? 1u : 2u)) & 0xFFu;
  }
  return static_cast<uint8_t>(result);
}

bool IsValidLineByte(uint8_t byte) {
  for (std::size_t k = 0; k < kLowerBitMasks.size(); ++k) {
    const unsigned lower = byte & kLowerBitMasks[k];
    const unsigned upper = byte & kUpperBitMasks[k];
    if ((lower << 1) == upper) return false;  // 0 0 or 1 1: not complementary
  }
  return true;
}

uint8_t DecodeLineByte(uint8_t byte) {
  unsigned result = 0;
  for (const uint8_t mask : kDecodingMasks) {
    // L0 carries b3 and comes first, L6 carries b0 and comes last.
    result = result * 2 + ((byte & mask) != 0 ? 1u : 0u);
  }
  return static_cast<uint8_t>(result);
}

}  // namespace vu30::link
