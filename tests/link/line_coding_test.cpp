// SPDX-License-Identifier: MIT
// The line byte code over all 256 byte values.
#include "link/line_coding.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace vu30::link {
namespace {

// The complete line code, digit -> line byte.
constexpr std::array<uint8_t, 16> kCode{0xAA, 0x6A, 0x9A, 0x5A, 0xA6, 0x66, 0x96, 0x56,
                                        0xA9, 0x69, 0x99, 0x59, 0xA5, 0x65, 0x95, 0x55};

// Independent reference: every pair (upper, lower) must be 01 or 10.
bool ReferenceValid(unsigned byte) {
  for (int k = 0; k < 4; ++k) {
    const unsigned pair = (byte >> (2 * k)) & 3u;
    if (pair == 0 || pair == 3) return false;
  }
  return true;
}

// Independent reference: digit bit k is line bit 6 - 2k.
uint8_t ReferenceDecode(unsigned byte) {
  unsigned digit = 0;
  for (int k = 0; k < 4; ++k) digit |= ((byte >> (6 - 2 * k)) & 1u) << k;
  return static_cast<uint8_t>(digit);
}

// Encoding ignores the upper four bits: every value codes as its low digit.
TEST(LineCoding, EncodesTheLowDigitOfAll256ValuesAsTheCodeTableSays) {
  for (unsigned v = 0; v < 256; ++v) {
    EXPECT_EQ(EncodeDigit(static_cast<uint8_t>(v)), kCode[v & 0x0F]) << "value " << v;
  }
}

TEST(LineCoding, ExactlyTheSixteenCodeBytesAreValid) {
  const std::set<uint8_t> code(kCode.begin(), kCode.end());
  ASSERT_EQ(code.size(), 16u);
  for (unsigned v = 0; v < 256; ++v) {
    const auto byte = static_cast<uint8_t>(v);
    EXPECT_EQ(IsValidLineByte(byte), code.count(byte) != 0) << "byte " << v;
    EXPECT_EQ(IsValidLineByte(byte), ReferenceValid(v)) << "byte " << v;
  }
}

// Valid bytes decode back to their digit (the code table is the inverse).
TEST(LineCoding, DecodesTheEvenBitsOfAll256Values) {
  for (unsigned v = 0; v < 256; ++v) {
    EXPECT_EQ(DecodeLineByte(static_cast<uint8_t>(v)), ReferenceDecode(v)) << "byte " << v;
  }
  for (unsigned d = 0; d < 16; ++d) EXPECT_EQ(DecodeLineByte(kCode[d]), d);
}

}  // namespace
}  // namespace vu30::link
