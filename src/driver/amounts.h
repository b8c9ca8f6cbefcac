/* SPDX-License-Identifier: MIT */
// Amounts on the line: the k-digit form of an amount (hundredths, rounded to
// the nearest integer with halves to the even neighbour, k low-order decimal
// digits, most significant first), and figures built back from digits.
#pragma once

#include <cstdint>

namespace vu30::driver {

inline constexpr int kPriceDigits = 4;  // prices travel in 4 digits: 0..99.99
inline constexpr int kDoseDigits = 5;   // doses travel in 5 digits: 0..999.99 litres

// True when x is finite, not negative, and its hundredths fit k digits.
bool FitsDigits(double x, int k);
// Writes the k low-order decimal digits of a count of hundredths to
// out[0..k-1], most significant first: with HundredthsOf, the k-digit form
// of an amount. The workers' answers write it from hundredths kept as such,
// with no floating-point work.
void WriteHundredths(uint64_t hundredths, int k, uint8_t* out);
// The number N built from k digits as N := N * 10 + digit, in 64-bit floating
// point; digits above 9 enter the sum as they are.
double NumberFromDigits(const uint8_t* digits, int k);
// x * 100 rounded to the nearest integer, halves to even. x must fit
// (FitsDigits with any k).
uint64_t HundredthsOf(double x);
// The volume money buys at price, in whole hundredths: money * 100 / price,
// rounded (halves to even), / 100, in that order. price must not be 0.
double VolumeForMoney(double money, double price);

}  // namespace vu30::driver
