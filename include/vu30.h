/* SPDX-License-Identifier: MIT */
/*
 * vu30 — driver library for Trovelheim fuel dispensers ("ТРК").
 *
 * This header is the whole binary boundary between a station host and the
 * library: the one exported entry GetVU30, the driver object and its table of
 * operations, the host's port dispatcher table that the driver calls, the
 * bound-method callbacks that the driver registers with the dispatcher, and the
 * host menu item table used by the driver's menu entry.
 *
 * Every function reached through these tables uses VU30_CALL. Texts crossing
 * the boundary are in code page 1251. On Windows, errors reach the host as the
 * library's structured exception (see "Errors on Windows" below); elsewhere,
 * and in Windows builds made with VU30_WIN32_CXX_EXCEPTIONS, as C++
 * exceptions derived from std::exception (see the C++ section at the end).
 */
#ifndef VU30_H
#define VU30_H

#include <stddef.h>
#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32) && !defined(_WIN64) && (defined(_M_IX86) || defined(__i386__))
#define VU30_CALL __stdcall
#else
#define VU30_CALL
#endif

/* VU30_EXPORT marks GetVU30 for export while the library itself is built
 * (VU30_BUILDING_LIBRARY is defined by its build only); a host including this
 * header imports it. */
#if defined(VU30_BUILDING_LIBRARY)
#if defined(_WIN32)
#define VU30_EXPORT __declspec(dllexport)
#else
#define VU30_EXPORT __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define VU30_EXPORT __declspec(dllimport)
#else
#define VU30_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------- */
/* Bound methods: code called as code(data, arguments...).                    */
/* ------------------------------------------------------------------------- */

typedef struct Vu30BoundMethod {
  void* code;
  void* data;
} Vu30BoundMethod;

/* The driver's callbacks, as the dispatcher calls them through a bound method. */
typedef bool(VU30_CALL* Vu30CheckReplyFn)(void* data, uint8_t channel, uint8_t* buffer,
                                          int32_t reserved, uint8_t* count, uint8_t* expected);
typedef void(VU30_CALL* Vu30RouteMessageFn)(void* data, uint8_t workerAddress, uint8_t* buffer,
                                            int32_t reserved, uint8_t length);
typedef void(VU30_CALL* Vu30PreparePostFn)(void* data, uint8_t post);
/* The click handler of the driver's menu item. */
typedef void(VU30_CALL* Vu30MenuClickFn)(void* data, void* sender);

/* ------------------------------------------------------------------------- */
/* The host's port dispatcher.                                               */
/* ------------------------------------------------------------------------- */

typedef struct Vu30Dispatcher Vu30Dispatcher;

typedef int32_t(VU30_CALL* Vu30GetChannelErrorFn)(Vu30Dispatcher* self, uint8_t channel);
typedef void(VU30_CALL* Vu30SetChannelErrorFn)(Vu30Dispatcher* self, uint8_t channel, int32_t code);
typedef void(VU30_CALL* Vu30SetChannelStatusFn)(Vu30Dispatcher* self, uint8_t channel,
                                                uint8_t status);
typedef uint8_t(VU30_CALL* Vu30GetChannelStatusFn)(Vu30Dispatcher* self, uint8_t channel);
typedef int32_t(VU30_CALL* Vu30ConfigureChannelFn)(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                                   uint32_t lineSettings);
typedef int32_t(VU30_CALL* Vu30TransactFn)(Vu30Dispatcher* self, uint8_t channel,
                                           uint8_t lineAddress, const uint8_t* request,
                                           uint8_t requestLength, uint8_t* reply,
                                           uint8_t replyLength, uint8_t replyType);
typedef void(VU30_CALL* Vu30SetCallbackFn)(Vu30Dispatcher* self, uint8_t channelOrPost,
                                           Vu30BoundMethod method);

