// SPDX-License-Identifier: MIT
// The error-returning calls (vu30_calls.h): each one makes its call through
// the driver's own table inside a handler that turns the driver's C++
// exception into its kind and its message, as the Windows build's
// structured exception carries them.
#include <cxxabi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>

#include "platform/cp1251.h"
#include "vu30_calls.h"

namespace {

// Copies message into the caller's buffer, cut to fit, NUL-terminated.
void CopyMessage(std::string_view text, char* message, size_t messageSize) noexcept {
  if (message == nullptr || messageSize == 0) return;
  const size_t length = std::min(text.size(), messageSize - 1);
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

// The kind of the exception being handled; its message into the buffer.
uint32_t CurrentError(char* message, size_t messageSize) noexcept {
  try {
    throw;
  } catch (const ESerialIO& e) {
    CopyMessage(e.what(), message, messageSize);
    return VU30_ERROR_SERIAL_IO;
  } catch (const EVu30Refused& e) {
    CopyMessage(e.what(), message, messageSize);
    return VU30_ERROR_REFUSED;
  } catch (const EAbstractError& e) {
    CopyMessage(e.what(), message, messageSize);
    return VU30_ERROR_ABSTRACT;
  } catch (const std::exception& e) {
    CopyMessage(e.what(), message, messageSize);
    return VU30_ERROR_FAILURE;
  } catch (...) {
    CopyMessage("vu30: unknown failure", message, messageSize);
    return VU30_ERROR_FAILURE;
  }
}

// Runs call(table) for a driver, returning 0 or the error's kind. A null
// driver is refused: the table is reached through it.
template <typename F>
uint32_t CallTable(Vu30Driver* driver, char* message, size_t messageSize, F&& call) {
  if (driver == nullptr || driver->table == nullptr) {
    CopyMessage("vu30: no driver", message, messageSize);
    return VU30_ERROR_REFUSED;
  }
  try {
    call(*driver->table);
    return 0;
  } catch (abi::__forced_unwind&) {
    throw;  // a cancelled thread goes on ending
  } catch (...) {
    return CurrentError(message, messageSize);
  }
}

// Stores value where the caller asked for it (a null pointer: not wanted).
template <typename T>
void Store(T* where, T value) noexcept {
  if (where != nullptr) *where = value;
}

}  // namespace

extern "C" {

uint32_t vu30_call_GetVU30(uint8_t ignored, void* hostWindow, Vu30Dispatcher* dispatcher,
                           Vu30Driver** driver, char* message, size_t messageSize) {
  // Without a place for it the new driver could never be released: the
  // library's own reference would keep it alive to the end of the process.
  if (driver == nullptr) {
    CopyMessage("vu30: no place for the driver", message, messageSize);
    return VU30_ERROR_REFUSED;
  }
  *driver = nullptr;
  try {
    Store(driver, GetVU30(ignored, hostWindow, dispatcher));
    return 0;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    return CurrentError(message, messageSize);
  }
}

uint32_t vu30_call_Abstract(Vu30Driver* driver, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { t.Abstract(driver); });
}

uint32_t vu30_call_GetDriverInfo(Vu30Driver* driver, uint8_t* info, char* message,
                                 size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { t.GetDriverInfo(info, driver); });
}

uint32_t vu30_call_SetLinkStatus(Vu30Driver* driver, uint8_t post, uint8_t value, char* message,
                                 size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { t.SetLinkStatus(driver, post, value); });
}

uint32_t vu30_call_GetLinkStatus(Vu30Driver* driver, uint8_t post, uint8_t* status, char* message,
                                 size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { Store(status, t.GetLinkStatus(driver, post)); });
}

uint32_t vu30_call_StopPump(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t exchange,
                            uint8_t* result, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(result, t.StopPump(driver, post, reserved, exchange));
  });
}

uint32_t vu30_call_StopPumpNow(Vu30Driver* driver, int32_t post, int32_t* result, char* message,
                               size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { Store(result, t.StopPumpNow(driver, post)); });
}

uint32_t vu30_call_ReadFinalDispense(Vu30Driver* driver, int32_t post, int32_t reserved,
                                     double* volume, double* money, char* message,
                                     size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.ReadFinalDispense(driver, post, reserved, volume, money);
  });
}

uint32_t vu30_call_ReadCounter(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t nozzle,
                               double* counter, double* second, int32_t reserved2,
                               int32_t reserved3, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.ReadCounter(driver, post, reserved, nozzle, counter, second, reserved2, reserved3);
  });
}

