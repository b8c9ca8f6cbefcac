// The test doubles' and the demo's dispatchers report a failure of their own
// the way a host does on its platform. On Windows a host raises a structured
// exception (a Pascal host's raise, an MSVC host's throw), never a C++
// exception across the library: the C++ exception of the double is caught
// in its own table function and, once nothing of it is held any more, raised
// as the structured exception kHostFailureCode. Elsewhere the C++ exception
// goes on as it is.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vu30::host {

// Bit 29 set: a code of the application's own; "HST" in the low bytes.
inline constexpr uint32_t kHostFailureCode = 0xE0485354u;

// Calls f, a host table function's body; see above for what its failure
// becomes. The caller's own frame must hold nothing but f.
template <typename F>
std::invoke_result_t<F&> ReportAsHostFailure(F&& f) {
#if defined(_WIN32)
  try {
    return f();
  } catch (const std::exception&) {
  }
  RaiseException(kHostFailureCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  std::abort();  // a non-continuable exception never comes back
#else
  return f();
#endif
}

}  // namespace vu30::host