/*
 * The dispatcher's table of operations. The driver calls only the named
 * entries; the others belong to the host and are never touched.
 * Which thread calls which entry, and calls of the driver's table from
 * inside them: docs/threads.md.
 */
typedef struct Vu30DispatcherTable {
  void* reserved0;
  Vu30GetChannelErrorFn GetChannelError;   /* 1 */
  Vu30SetChannelErrorFn SetChannelError;   /* 2 */
  Vu30SetChannelStatusFn SetChannelStatus; /* 3 */
  Vu30GetChannelStatusFn GetChannelStatus; /* 4 */
  void* reserved5_16[12];                  /* 5..16 */
  Vu30ConfigureChannelFn ConfigureChannel; /* 17 */
  Vu30TransactFn Transact;                 /* 18 */
  Vu30SetCallbackFn SetReplyChecker;       /* 19 */
  Vu30SetCallbackFn SetMessageHook;        /* 20 */
  Vu30SetCallbackFn SetPostInit;           /* 21 */
} Vu30DispatcherTable;

struct Vu30Dispatcher {
  const Vu30DispatcherTable* table;
};

/* Values the driver exchanges with the dispatcher. */
enum {
  VU30_LINK_GOOD = 1,           /* channel status: reply accepted */
  VU30_LINK_FAILED = 3,         /* channel status: reply rejected */
  VU30_ERR_REPLY_LENGTH = 0xDB, /* received count differs from the expected one */
  VU30_ERR_REPLY_FORMAT = 0xDE, /* no closing zero, or a malformed line byte */
  VU30_CONFIGURE_MODE = 3       /* ConfigureChannel's mode argument */
};

/* ------------------------------------------------------------------------- */
/* The host's menu items (slot 24).                                          */
/* ------------------------------------------------------------------------- */

typedef struct Vu30MenuItem Vu30MenuItem;

typedef struct Vu30MenuItemTable {
  int32_t(VU30_CALL* Count)(Vu30MenuItem* self);                            /* 0 */
  Vu30MenuItem*(VU30_CALL* Item)(Vu30MenuItem* self, int32_t index);        /* 1 */
  const char*(VU30_CALL* Caption)(Vu30MenuItem* self);                      /* 2 */
  void(VU30_CALL* SetCaption)(Vu30MenuItem* self, const char* caption);     /* 3 */
  void(VU30_CALL* SetHint)(Vu30MenuItem* self, const char* hint);           /* 4 */
  void(VU30_CALL* SetHelpContext)(Vu30MenuItem* self, int32_t context);     /* 5 */
  void(VU30_CALL* SetShortCut)(Vu30MenuItem* self, int32_t shortCut);       /* 6 */
  void(VU30_CALL* SetOnClick)(Vu30MenuItem* self, Vu30BoundMethod handler); /* 7 */
} Vu30MenuItemTable;

struct Vu30MenuItem {
  const Vu30MenuItemTable* table;
};

/* The host's item-creation function: a new child of parent (index -1). */
typedef Vu30MenuItem*(VU30_CALL* Vu30CreateItemFn)(Vu30MenuItem* parent, int32_t index);

/* ------------------------------------------------------------------------- */
/* The driver object.                                                        */
/* ------------------------------------------------------------------------- */

typedef struct Vu30Driver Vu30Driver;

/* Size of the identity block of slot 1: a length byte of 31 and 31 cp1251 bytes. */
#define VU30_DRIVER_INFO_SIZE 32
/* Smallest status record that slot 21 writes to. */
#define VU30_STATUS_RECORD_MIN_SIZE 16
/* Number of entries in the driver's table: slots 0..24 and the destructor. */
#define VU30_DRIVER_TABLE_SIZE 26

