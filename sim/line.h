/* SPDX-License-Identifier: MIT */
// The line as the dispenser side sees it: which line address a post answers
// to, how numbers are laid out in digits, how long bytes take on the wire,
// and a message's bytes as they reach the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vu30::sim {

// Line addresses 33..40 are a dispenser's addresses for the worker's answers
// (its own address 1..8 plus this).
inline constexpr uint8_t kWorkerLineOffset = 32;

// Posts share eight line addresses: 1..8, 9..16 and so on answer to 1..8.
constexpr uint8_t LineAddressOfPost(int post) { return static_cast<uint8_t>((post - 1) % 8 + 1); }

constexpr int64_t Pow10(int k) {
  int64_t r = 1;
  for (int i = 0; i < k; ++i) r *= 10;
  return r;
}

// Appends the k low-order decimal digits of value, most significant first.
void AppendNumber(std::vector<uint8_t>& digits, int64_t value, int k);

// Reads k digits from position from; false if one of them is not a decimal digit.
bool ReadNumber(const std::vector<uint8_t>& digits, size_t from, int k, int64_t& value);

// A message's line bytes: the uncoded address byte 0x20 + line address when
// withAddressByte, each digit coded, and the closing zero.
std::vector<uint8_t> MessageBytes(int post, const std::vector<uint8_t>& digits,
                                  bool withAddressByte);

// Holds the calling thread for the time bytes take at baud (10 bit times a
// byte: start bit, eight data bits, stop bit); nothing when baud is 0.
void OccupyLine(int baud, int bytes);

}  // namespace vu30::sim
