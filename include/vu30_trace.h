/*
 * vu30 line trace — an optional port dispatcher that a station host puts
 * between the driver and its own dispatcher, to record every exchange for
 * commissioning and support (libvu30-trace.so, vu30-trace.dll).
 *
 *   Vu30Dispatcher* traced = vu30_trace_open(&myDispatcher, "station.trace", 0);
 *   Vu30Driver* driver = GetVU30(0, mainWindow, traced ? traced : &myDispatcher);
 *   ...
 *   driver->table->Destroy(driver);
 *   vu30_trace_close(traced);
 *
 * The traced dispatcher forwards every entry to the inner one unchanged and on
 * the same thread, and wraps the callbacks the driver registers, so that the
 * dispatcher's calls into the driver are recorded too. Recording never waits:
 * records go to bounded buffers that a thread of the trace writes to the file
 * in batches; when it cannot keep up, records are dropped and counted. The
 * file is JSON Lines; the vu30-trace program explains it.
 *
 * Several traces may be open at once, each around its own dispatcher, each to
 * its own file. The callbacks the trace registered with the inner dispatcher
 * stay safe to call after vu30_trace_close: they then go straight to the
 * driver's own.
 */
#ifndef VU30_TRACE_H
#define VU30_TRACE_H

#include "vu30.h"

#if defined(VU30_BUILDING_TRACE)
#if defined(_WIN32)
#define VU30_TRACE_EXPORT __declspec(dllexport)
#else
#define VU30_TRACE_EXPORT __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define VU30_TRACE_EXPORT __declspec(dllimport)
#else
#define VU30_TRACE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The only options value so far: the defaults. Other values are refused. */
#define VU30_TRACE_DEFAULTS 0u

/*
 * Wraps inner (kept, never owned; it must outlive the trace) and starts a
 * trace into the file at path (code page of the system; created or emptied).
 * Returns the dispatcher to hand to GetVU30, or NULL when inner or path is
 * NULL, options is not 0, or the file cannot be made.
 */
VU30_TRACE_EXPORT Vu30Dispatcher* VU30_CALL vu30_trace_open(Vu30Dispatcher* inner, const char* path,
                                                            uint32_t options);

/*
 * Ends the trace after the driver object that used it has been destroyed:
 * writes what is left, stops the writer and frees the trace. NULL is ignored.
 */
VU30_TRACE_EXPORT void VU30_CALL vu30_trace_close(Vu30Dispatcher* traced);

typedef Vu30Dispatcher*(VU30_CALL* Vu30TraceOpenFn)(Vu30Dispatcher* inner, const char* path,
                                                    uint32_t options);
typedef void(VU30_CALL* Vu30TraceCloseFn)(Vu30Dispatcher* traced);

#ifdef __cplusplus
} /* extern "C" */
#endif

VU30_STATIC_ASSERT(sizeof(Vu30Dispatcher) == sizeof(void*),
                   "a traced dispatcher is handed out as a plain dispatcher");
VU30_STATIC_ASSERT(sizeof(Vu30DispatcherTable) == 22 * sizeof(void*),
                   "the trace forwards a table of entries 0..21");

#endif /* VU30_TRACE_H */
