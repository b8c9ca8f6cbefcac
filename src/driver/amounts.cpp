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

// Rounding to the nearest integer with halves to even, independent of the
// caller's floating-point rounding mode.
double RoundHalfEven(double x) {
  const double r = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5) return 2.0 * std::round(x / 2.0);
  return r;
}
}  // namespace

bool FitsDigits(double x, int k) {
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

double NumberFromDigits(const uint8_t* digits, int k) {
  double n = 0;
  for (int i = 0; i < k; ++i) n = n * 10 + digits[i];
  return n;
}

uint64_t HundredthsOf(double x) { return static_cast<uint64_t>(RoundHalfEven(x * 100)); }

double VolumeForMoney(double money, double price) {
  return RoundHalfEven(money * 100 / price) / 100;
}

}  // namespace vu30::driver
