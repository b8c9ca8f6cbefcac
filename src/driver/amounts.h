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
// Writes the k-digit form of x to out[0..k-1]. x must fit (FitsDigits).
void WriteDigits(double x, int k, uint8_t* out);
// The number N built from k digits as N := N * 10 + digit, in 64-bit floating
// point; digits above 9 enter the sum as they are.
double NumberFromDigits(const uint8_t* digits, int k);
// x * 100 rounded to the nearest integer, halves to even, then / 100.
double RoundToHundredths(double x);

}  // namespace vu30::driver
