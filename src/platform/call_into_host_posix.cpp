// SPDX-License-Identifier: MIT
// Without structured exceptions a host's error is a C++ exception: the call
// is made as it is, and what it throws passes through.
#include <cstdlib>

#include "platform/call_into_host.h"

namespace vu30::platform {

bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& /*record*/) {
  fn(context);
  return true;
}

bool GuardedEntryCall(void (*fn)(void* context), void* context, HostExceptionRecord& /*record*/) {
  fn(context);
  return true;
}

void PassingCall(void (*fn)(void* context), void* context, uint32_t* /*passedCode*/) {
  fn(context);
}

void RaiseHostException(const HostExceptionRecord& /*record*/) { std::abort(); }

}  // namespace vu30::platform