typedef struct Vu30DriverTable {
  /* 0: not implemented; raises the abstract-operation error. */
  void(VU30_CALL* Abstract)(Vu30Driver* self);
  /* 1: copies the 32-byte identity block into result; returns result. */
  uint8_t*(VU30_CALL* GetDriverInfo)(uint8_t* result, Vu30Driver* self);
  /* 2, 3: the post's link status (1 good, 3 failed). */
  void(VU30_CALL* SetLinkStatus)(Vu30Driver* self, uint8_t post, uint8_t value);
  uint8_t(VU30_CALL* GetLinkStatus)(Vu30Driver* self, uint8_t post);
  /* 4: stop the pump; the low byte of exchange decides whether a frame is sent. */
  uint8_t(VU30_CALL* StopPump)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t exchange);
  /* 5: StopPump(post, 0, 1). */
  int32_t(VU30_CALL* StopPumpNow)(Vu30Driver* self, int32_t post);
  /* 6: the final figures of the dispense, once. */
  void(VU30_CALL* ReadFinalDispense)(Vu30Driver* self, int32_t post, int32_t reserved,
                                     double* volume, double* money);
  /* 7: the nozzle's totalizer counter; second is always set to zero. */
  void(VU30_CALL* ReadCounter)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                               double* counter, double* second, int32_t reserved2,
                               int32_t reserved3);
  /* 8: no operation. */
  void(VU30_CALL* Nop8)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3, int32_t r4,
                        int32_t r5, int32_t r6, int32_t r7);
  /* 9: the running (mode 1) or final (other modes) figures; returns the volume. */
  double(VU30_CALL* PollDispense)(Vu30Driver* self, int32_t post, int32_t mode, double* money);
  /* 10: the post's state code, zero-extended. */
  uint32_t(VU30_CALL* GetPumpState)(Vu30Driver* self, uint8_t post, int32_t reserved);
  /* 11: the unit price of a nozzle. */
  void(VU30_CALL* SetPrice)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                            int32_t reserved2, int32_t reserved3, double price);
  /* 12: no operation. */
  void(VU30_CALL* Nop12)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3);
  /* 13, 14: preset the dose of a nozzle, in litres or in money. */
  void(VU30_CALL* PresetVolume)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                                int32_t reserved2, double volume);
  void(VU30_CALL* PresetMoney)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                               int32_t reserved2, double money);
  /* 15: start the pump. */
  void(VU30_CALL* StartPump)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t reserved2);
  /* 16: open a post: worker, dispatcher registrations, channel set-up. */
  void(VU30_CALL* OpenPost)(Vu30Driver* self, int32_t post);
  /* 17, 18: no operation. */
  void(VU30_CALL* Nop17)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3);
  void(VU30_CALL* Nop18)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3, int32_t r4);
  /* 19: StartPump(post, a, b). */
  void(VU30_CALL* StartPumpAlias)(Vu30Driver* self, int32_t post, int32_t a, int32_t b,
                                  int32_t reserved);
  /* 20: a fixed capability; true and *value set when the number is known. */
  bool(VU30_CALL* GetCapability)(Vu30Driver* self, int32_t number, int32_t* value);
  /* 21: writes bytes 0, 1, 14 and 15 of the host's status record; returns record. */
  uint8_t*(VU30_CALL* GetStatusRecord)(uint8_t* record, Vu30Driver* self, uint8_t post,
                                       uint8_t passedOn, int32_t reserved);
  /* 22: StopPump(post, a, low byte of exchange). */
  uint8_t(VU30_CALL* StopPumpEx)(Vu30Driver* self, int32_t post, int32_t a, int32_t reserved,
                                 int32_t exchange);
  /* 23: StopPump(post, a, 1). */
  uint8_t(VU30_CALL* StopPumpAlt)(Vu30Driver* self, int32_t post, int32_t a, int32_t reserved,
                                  int32_t reserved2);
  /* 24: add the driver's entry under the host's "&ТРК" menu item, once per load. */
  void(VU30_CALL* AddMenuEntry)(Vu30Driver* self, Vu30MenuItem* parentItem,
                                Vu30CreateItemFn createItem);
  /* 25: the destructor of C and C++ hosts: stops every worker and releases the
   * object (an Object Pascal host calls entry -1, see below).
   * Waiting for the calls of other threads: docs/threads.md, section 7. */
  void(VU30_CALL* Destroy)(Vu30Driver* self);
} Vu30DriverTable;

