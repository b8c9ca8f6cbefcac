/* SPDX-License-Identifier: MIT */
// VU30_HOT_PATH marks the functions on the way of a dispenser's message to
// the worker's answer (routing, the wake-up, the answer's exchange and its
// reply check) and of a host's request to its exchange and back (the
// operations that exchange, their checks and figures, the pause). The
// compiler places them side by side in the library's code: a message after
// a quiet spell, or a request after the 30 ms pause of the one before, finds
// that code on a few pages rather than spread over the whole library, and
// each page such a call touches cold costs it a translation miss.
#pragma once

#if defined(__GNUC__)
#define VU30_HOT_PATH __attribute__((hot))
#else
#define VU30_HOT_PATH
#endif
