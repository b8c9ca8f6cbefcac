// SPDX-License-Identifier: MIT
// Amounts on the line: digit forms and figures.
#include "driver/amounts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vu30::driver {
namespace {

std::vector<uint8_t> Digits(double x, int k) {
  std::vector<uint8_t> out(static_cast<size_t>(k));
  WriteHundredths(HundredthsOf(x), k, out.data());
  return out;
}

TEST(Amounts, DigitFormsRoundHalvesToEven) {
  EXPECT_EQ(Digits(41.3, 4), (std::vector<uint8_t>{4, 1, 3, 0}));
  EXPECT_EQ(Digits(25.5, 5), (std::vector<uint8_t>{0, 2, 5, 5, 0}));
  EXPECT_EQ(Digits(0.125, 4), (std::vector<uint8_t>{0, 0, 1, 2}));  // 12.5 -> 12
  EXPECT_EQ(Digits(0.375, 4), (std::vector<uint8_t>{0, 0, 3, 8}));  // 37.5 -> 38
  EXPECT_EQ(Digits(999.99, 5), (std::vector<uint8_t>{9, 9, 9, 9, 9}));
  EXPECT_EQ(HundredthsOf(500 / 41.3), 1211u);
}

TEST(Amounts, OnlyAmountsWhoseHundredthsFitTheirDigitsAreAccepted) {
  EXPECT_TRUE(FitsDigits(0, 4));
  EXPECT_TRUE(FitsDigits(99.99, 4));
  EXPECT_FALSE(FitsDigits(123.45, 4));
  EXPECT_FALSE(FitsDigits(100, 4));
  EXPECT_TRUE(FitsDigits(999.99, 5));
  EXPECT_FALSE(FitsDigits(1234.56, 5));
  EXPECT_FALSE(FitsDigits(1e300, 5));  // beyond any whole count of hundredths
  EXPECT_FALSE(FitsDigits(-0.01, 5));
  EXPECT_FALSE(FitsDigits(std::nan(""), 5));
  EXPECT_FALSE(FitsDigits(INFINITY, 5));
}

TEST(Amounts, FiguresAccumulateDigitsAsTheyCome) {
  const uint8_t volume[] = {0, 1, 2, 3, 4};
  EXPECT_EQ(NumberFromDigits(volume, 5), 1234.0);
  const uint8_t counter[] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(NumberFromDigits(counter, 10), 9999999999.0);
  const uint8_t coded[] = {1, 15};  // a digit above 9 is not refused
  EXPECT_EQ(NumberFromDigits(coded, 2), 25.0);
}

}  // namespace
}  // namespace vu30::driver
