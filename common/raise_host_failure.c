/* SPDX-License-Identifier: MIT */
#include <stdlib.h>
#include <windows.h>

#include "host_failure_code.h"

void vu30_raise_host_failure(void) {
  RaiseException(VU30_HOST_FAILURE_CODE, EXCEPTION_NONCONTINUABLE, 0, NULL);
  abort(); /* a non-continuable exception never comes back */
}
