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

TEST(LineCoding, EncodesEveryDigitAsTheCodeTableSays) {
  for (unsigned d = 0; d < 16; ++d) {
    EXPECT_EQ(EncodeDigit(static_cast<uint8_t>(d)), kCode[d]) << "digit " << d;
  }
  EXPECT_EQ(EncodeDigit(0), 0xAA);
  EXPECT_EQ(EncodeDigit(15), 0x55);
  EXPECT_EQ(EncodeDigit(11), 0x59);
}

TEST(LineCoding, EncodingIgnoresTheUpperFourBitsForAll256Values) {
  for (unsigned v = 0; v < 256; ++v) {
    EXPECT_EQ(EncodeDigit(static_cast<uint8_t>(v)), kCode[v & 0x0F]) << "value " << v;
  }
  EXPECT_EQ(EncodeDigit(0x13), 0x5A);
  EXPECT_EQ(EncodeDigit(0x13), EncodeDigit(3));
}

TEST(LineCoding, ExactlyTheSixteenCodeBytesAreValid) {
  const std::set<uint8_t> code(kCode.begin(), kCode.end());
  ASSERT_EQ(code.size(), 16u);
  int valid = 0;
  for (unsigned v = 0; v < 256; ++v) {
    const auto byte = static_cast<uint8_t>(v);
    const bool expected = code.count(byte) != 0;
    EXPECT_EQ(IsValidLineByte(byte), expected) << "byte " << v;
    EXPECT_EQ(IsValidLineByte(byte), ReferenceValid(v)) << "byte " << v;
    valid += IsValidLineByte(byte) ? 1 : 0;
  }
  EXPECT_EQ(valid, 16);
}

TEST(LineCoding, NamedMalformedBytes) {
  EXPECT_FALSE(IsValidLineByte(0x00));
  EXPECT_FALSE(IsValidLineByte(0xFF));
  EXPECT_FALSE(IsValidLineByte(0x6B));  // last pair 1 1
  for (uint8_t a = 0x01; a <= 0x08; ++a) EXPECT_FALSE(IsValidLineByte(a)) << int{a};
  for (uint8_t a = 0x21; a <= 0x28; ++a) EXPECT_FALSE(IsValidLineByte(a)) << int{a};
}

TEST(LineCoding, DecodesTheEvenBitsOfAll256Values) {
  for (unsigned v = 0; v < 256; ++v) {
    EXPECT_EQ(DecodeLineByte(static_cast<uint8_t>(v)), ReferenceDecode(v)) << "byte " << v;
  }
  EXPECT_EQ(DecodeLineByte(0x00), 0);
  EXPECT_EQ(DecodeLineByte(0xFF), 15);
}

TEST(LineCoding, DecodeAndEncodeAreInverse) {
  for (unsigned d = 0; d < 16; ++d) {
    EXPECT_EQ(DecodeLineByte(EncodeDigit(static_cast<uint8_t>(d))), d);
  }
  for (unsigned v = 0; v < 256; ++v) {
    const auto byte = static_cast<uint8_t>(v);
    if (IsValidLineByte(byte)) {
      EXPECT_EQ(EncodeDigit(DecodeLineByte(byte)), byte) << v;
    }
  }
}

}  // namespace
}  // namespace vu30::link
