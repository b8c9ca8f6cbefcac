/* SPDX-License-Identifier: MIT */
// A host's thread may be cancelled (pthread_cancel) while it is inside a
// call of the library: at a cancellation point (a sleep, a wait, a file's
// read or write, or inside the host's own dispatcher functions) the thread
// unwinds with an exception of the C library's own. That unwind must reach
// the thread's start: a handler that catches everything rethrows it
// (`catch (const ThreadCancellation&) { throw; }` before `catch (...)`), and
// no destructor or noexcept function may reach a cancellation point, since
// the unwind cannot leave either. Where the work must end as begun (the pause
// that keeps a channel pair's frames apart, the release of a driver), the
// cancellation is held off for that work and acts at the thread's next
// cancellation point.
//
// Windows threads have no such unwind: ThreadCancellation is a type that is
// never thrown and CancellationHeldOff does nothing.
#pragma once

#if !defined(_WIN32)
#include <pthread.h>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif
#endif

namespace vu30::platform {

#if !defined(_WIN32) && defined(__GLIBCXX__)
using ThreadCancellation = abi::__forced_unwind;
inline constexpr bool kCancellationUnwinds = true;
#else
struct ThreadCancellation {};
inline constexpr bool kCancellationUnwinds = false;
#endif

// While it lives, a cancellation of the calling thread waits: it acts at the
// first cancellation point after this is destroyed. Nests.
class CancellationHeldOff {
 public:
#if defined(_WIN32)
  CancellationHeldOff() noexcept = default;
#else
  CancellationHeldOff() noexcept { (void)pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &former_); }
  ~CancellationHeldOff() {
    int ignored = 0;
    (void)pthread_setcancelstate(former_, &ignored);
  }
#endif
  CancellationHeldOff(const CancellationHeldOff&) = delete;
  CancellationHeldOff& operator=(const CancellationHeldOff&) = delete;

#if !defined(_WIN32)
 private:
  int former_ = PTHREAD_CANCEL_ENABLE;
#endif
};

}  // namespace vu30::platform
