// SPDX-License-Identifier: MIT
#include "driver/amounts.h"

#include <cmath>

#include "platform/hot_path.h"

namespace vu30::driver {

namespace {
double PowerOfTen(int k) {
  double p = 1;
  for (int i = 0; i < k; ++i) p *= 10;
  return p;
}

// Rounding to the nearest integer with halves to even, made in integers:
// independent of the caller's floating-point rounding mode, and without a
// call into the maths library on the way of a host's request.
double RoundHalfEven(double x) {
  constexpr double kWholeFrom = 4503599627370496.0;  // 2^52: every double from here on is whole
  if (!(std::fabs(x) < kWholeFrom)) return x;        // whole already, infinite or not a number
  const bool negative = x < 0;
  const double magnitude = negative ? -x : x;
  auto whole = static_cast<int64_t>(magnitude);  // truncated
  // Exact: whole and magnitude differ by less than one and share their scale.
  const double fraction = magnitude - static_cast<double>(whole);
  if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0)) ++whole;
  const auto rounded = static_cast<double>(whole);
  return negative ? -rounded : rounded;
}
}  // namespace

VU30_HOT_PATH bool FitsDigits(double x, int k) {
  if (!std::isfinite(x) || x < 0) return false;
  const double hundredths = RoundHalfEven(x * 100);
  return hundredths <= PowerOfTen(k) - 1;
}

VU30_HOT_PATH void WriteHundredths(uint64_t hundredths, int k, uint8_t* out) {
  uint64_t n = hundredths;
  for (int i = k - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(n % 10);
    n /= 10;
  }
}

VU30_HOT_PATH double NumberFromDigits(const uint8_t* digits, int k) {
  double n = 0;
  for (int i = 0; i < k; ++i) n = n * 10 + digits[i];
  return n;
}

VU30_HOT_PATH uint64_t HundredthsOf(double x) {
  return static_cast<uint64_t>(RoundHalfEven(x * 100));
}

VU30_HOT_PATH double VolumeForMoney(double money, double price) {
  return RoundHalfEven(money * 100 / price) / 100;
}

}  // namespace vu30::driver
