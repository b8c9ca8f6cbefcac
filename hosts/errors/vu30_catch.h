/* SPDX-License-Identifier: MIT */
/*
 * Windows hosts: catching the driver library's structured exception
 * (VU30_ERROR_CODE, see vu30.h) in plain C, with no C++ runtime on the
 * catching side.
 */
#ifndef VU30_CATCH_H
#define VU30_CATCH_H

#include <stddef.h>
#include <stdint.h>

/* The failure of a host's own (VU30_HOST_FAILURE_CODE), which a host
 * dispatcher raises. */
#include "host_failure_code.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VU30_CAUGHT_MESSAGE_CAPACITY 512

/* What the library raised, as the exception record held it. */
typedef struct Vu30CaughtError {
  uint32_t code;                              /* ExceptionCode: VU30_ERROR_CODE */
  uint32_t flags;                             /* ExceptionFlags: EXCEPTION_NONCONTINUABLE */
  uint32_t parameterCount;                    /* NumberParameters: 3 */
  uint32_t kind;                              /* VU30_ERROR_SERIAL_IO, ... */
  size_t messageLength;                       /* the third parameter */
  int messageTerminated;                      /* the message had its NUL at messageLength */
  char message[VU30_CAUGHT_MESSAGE_CAPACITY]; /* a copy, cut to fit, NUL-terminated */
} Vu30CaughtError;

/*
 * Calls fn(context). Returns 0 when it returned, 1 when the library's
 * exception reached the catch from inside it (error then tells what). The
 * catch is a frame-based handler in the frame of this call: every handler
 * in the frames above it (the library's own, a nested catch) sees the
 * exception first, and the frames above it are unwound before it returns 1,
 * each frame-based handler there running its cleanup. Code that gcc built
 * for i686 has no such cleanup for a C++ object: fn must hold no object with
 * a destructor while it calls the library. Calls may nest, also from inside
 * a host function the library calls; each thread has its own.
 */
int vu30_catch_call(void (*fn)(void* context), void* context, Vu30CaughtError* error);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VU30_CATCH_H */
