// SPDX-License-Identifier: MIT
#include "config/win32/window_placement_win32.h"

#include <cstdint>

namespace vu30::config::win32 {

namespace {

constexpr long kMaxCoordinate = 100000;

// Closes a registry key on leaving the scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::optional<LONG> ReadCoordinate(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data) {
    return std::nullopt;
  }
  const auto value = static_cast<int32_t>(data);  // stored as a signed 32-bit number
  if (value < -kMaxCoordinate || value > kMaxCoordinate) return std::nullopt;
  return static_cast<LONG>(value);
}

bool WriteCoordinate(HKEY key, const wchar_t* name, LONG value) {
  const auto data = static_cast<DWORD>(static_cast<int32_t>(value));
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data) == ERROR_SUCCESS;
}

}  // namespace

std::optional<POINT> RestorePosition() {
  Key key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kPlacementKey, 0, KEY_QUERY_VALUE, key.Out()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::optional<LONG> left = ReadCoordinate(key.Get(), L"Left");
  const std::optional<LONG> top = ReadCoordinate(key.Get(), L"Top");
  if (!left || !top) return std::nullopt;
  return POINT{*left, *top};
}

void SavePosition(POINT position) {
  if (position.x < -kMaxCoordinate || position.x > kMaxCoordinate || position.y < -kMaxCoordinate ||
      position.y > kMaxCoordinate) {
    return;  // a minimised or hidden window's parking position is not kept
  }
  Key key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kPlacementKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Out(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (WriteCoordinate(key.Get(), L"Left", position.x)) {
    WriteCoordinate(key.Get(), L"Top", position.y);
  }
}

}  // namespace vu30::config::win32
