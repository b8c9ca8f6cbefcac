/* SPDX-License-Identifier: MIT */
/*
 * The failure of a host's own dispatcher, as the test doubles, the demo's and
 * the dispenser simulator's dispatchers raise it on Windows: a structured
 * exception with this code, non-continuable, without parameters. The host
 * error help (vu30_catch.h) and the simulator both use it.
 */
#ifndef VU30_HOST_FAILURE_CODE_H
#define VU30_HOST_FAILURE_CODE_H

#ifdef __cplusplus
extern "C" {
#endif

#define VU30_HOST_FAILURE_CODE 0xE0485354u /* bit 29: the application's own; "HST" */

#ifdef _WIN32
/* Raises it (kept out of line: <windows.h> stays out of the doubles). */
__attribute__((noreturn)) void vu30_raise_host_failure(void);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VU30_HOST_FAILURE_CODE_H */
