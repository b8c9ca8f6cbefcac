// Line byte coding: every data byte on the dispenser line carries one 4-bit
// digit as four complementary bit pairs. Pair k (line bits L7-L6, L5-L4,
// L3-L2, L1-L0 for k = 0..3) carries digit bit bk: lower bit = the digit bit,
// upper bit = its complement. Exactly 16 of the 256 byte values are well formed.
#pragma once

#include <cstdint>

namespace vu30::link {

// Codes the low four bits of digit; the upper four are ignored.
uint8_t EncodeDigit(uint8_t digit);
// True when all four pairs of the byte are complementary.
bool IsValidLineByte(uint8_t byte);
// The digit carried by a byte (its even bits); does not test the byte.
uint8_t DecodeLineByte(uint8_t byte);

}  // namespace vu30::link
