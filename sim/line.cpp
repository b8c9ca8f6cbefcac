// SPDX-License-Identifier: MIT
#include "line.h"

#include <chrono>
#include <thread>

#include "line_code.h"

namespace vu30::sim {

void AppendNumber(std::vector<uint8_t>& digits, int64_t value, int k) {
  value %= Pow10(k);
  if (value < 0) value += Pow10(k);
  for (int i = k - 1; i >= 0; --i) {
    digits.push_back(static_cast<uint8_t>((value / Pow10(i)) % 10));
  }
}

bool ReadNumber(const std::vector<uint8_t>& digits, size_t from, int k, int64_t& value) {
  value = 0;
  for (int i = 0; i < k; ++i) {
    const uint8_t d = digits[from + static_cast<size_t>(i)];
    if (d > 9) return false;
    value = value * 10 + d;
  }
  return true;
}

std::vector<uint8_t> MessageBytes(int post, const std::vector<uint8_t>& digits,
                                  bool withAddressByte) {
  std::vector<uint8_t> bytes;
  bytes.reserve(digits.size() + 2);
  if (withAddressByte) bytes.push_back(static_cast<uint8_t>(0x20 + LineAddressOfPost(post)));
  for (uint8_t d : digits) bytes.push_back(EncodeDigit(d));
  bytes.push_back(0);
  return bytes;
}

void OccupyLine(int baud, int bytes) {
  if (baud <= 0 || bytes <= 0) return;
  std::this_thread::sleep_for(std::chrono::microseconds(int64_t{bytes} * 10'000'000 / baud));
}

}  // namespace vu30::sim
