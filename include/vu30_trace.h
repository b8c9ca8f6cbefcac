/* SPDX-License-Identifier: MIT */
/**
 * @file vu30_trace.h
 * @brief The line trace (libvu30-trace.so, vu30-trace.dll).
 */
/**
 * @defgroup vu30_trace The line trace
 * @brief A port dispatcher that records every exchange into a file.
 *
 * vu30 line trace — an optional port dispatcher that a station host puts
 * between the driver and its own dispatcher, to record every exchange for
 * commissioning and support (libvu30-trace.so, vu30-trace.dll).
 *
 * @code
 *   Vu30Dispatcher* traced = vu30_trace_open(&myDispatcher, "station.trace", 0);
 *   Vu30Driver* driver = GetVU30(0, mainWindow, traced ? traced : &myDispatcher);
 *   ...
 *   driver->table->Destroy(driver);
 *   vu30_trace_close(traced);
 * @endcode
 *
 * The traced dispatcher forwards every entry to the inner one unchanged and on
 * the same thread, and wraps the callbacks the driver registers (every driver
 * object's, however many use the trace in turn), so that the dispatcher's
 * calls into the driver are recorded too. Recording never waits: records go
 * to bounded buffers that a thread of the trace writes to the file in time
 * order; the thread sleeps while nothing is recorded. A record that cannot be
 * kept (the buffers are full, or the file cannot take it, as on a full disk)
 * is dropped and counted: the file tells each channel's losses with their
 * time span and reason, its end line the totals, and vu30_trace_status the
 * figures while the trace is open. The file is JSON Lines; the vu30-trace
 * program explains it.
 *
 * Several traces may be open at once, each around its own dispatcher, each to
 * its own file. The callbacks the trace registered with the inner dispatcher
 * stay safe to call after vu30_trace_close: they then go straight to the
 * driver's own (until a later trace reuses what the closed one left; a later
 * trace around the same dispatcher reuses it first). A trace never closed
 * still gets what it recorded into its file when the process ends normally or
 * the library is unloaded; a closed traced dispatcher must not be used again.
 *
 * No exception of any kind leaves a function of this header; each may be
 * called from any thread.
 * @{
 */
#ifndef VU30_TRACE_H
#define VU30_TRACE_H

#include "vu30.h"

/**
 * @def VU30_TRACE_EXPORT
 * @brief Exports the trace's functions while it is built; imports them
 * (Windows) or means nothing (elsewhere) for a host.
 */
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

/**
 * @name Options of vu30_trace_open()
 * #VU30_TRACE_DEFAULTS (one file, no size limit),
 * or VU30_TRACE_ROTATE(mib, kept): the file grows to at most mib MiB (1 ..
 * 65535; it ends before the record that would take it past the limit, and
 * its closing lines come on top), then it is renamed path.1 (path.1 becomes
 * path.2 and so on up to path.\<kept\>, the oldest is removed; kept 1 .. 255)
 * and a new file is started at path. The disk holds at most about
 * mib * (kept + 1) MiB of the trace. Every file is whole: header, records,
 * end line; each header names the trace and the file's place in it. A file
 * removed or renamed while the trace writes it is ended and made anew at
 * path. Other bits, a limit without kept files or kept files without a
 * limit are refused.
 * @{
 */
#define VU30_TRACE_DEFAULTS 0u                /**< one file, no size limit */
#define VU30_TRACE_LIMIT_MIB_MASK 0x0000FFFFu /**< the bits of the size limit, in MiB */
#define VU30_TRACE_KEPT_MASK 0x00FF0000u      /**< the bits of the number of kept files */
#define VU30_TRACE_KEPT_SHIFT 16              /**< where the number of kept files starts */
/** The options of a rotated trace: mib 1 .. 65535 MiB a file, kept 1 .. 255 files. */
#define VU30_TRACE_ROTATE(mib, kept)             \
  (((uint32_t)(mib)&VU30_TRACE_LIMIT_MIB_MASK) | \
   (((uint32_t)(kept) << VU30_TRACE_KEPT_SHIFT) & VU30_TRACE_KEPT_MASK))