struct Vu30Driver {
  const Vu30DriverTable* table;
};

/*
 * The runtime's entries. Right before slot 0 lie the eight pointer-sized
 * entries that an Object Pascal runtime for Windows keeps before slot 0 of
 * every class's table, in its order from -8 to -1. A Pascal host declares
 * the driver as a class with virtual stdcall methods; its Free and Destroy
 * call entry -1, which releases the driver as entry 25 does. The other seven
 * do nothing and return 0 (SafeCallException returns E_UNEXPECTED,
 * 0x8000FFFF). Entry -1 ignores the outer-call flag: it always releases the
 * object.
 *
 * Their convention is the runtime's, not VU30_CALL:
 *   - i686 Windows: the register convention: the object in EAX, the second
 *     argument (the outer-call flag of Destroy) in EDX, a third in ECX, no
 *     stack arguments; EBX, ESI, EDI and EBP are kept. GCC and Clang call it
 *     through regparm(3) (VU30_RUNTIME_CALL); a compiler that cannot name
 *     it sees the entries as plain pointers.
 *   - x86_64 Windows: the Microsoft x64 convention (object in RCX, flag in DL).
 *   - elsewhere: the C convention, (object, int8_t outer).
 * A C or C++ host releases the driver through entry 25 instead.
 */
#if defined(_WIN32) && !defined(_WIN64) && (defined(_M_IX86) || defined(__i386__))
#if defined(__GNUC__)
#define VU30_RUNTIME_CALL __attribute__((regparm(3)))
#endif
#else
#define VU30_RUNTIME_CALL
#endif

/* E_UNEXPECTED, the result of SafeCallException (entry -8). */
#define VU30_SAFECALL_RESULT ((int32_t)0x8000FFFFu)

#if defined(VU30_RUNTIME_CALL)
typedef int32_t(VU30_RUNTIME_CALL* Vu30SafeCallExceptionFn)(Vu30Driver* self, void* exceptObject,
                                                            void* exceptAddress);
typedef intptr_t(VU30_RUNTIME_CALL* Vu30RuntimeFn)(Vu30Driver* self, void* argument);
typedef void(VU30_RUNTIME_CALL* Vu30RuntimeDestroyFn)(Vu30Driver* self, int8_t outer);
#else
typedef void* Vu30SafeCallExceptionFn;
typedef void* Vu30RuntimeFn;
typedef void* Vu30RuntimeDestroyFn;
#endif

typedef struct Vu30RuntimeEntries {
  Vu30SafeCallExceptionFn SafeCallException; /* -8 */
  Vu30RuntimeFn AfterConstruction;           /* -7 */
  Vu30RuntimeFn BeforeDestruction;           /* -6 */
  Vu30RuntimeFn Dispatch;                    /* -5 */
  Vu30RuntimeFn DefaultHandler;              /* -4 */
  Vu30RuntimeFn NewInstance;                 /* -3 */
  Vu30RuntimeFn FreeInstance;                /* -2 */
  Vu30RuntimeDestroyFn Destroy;              /* -1: releases the driver */
} Vu30RuntimeEntries;

/* How the table lies in the library: the runtime's entries, then slot 0. A
 * driver object's table pointer points at the table member. */
typedef struct Vu30DriverTableBlock {
  Vu30RuntimeEntries runtime;
  Vu30DriverTable table;
} Vu30DriverTableBlock;

/* The runtime's entries of a driver object's table. */
#define VU30_RUNTIME_ENTRIES(driver)                                       \
  ((const Vu30RuntimeEntries*)(const void*)((const char*)(driver)->table - \
                                            sizeof(Vu30RuntimeEntries)))