uint32_t vu30_call_PollDispense(Vu30Driver* driver, int32_t post, int32_t mode, double* money,
                                double* volume, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(volume, t.PollDispense(driver, post, mode, money));
  });
}

uint32_t vu30_call_GetPumpState(Vu30Driver* driver, uint8_t post, int32_t reserved, uint32_t* state,
                                char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(state, t.GetPumpState(driver, post, reserved));
  });
}

uint32_t vu30_call_SetPrice(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t nozzle,
                            int32_t reserved2, int32_t reserved3, double price, char* message,
                            size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.SetPrice(driver, post, reserved, nozzle, reserved2, reserved3, price);
  });
}

uint32_t vu30_call_PresetVolume(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t nozzle,
                                int32_t reserved2, double volume, char* message,
                                size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.PresetVolume(driver, post, reserved, nozzle, reserved2, volume);
  });
}

uint32_t vu30_call_PresetMoney(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t nozzle,
                               int32_t reserved2, double money, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.PresetMoney(driver, post, reserved, nozzle, reserved2, money);
  });
}

uint32_t vu30_call_StartPump(Vu30Driver* driver, int32_t post, int32_t reserved, int32_t reserved2,
                             char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.StartPump(driver, post, reserved, reserved2);
  });
}

uint32_t vu30_call_OpenPost(Vu30Driver* driver, int32_t post, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { t.OpenPost(driver, post); });
}

uint32_t vu30_call_StartPumpAlias(Vu30Driver* driver, int32_t post, int32_t a, int32_t b,
                                  int32_t reserved, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.StartPumpAlias(driver, post, a, b, reserved);
  });
}

uint32_t vu30_call_GetCapability(Vu30Driver* driver, int32_t number, int32_t* value, bool* known,
                                 char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(known, t.GetCapability(driver, number, value));
  });
}

uint32_t vu30_call_GetStatusRecord(Vu30Driver* driver, uint8_t* record, uint8_t post,
                                   uint8_t passedOn, int32_t reserved, char* message,
                                   size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.GetStatusRecord(record, driver, post, passedOn, reserved);
  });
}

uint32_t vu30_call_StopPumpEx(Vu30Driver* driver, int32_t post, int32_t a, int32_t reserved,
                              int32_t exchange, uint8_t* result, char* message,
                              size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(result, t.StopPumpEx(driver, post, a, reserved, exchange));
  });
}

uint32_t vu30_call_StopPumpAlt(Vu30Driver* driver, int32_t post, int32_t a, int32_t reserved,
                               int32_t reserved2, uint8_t* result, char* message,
                               size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    Store(result, t.StopPumpAlt(driver, post, a, reserved, reserved2));
  });
}

uint32_t vu30_call_AddMenuEntry(Vu30Driver* driver, Vu30MenuItem* parentItem,
                                Vu30CreateItemFn createItem, char* message, size_t messageSize) {
  return CallTable(driver, message, messageSize, [&](const Vu30DriverTable& t) {
    t.AddMenuEntry(driver, parentItem, createItem);
  });
}

uint32_t vu30_call_Destroy(Vu30Driver* driver, char* message, size_t messageSize) {
  if (driver == nullptr) return 0;
  return CallTable(driver, message, messageSize,
                   [&](const Vu30DriverTable& t) { t.Destroy(driver); });
}

uint32_t vu30_call_message_utf8(const char* message, char* utf8, size_t utf8Size) {
  if (message == nullptr || utf8 == nullptr || utf8Size == 0) return VU30_ERROR_REFUSED;
  const std::string_view text(message);
  // Written forward while read forward, the output could overrun the text
  // it has not read yet: overlapping buffers are refused.
  const auto textBegin = reinterpret_cast<std::uintptr_t>(message);
  const auto outBegin = reinterpret_cast<std::uintptr_t>(utf8);
  if (textBegin < outBegin + utf8Size && outBegin < textBegin + text.size() + 1) {
    return VU30_ERROR_REFUSED;
  }
  size_t length = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t cp = byte < 0x80 ? byte : vu30::platform::kCp1251High[byte - 0x80];
    char encoded[3];
    size_t size = 0;
    if (cp < 0x80) {
      encoded[size++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
      encoded[size++] = static_cast<char>(0xC0 | (cp >> 6));
      encoded[size++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      encoded[size++] = static_cast<char>(0xE0 | (cp >> 12));
      encoded[size++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      encoded[size++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    if (utf8Size - 1 - length < size) break;  // a whole character or none
    std::memcpy(utf8 + length, encoded, size);
    length += size;
  }
  utf8[length] = '\0';
  return 0;
}

}  // extern "C"