/** @} */

/**
 * @brief What an open trace has done so far (all files of a rotated trace).
 * @since 2.41
 */
typedef struct Vu30TraceStatus {
  uint64_t recordsWritten;     /**< records that reached the file */
  uint64_t recordsDropped;     /**< records lost, whatever the reason */
  uint64_t droppedWriteFailed; /**< of those, records the file could not take */
  uint32_t lastWriteError;     /**< the system's code of the last failed write or
                                  rotation, or the missing file's code when the
                                  file was removed or renamed under the trace
                                  (errno; GetLastError() on Windows); 0 if none */
  uint32_t filesRotated;       /**< times the file reached its limit and was renamed */
} Vu30TraceStatus;

/**
 * @brief Wraps inner and starts a trace into the file at path.
 *
 * Starts the trace's writer thread.
 * @param inner the host's dispatcher, kept and never owned: it must outlive
 * the trace; null (or one without a table) gives NULL
 * @param path the file, in the system's code page; created or emptied;
 * NULL gives NULL
 * @param options #VU30_TRACE_DEFAULTS or VU30_TRACE_ROTATE(); anything else
 * gives NULL
 * @return the dispatcher to hand to GetVU30(), or NULL when an argument is
 * refused, the file cannot be made, or there is no memory or thread
 * @since 2.41
 */
VU30_TRACE_EXPORT Vu30Dispatcher* VU30_CALL vu30_trace_open(Vu30Dispatcher* inner, const char* path,
                                                            uint32_t options);

/**
 * @brief Ends the trace after the driver object that used it has been
 * destroyed: writes what is left, stops the writer and frees the trace.
 * @param traced a dispatcher from vu30_trace_open(), not used afterwards;
 * NULL, or a dispatcher that is no open trace, is ignored
 * @since 2.41
 */
VU30_TRACE_EXPORT void VU30_CALL vu30_trace_close(Vu30Dispatcher* traced);

/**
 * @brief Fills *status with the figures of the open trace traced; any
 * thread, at any time while it is open. Losses reach the figures within the
 * writer's next batch.
 * @param traced a dispatcher from vu30_trace_open()
 * @param status receives the figures
 * @return 1, or 0 (status untouched) when traced is not an open trace or
 * status is NULL
 * @since 2.41
 */
VU30_TRACE_EXPORT int VU30_CALL vu30_trace_status(Vu30Dispatcher* traced, Vu30TraceStatus* status);

/** @brief vu30_trace_open()'s type, for hosts that load the library themselves. */
typedef Vu30Dispatcher*(VU30_CALL* Vu30TraceOpenFn)(Vu30Dispatcher* inner, const char* path,
                                                    uint32_t options);
/** @brief vu30_trace_close()'s type. */
typedef void(VU30_CALL* Vu30TraceCloseFn)(Vu30Dispatcher* traced);
/** @brief vu30_trace_status()'s type. */
typedef int(VU30_CALL* Vu30TraceStatusFn)(Vu30Dispatcher* traced, Vu30TraceStatus* status);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

VU30_STATIC_ASSERT(sizeof(Vu30Dispatcher) == sizeof(void*),
                   "a traced dispatcher is handed out as a plain dispatcher");
VU30_STATIC_ASSERT(sizeof(Vu30DispatcherTable) == 22 * sizeof(void*),
                   "the trace forwards a table of entries 0..21");
VU30_STATIC_ASSERT(sizeof(Vu30TraceStatus) == 32, "the status is laid out alike on every target");
VU30_STATIC_ASSERT(offsetof(Vu30TraceStatus, droppedWriteFailed) == 16,
                   "the status's counts are 64-bit, one after the other");
VU30_STATIC_ASSERT(offsetof(Vu30TraceStatus, lastWriteError) == 24,
                   "the status's codes follow its counts");
VU30_STATIC_ASSERT(offsetof(Vu30TraceStatus, filesRotated) == 28,
                   "the status's codes follow its counts");

#endif /* VU30_TRACE_H */
