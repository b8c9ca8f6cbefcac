/* SPDX-License-Identifier: MIT */
// A host's thread may be cancelled (pthread_cancel) while it is inside a
// call of the library: at a cancellation point (a sleep, a wait, a file's
// read or write, or inside the host's own dispatcher functions) the thread
// unwinds with an exception of the C library's own, foreign to C++. That
// unwind must reach the thread's start: a handler that catches everything
// rethrows it (`catch (...) { if (HandlingThreadCancellation()) throw; ... }`),
// and no destructor or noexcept function may reach a cancellation point,
// since the unwind cannot leave either. Nor may a handler catch it while
// another exception is being handled on the thread (the C++ runtime then
// ends the process): a cancellation point inside a catch block sits under
// CancellationHeldOff. Where work must end as begun (the pause that keeps a
// channel pair's frames apart, the release of a driver), the cancellation is
// held off for that work and acts at the thread's next cancellation point.
//
// Windows threads have no such unwind: HandlingThreadCancellation is false
// and CancellationHeldOff does nothing.
#pragma once

#include <exception>
#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace vu30::platform {

#if !defined(_WIN32) && defined(__GLIBCXX__)
inline constexpr bool kCancellationUnwinds = true;
#else
inline constexpr bool kCancellationUnwinds = false;
#endif

// Called in a handler of catch (...): true when what it handles is a
// cancelled thread's unwind, which the handler must rethrow. The unwind is
// not a C++ exception, so the runtime gives it no exception pointer (a
// reference to it would bind to no object).
inline bool HandlingThreadCancellation() noexcept {
  if constexpr (kCancellationUnwinds) {
    return std::current_exception() == nullptr;
  } else {
    return false;
  }
}

// While it lives, a cancellation of the calling thread waits: it acts at the
// first cancellation point after this is destroyed. Nests.
class CancellationHeldOff {
 public:
#if defined(_WIN32)
  CancellationHeldOff() noexcept {}  // user-provided: a scope that is not unused
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
