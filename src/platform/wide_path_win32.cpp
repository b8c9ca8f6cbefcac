// SPDX-License-Identifier: MIT
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/wide_path.h"

namespace vu30::platform {
namespace {

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          wide.data(), size) != size) {
    return {};
  }
  return wide;
}

// The absolute form of a path: "." and ".." resolved, '/' made '\'.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // too small: length is the size needed, with the NUL
  }
}

}  // namespace

std::wstring WidePath(const std::string& ansiPath) {
  const std::wstring wide = FromAnsi(ansiPath);
  if (wide.empty() || wide.find(L'\0') != std::wstring::npos) return {};
  constexpr std::wstring_view kExtended = L"\\\\?\\";
  if (wide.starts_with(kExtended)) return wide;  // already extended: taken as it is
  const std::wstring full = FullPath(wide);
  if (full.empty()) return {};
  if (full.starts_with(L"\\\\")) return std::wstring(L"\\\\?\\UNC\\") + full.substr(2);
  return std::wstring(kExtended) + full;
}

}  // namespace vu30::platform
