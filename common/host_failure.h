/* SPDX-License-Identifier: MIT */
// The test doubles', the demo's and the dispenser simulator's dispatchers
// report a failure of their own the way a host does on its platform. On Windows a host raises a
// structured exception (a Pascal host's raise, an MSVC host's throw), never a C++ exception across
// the library: the C++ exception of the double is caught in its own table function and, once
// nothing of it is held any more, raised as the structured exception kHostFailureCode. Elsewhere
// the C++ exception goes on as it is.
#pragma once

#include <cstdint>
#include <exception>
#include <type_traits>

#include "host_failure_code.h"

namespace vu30::host {

// Bit 29 set: a code of the application's own; "HST" in the low bytes.
inline constexpr uint32_t kHostFailureCode = VU30_HOST_FAILURE_CODE;

// Calls f, a host table function's body; see above for what its failure
// becomes. The caller's own frame must hold nothing but f.
template <typename F>
std::invoke_result_t<F&> ReportAsHostFailure(F&& f) {
#if defined(_WIN32)
  try {
    return f();
  } catch (const std::exception&) {
  }
  vu30_raise_host_failure();
#else
  return f();
#endif
}

}  // namespace vu30::host