/*
 * The library's one export. The first argument is ignored; hostWindow is the
 * host's main window (on Qt, a QWidget* or null), owner of the library's
 * dialog; dispatcher is the host's port dispatcher, kept and never owned.
 */
VU30_EXPORT Vu30Driver* VU30_CALL GetVU30(uint8_t ignored, void* hostWindow,
                                          Vu30Dispatcher* dispatcher);

typedef Vu30Driver*(VU30_CALL* Vu30GetVU30Fn)(uint8_t ignored, void* hostWindow,
                                              Vu30Dispatcher* dispatcher);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------- */
/* Errors on Windows.                                                        */
/* ------------------------------------------------------------------------- */

/*
 * On Windows, GetVU30 and every function of the driver table report an error
 * by RaiseException(VU30_ERROR_CODE, EXCEPTION_NONCONTINUABLE, 3, parameters):
 *   ExceptionInformation[0]  the kind: VU30_ERROR_SERIAL_IO (the ESerialIO
 *                            of other platforms), VU30_ERROR_REFUSED,
 *                            VU30_ERROR_ABSTRACT or VU30_ERROR_FAILURE;
 *   ExceptionInformation[1]  a pointer to the message, code page 1251,
 *                            NUL-terminated, valid until the next error
 *                            raised on the same thread;
 *   ExceptionInformation[2]  the message's length in bytes.
 * The exception may not be continued. A host handles it with a frame-based
 * handler, which unwinds the frames it leaves, as __try/__except or a
 * Pascal try..except does:
 *
 *   static ULONG_PTR kind;
 *   static char text[512];
 *   static int Filter(const EXCEPTION_RECORD* r) {
 *     if (r->ExceptionCode != VU30_ERROR_CODE) return EXCEPTION_CONTINUE_SEARCH;
 *     kind = r->ExceptionInformation[0];
 *     lstrcpynA(text, (const char*)r->ExceptionInformation[1], sizeof text);
 *     return EXCEPTION_EXECUTE_HANDLER;
 *   }
 *   ...
 *   __try {
 *     driver->table->StartPump(driver, 3, 0, 0);
 *   } __except (Filter(GetExceptionInformation()->ExceptionRecord)) {
 *     if (kind == VU30_ERROR_SERIAL_IO) printf("no answer: %s\n", text);
 *   }
 *
 * Without __try (gcc) the handler is registered by hand: on i686 a record
 * {Next, Handler} pushed on the thread's chain at fs:[0], whose handler,
 * for VU30_ERROR_CODE in the search ((ExceptionFlags & 0x66) == 0), calls
 * RtlUnwind(its record, 0, the exception, 0), takes the record off the chain
 * and resumes the caller (__builtin_setjmp/__builtin_longjmp); on x86_64 a
 * function whose unwind data names the handler (.seh_handler), which calls
 * RtlUnwindEx(its frame, a landing point in that function, the exception,
 * ...). hosts/errors/vu30_catch.c in the library's sources is such a catch.
 * A vectored exception handler that leaves by longjmp unwinds nothing: it
 * is no way to catch the library's exception, for when a table function is
 * called from inside one of the host's dispatcher functions, frames of the
 * outer call lie between, holding the channel's lock.
 *
 * Every table function raises it so, also when the host calls it from
 * inside one of its own dispatcher functions. There the host may catch it
 * inside its function; if it leaves that function, the library takes it as
 * any exception of the host's there (below): the exchange of the outer call
 * has failed.
 *
 * The host's own exceptions. The library calls every function of the host
 * (dispatcher, menu items, CreateItem, the host's window procedures reached
 * while the dialog is shown) inside a frame-based handler. A structured
 * exception that leaves such a function (a Pascal raise, an MSVC throw,
 * RaiseException):
 *   - in CreateItem, the menu item functions (AddMenuEntry), SetReplyChecker
 *     and the registrations and channel set-up of OpenPost, called under a
 *     table function (but not in OpenPost's state request, below): is not
 *     taken. The search goes on to the host's own
 *     handlers with the host's frames untouched (an MSVC catch sees its
 *     object intact); when the host's handler unwinds the library's frames,
 *     the library releases what it held (its floating-point state included)
 *     as the unwind crosses them; a handler that continues the exception
 *     resumes the host's code and the table function returns as it would
 *     have.
 *   - everywhere else the host's own frames are first unwound, with their
 *     handlers and cleanups, then:
 *     - in Transact and the calls made during an exchange: the exchange has
 *       failed; the request's operation raises VU30_ERROR_SERIAL_IO with its
 *       message, the channel pair's lock is free, the post's link status is
 *       left as it was; a post worker drops it and answers the next message;
 *       in OpenPost's state request, whose outcome is no concern of the host
 *       (its SetReplyChecker included), it is dropped and OpenPost returns;
 *     - in a function called from inside the reply check, the message hook
 *       or the post initialisation: the check fails, and nothing reaches the
 *       dispatcher's thread;
 *     - in a host window procedure while the dialog is shown: the dialog
 *       closes, and the host's exception is raised again from the menu click
 *       with its code, flags and parameters unchanged (a host that continues
 *       it gets the click's normal return).
 *
 * Faults inside the library. Each entry from the host (every table function,
 * the reply check, the message hook, the post initialisation, the menu
 * click, the dialog's window procedure) is a boundary of its own: a
 * structured exception raised in the library's frames under it (a buffer
 * the library cannot read) is taken there. The reply check then rejects the
 * reply, the hook drops the message, the click returns as when the dialog
 * has closed, and a table function raises VU30_ERROR_FAILURE ("vu30:
 * exception 0x... inside the driver, on data from the host"); nothing of
 * the library stays held. A stack overflow that the
 * library takes gets the thread's guard page back.
 *
 * Floating point. Every entry from the host (the table, GetVU30, the
 * callbacks, window procedures) saves the host's x87 control word and MXCSR,
 * computes with all exceptions masked, rounding to nearest and 53-bit
 * precision, and gives the host its own control words and flags back on
 * every way out, raising included; during the library's calls into the host
 * the host's own state is in force. On i686 PollDispense's result is on the
 * x87 stack before the host's state is back: x87 exceptions the host left
 * pending and unmasked fire in the host's code, not inside the library.
 * Figures are the same whatever the host's state, on i686 and x86_64 alike,
 * and an argument that would trap (1e308, an infinity, NaN) is refused
 * (VU30_ERROR_REFUSED).
 *
 * Exceptions the library takes. A host exception that the library contains
 * (in Transact and the calls of an exchange, a post worker's exchange, the
 * functions called from inside the reply check or the message hook) is never
 * handed back, and the library cannot free an object of another runtime: the
 * object that a Pascal raise or an MSVC throw carries is lost, one per raise.
 * From those functions a host reports a failure as a result instead (a
 * non-zero result of Transact, the channel's error), or, where it must
 * raise, with RaiseException and a code of its own whose parameters are
 * plain values that own nothing.
 */
