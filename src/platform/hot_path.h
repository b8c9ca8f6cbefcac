// VU30_HOT_PATH marks the functions a dispenser's message passes through on
// its way to the worker's answer (routing, the wake-up, the answer's
// exchange and its reply check). The compiler places them side by side in
// the library's code, so that a message arriving after a quiet spell finds
// that code on a page or two rather than spread over the whole library:
// each page the answer path touches cold costs it a translation miss.
#pragma once

#if defined(__GNUC__)
#define VU30_HOT_PATH __attribute__((hot))
#else
#define VU30_HOT_PATH
#endif
