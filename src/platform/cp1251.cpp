// SPDX-License-Identifier: MIT
#include "platform/cp1251.h"

namespace vu30::platform {

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const long cp = cp1251_detail::DecodeUtf8(utf8, pos);
    const int byte = cp < 0 ? -1 : cp1251_detail::ByteOf(static_cast<char32_t>(cp));
    out.push_back(byte < 0 ? kCp1251Substitute
                           : static_cast<char>(static_cast<unsigned char>(byte)));
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char c : cp1251) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t cp = byte < 0x80 ? byte : kCp1251High[byte - 0x80];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace vu30::platform
