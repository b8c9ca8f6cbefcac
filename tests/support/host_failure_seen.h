/* SPDX-License-Identifier: MIT */
// What a failure of a test double's own, raised in one of its host functions
// (host_failure.h), is on the library's side of the call: on Windows the
// guard's HostFault, holding the host's structured exception; elsewhere the
// C++ exception itself.
#pragma once

#include <stdexcept>

#include "platform/call_into_host.h"

namespace vu30::test {

#if defined(_WIN32)
using HostFailureSeen = platform::HostFault;
#else
using HostFailureSeen = std::runtime_error;
#endif

}  // namespace vu30::test