/* Bit 29 set: a code of the application's own; "V30" in the low bytes. */
#define VU30_ERROR_CODE 0xE0563330u
/* A dispenser exchange failed (ESerialIO elsewhere). */
#define VU30_ERROR_SERIAL_IO 1u
/* An argument the driver refused before touching anything (EVu30Refused). */
#define VU30_ERROR_REFUSED 2u
/* Slot 0, which no driver implements (EAbstractError). */
#define VU30_ERROR_ABSTRACT 3u
/* Any other failure inside the library: out of memory, no thread. */
#define VU30_ERROR_FAILURE 4u

/* ------------------------------------------------------------------------- */
/* Layout checks: the tables are arrays of pointer-sized entries.            */
/* ------------------------------------------------------------------------- */

#ifdef __cplusplus
#define VU30_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define VU30_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

VU30_STATIC_ASSERT(sizeof(bool) == 1, "boolean results are one byte");
VU30_STATIC_ASSERT(sizeof(double) == 8, "figures are 64-bit floats");
VU30_STATIC_ASSERT(sizeof(Vu30BoundMethod) == 2 * sizeof(void*), "a bound method is code and data");
VU30_STATIC_ASSERT(offsetof(Vu30BoundMethod, data) == sizeof(void*), "data follows code");
VU30_STATIC_ASSERT(sizeof(Vu30DriverTable) == VU30_DRIVER_TABLE_SIZE * sizeof(void*),
                   "the driver table has 26 entries");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, GetDriverInfo) == 1 * sizeof(void*), "slot 1");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, StopPump) == 4 * sizeof(void*), "slot 4");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, PollDispense) == 9 * sizeof(void*), "slot 9");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, OpenPost) == 16 * sizeof(void*), "slot 16");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, GetStatusRecord) == 21 * sizeof(void*), "slot 21");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, AddMenuEntry) == 24 * sizeof(void*), "slot 24");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTable, Destroy) == 25 * sizeof(void*),
                   "destructor is entry 25");
