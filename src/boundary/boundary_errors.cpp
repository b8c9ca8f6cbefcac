// SPDX-License-Identifier: MIT
#include "boundary/boundary_errors.h"

#if defined(VU30_STRUCTURED_ERRORS)

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

namespace vu30::boundary {
namespace {

// The message of the last error raised on this thread, cp1251, NUL-terminated.
// Longer messages are cut; the library's own are far shorter.
constexpr std::size_t kMessageCapacity = 512;
thread_local std::array<char, kMessageCapacity> tMessage{};
thread_local std::size_t tMessageLength = 0;

void Keep(std::string_view message) noexcept {
  tMessageLength = std::min(message.size(), kMessageCapacity - 1);
  std::memcpy(tMessage.data(), message.data(), tMessageLength);
  tMessage[tMessageLength] = '\0';
}

}  // namespace

uint32_t KeepCurrentError() noexcept {
  try {
    throw;
  } catch (const ESerialIO& e) {
    Keep(e.what());
    return VU30_ERROR_SERIAL_IO;
  } catch (const EVu30Refused& e) {
    Keep(e.what());
    return VU30_ERROR_REFUSED;
  } catch (const EAbstractError& e) {
    Keep(e.what());
    return VU30_ERROR_ABSTRACT;
  } catch (const std::exception& e) {
    Keep(e.what());
    return VU30_ERROR_FAILURE;
  } catch (...) {
    Keep("vu30: unknown failure");
    return VU30_ERROR_FAILURE;
  }
}

uint32_t KeepFault(const platform::HostExceptionRecord& fault) noexcept {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char message[] = "vu30: exception 0x00000000 inside the driver, on data from the host";
  for (int i = 0; i < 8; ++i) message[18 + i] = kDigits[(fault.code >> (28 - 4 * i)) & 0xF];
  Keep(message);
  return VU30_ERROR_FAILURE;
}

void RaiseKeptError(uint32_t kind) {
  const ULONG_PTR arguments[3] = {
      static_cast<ULONG_PTR>(kind),
      reinterpret_cast<ULONG_PTR>(tMessage.data()),
      static_cast<ULONG_PTR>(tMessageLength),
  };
  RaiseException(VU30_ERROR_CODE, EXCEPTION_NONCONTINUABLE, 3, arguments);
  // A handler may not continue a non-continuable exception; should one try,
  // the system raises another exception instead of returning here.
  std::abort();
}

}  // namespace vu30::boundary

#endif
