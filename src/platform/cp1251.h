/* SPDX-License-Identifier: MIT */
// Conversion between UTF-8 and the Windows Cyrillic code page (1251), in
// which texts cross the library's binary boundary. The table is our own, so
// the conversion does not depend on the platform's locale support.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vu30::platform {

// Unicode code points of the bytes 0x80..0xFF. 0x98 has no character; it
// reads as U+FFFD.
inline constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  //
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  //
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  //
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  //
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  //
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  //
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  //
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// The byte written for a character that code page 1251 cannot hold, and for
// each malformed UTF-8 sequence.
inline constexpr char kCp1251Substitute = '?';

namespace cp1251_detail {

// The cp1251 byte of a code point, or -1 when the code page has none.
constexpr int ByteOf(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp == 0xFFFD) return -1;
  for (std::size_t i = 0; i < kCp1251High.size(); ++i) {
    if (kCp1251High[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

// Decodes one UTF-8 sequence at text[pos]; advances pos. Returns the code
// point, or -1 for a malformed sequence (pos then moves past one byte).
constexpr long DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return -1;
  }
  if (text.size() - pos < length) {
    ++pos;
    return -1;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return -1;
  }
  pos += length;
  return static_cast<long>(cp);
}

}  // namespace cp1251_detail

// UTF-8 to cp1251. Characters outside the code page and malformed sequences
// become kCp1251Substitute.
std::string Utf8ToCp1251(std::string_view utf8);

// cp1251 to UTF-8. Every byte has a meaning; 0x98 becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view cp1251);

// A cp1251 text made at compile time from UTF-8 source text, zero-terminated.
template <std::size_t N>
struct Cp1251Text {
  std::array<char, N> bytes{};
  std::size_t size = 0;

  constexpr const char* c_str() const { return bytes.data(); }
  constexpr std::string_view view() const { return {bytes.data(), size}; }
};

// Cp1251Literal("&ТРК") is the cp1251 text of the UTF-8 literal; a character
// that the code page cannot hold stops the compilation.
template <std::size_t N>
consteval Cp1251Text<N> Cp1251Literal(const char (&utf8)[N]) {
  Cp1251Text<N> out;
  const std::string_view text(utf8, N - 1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const long cp = cp1251_detail::DecodeUtf8(text, pos);
    const int byte = cp < 0 ? -1 : cp1251_detail::ByteOf(static_cast<char32_t>(cp));
    if (byte < 0) throw std::invalid_argument("text not representable in code page 1251");
    out.bytes[out.size++] = static_cast<char>(static_cast<unsigned char>(byte));
  }
  out.bytes[out.size] = '\0';
  return out;
}

}  // namespace vu30::platform