VU30_STATIC_ASSERT(offsetof(Vu30Driver, table) == 0, "the table is the object's first word");
VU30_STATIC_ASSERT(sizeof(Vu30RuntimeEntries) == 8 * sizeof(void*),
                   "eight runtime entries before slot 0");
VU30_STATIC_ASSERT(offsetof(Vu30RuntimeEntries, Destroy) == 7 * sizeof(void*),
                   "the runtime's destructor is entry -1");
VU30_STATIC_ASSERT(offsetof(Vu30DriverTableBlock, table) == sizeof(Vu30RuntimeEntries),
                   "slot 0 follows entry -1 directly");
VU30_STATIC_ASSERT(offsetof(Vu30DispatcherTable, GetChannelError) == 1 * sizeof(void*),
                   "dispatcher entry 1");
VU30_STATIC_ASSERT(offsetof(Vu30DispatcherTable, GetChannelStatus) == 4 * sizeof(void*),
                   "dispatcher entry 4");
VU30_STATIC_ASSERT(offsetof(Vu30DispatcherTable, ConfigureChannel) == 17 * sizeof(void*),
                   "dispatcher entry 17");
VU30_STATIC_ASSERT(offsetof(Vu30DispatcherTable, Transact) == 18 * sizeof(void*),
                   "dispatcher entry 18");
VU30_STATIC_ASSERT(offsetof(Vu30DispatcherTable, SetPostInit) == 21 * sizeof(void*),
                   "dispatcher entry 21");
VU30_STATIC_ASSERT(offsetof(Vu30Dispatcher, table) == 0, "the table is the first word");
VU30_STATIC_ASSERT(sizeof(Vu30MenuItemTable) == 8 * sizeof(void*), "menu item table");
VU30_STATIC_ASSERT(offsetof(Vu30MenuItemTable, SetOnClick) == 7 * sizeof(void*),
                   "menu item entry 7");

/* ------------------------------------------------------------------------- */
/* Errors (C++ hosts; on Windows only in VU30_WIN32_CXX_EXCEPTIONS builds).  */
/* ------------------------------------------------------------------------- */

#ifdef __cplusplus
#include <stdexcept>

/*
 * A failed dispenser exchange. what() is the operation's fixed message in code
 * page 1251, for example "Can't START POMP". Hosts may catch it by this name or
 * as std::exception.
 */
class ESerialIO : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/* Slot 0, which no driver implements. what() is "Abstract error". */
class EAbstractError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/*
 * An argument the driver refuses before it touches any state or sends any
 * frame: a post outside 1..30, a nozzle outside 1..8, an amount that does not
 * fit its digits, an operation on a post that has not been opened.
 */
class EVu30Refused : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};
#endif

#endif /* VU30_H */
