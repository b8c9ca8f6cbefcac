/* SPDX-License-Identifier: MIT */
/**
 * @file vu30.h
 * @brief The binary boundary between a station host and the vu30 driver
 * library.
 *
 * vu30 — driver library for Trovelheim fuel dispensers ("ТРК").
 *
 * This header is the binary boundary between a station host and the driver
 * library: the one exported entry GetVU30(), the driver object and its table
 * of operations (@ref vu30_driver), the host's port dispatcher table that the
 * driver calls (@ref vu30_dispatcher), the bound-method callbacks that the
 * driver registers with the dispatcher, and the host menu item table used by
 * the driver's menu entry (@ref vu30_menu). A host that cannot catch a C++
 * exception, on every system but Windows, also needs vu30_calls.h.
 *
 * Every function reached through these tables uses #VU30_CALL. Texts crossing
 * the boundary are in code page 1251. On Windows, errors reach the host as the
 * library's structured exception (#VU30_ERROR_CODE); elsewhere, and in
 * Windows builds made with VU30_WIN32_CXX_EXCEPTIONS, as C++ exceptions
 * derived from std::exception (@ref vu30_errors). How each language catches
 * them, what the library does with the host's own exceptions and faults, and
 * its floating-point rules: docs/errors.md,
 * @ref errors-faults-and-host-exceptions "Faults and host exceptions".
 */

/**
 * @mainpage vu30 reference
 *
 * The reference of vu30's four public headers, one group per table or area:
 *
 * - @ref vu30_entry — GetVU30(), the library's one export (vu30.h);
 * - @ref vu30_driver — the driver object and its table of operations, slots
 *   0..25, and the runtime's entries before slot 0 (vu30.h);
 * - @ref vu30_dispatcher — the host's port dispatcher that the driver calls,
 *   and the callbacks the driver registers with it (vu30.h);
 * - @ref vu30_menu — the host's menu items, for slot 24 (vu30.h);
 * - @ref vu30_errors — the kinds of error, the structured exception of
 *   Windows and the C++ exceptions of other systems (vu30.h);
 * - @ref vu30_calls — the driver's operations with their errors as values,
 *   for hosts that cannot catch a C++ exception (vu30_calls.h);
 * - @ref vu30_sim — the dispenser simulator, a forecourt for testing a host
 *   (vu30_sim.h);
 * - @ref vu30_trace — the line trace, a dispatcher that records every
 *   exchange (vu30_trace.h).
 *
 * The guides are the related pages, made from docs/: among them
 * @ref boundary "the binary boundary" (layouts, slots, the arguments the
 * driver refuses) and @ref errors "the errors" (the error model on every
 * system and language).
 *
 * Posts count 1..30 and nozzles 1..8; volumes are in litres, prices in money
 * units a litre, money in money units, all 64-bit floats that travel in
 * hundredths. Every function may be called from any of the host's threads
 * unless its reference says otherwise.
 */
#ifndef VU30_H
#define VU30_H

#include <stddef.h>
#include <stdint.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

/**
 * @def VU30_CALL
 * @brief The calling convention of GetVU30() and of every function of every
 * table: __stdcall (callee cleans) on 32-bit x86 Windows, the system's
 * default convention elsewhere.
 * @since 2.41
 */
#if defined(_WIN32) && !defined(_WIN64) && (defined(_M_IX86) || defined(__i386__))
#define VU30_CALL __stdcall
#else
#define VU30_CALL
#endif

/**
 * @def VU30_EXPORT
 * @brief Marks GetVU30() for export while the library itself is built
 * (VU30_BUILDING_LIBRARY is defined by its build only); a host including this
 * header imports it (dllimport on Windows, nothing elsewhere).
 * @since 2.41
 */
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

/**
 * @defgroup vu30_dispatcher The host's port dispatcher
 * @brief The dispatcher table that the driver calls for every exchange, and
 * the callbacks the driver registers with it.
 *
 * The host owns the dispatcher and the line; the driver builds requests,
 * checks and decodes replies. Line coding, the order of the calls and a
 * complete dispatcher: docs/boundary.md and docs/writing-a-port-dispatcher.md.
 * The driver calls the dispatcher's functions from the host's threads (inside
 * the driver's operations) and from the post workers; a function of the host
 * must return to the driver (a failed exchange is a non-zero result of
 * Transact), and on Windows a structured exception that leaves one is handled
 * as docs/errors.md says.
 * @{
 */

/**
 * @brief A bound method: called as code(data, arguments...).
 * @since 2.41
 */
typedef struct Vu30BoundMethod {
  void* code; /**< the function, one of the callback types below */
  void* data; /**< its first argument, owned by whoever made the method */
} Vu30BoundMethod;

/**
 * @brief The driver's reply check, registered by SetReplyChecker; the
 * dispatcher calls it for every reply received on the channel.
 *
 * Arguments: data (the bound method's data), channel (1..30), buffer (the
 * received bytes, decoded in place into digits 0..15 and a closing zero),
 * reserved (any value), count (the received count, by reference), expected
 * (the awaited reply length, by reference). Returns true when the reply is
 * accepted; it sets the channel's status (#VU30_LINK_GOOD or
 * #VU30_LINK_FAILED) and error (0, #VU30_ERR_REPLY_LENGTH,
 * #VU30_ERR_REPLY_FORMAT) through the dispatcher. Called on any thread, also
 * while and after the driver object is destroyed (it then rejects the reply).
 * @since 2.41
 */
typedef bool(VU30_CALL* Vu30CheckReplyFn)(void* data, uint8_t channel, uint8_t* buffer,
                                          int32_t reserved, uint8_t* count, uint8_t* expected);
/**
 * @brief The driver's message hook, registered by SetMessageHook: a
 * dispenser's own message to the post's worker.
 *
 * Arguments: data, workerAddress (the post + 32, 33..62), buffer (the
 * received bytes, coded like a reply), reserved (any value), length (the
 * byte count). Called on any thread; a message the driver cannot take
 * (malformed, or after the driver object is destroyed) is dropped.
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30RouteMessageFn)(void* data, uint8_t workerAddress, uint8_t* buffer,
                                            int32_t reserved, uint8_t length);
/**
 * @brief The driver's post initialisation, registered by SetPostInit: the
 * dispatcher may call it with the post number (1..30) whenever it chooses;
 * it readies the post as OpenPost does (worker, message hook, channel
 * set-up). Called on any thread; does nothing after the driver object is
 * destroyed.
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30PreparePostFn)(void* data, uint8_t post);
/**
 * @brief The click handler of the driver's menu item (slot 24): shows the
 * port type dialog and returns when it is closed. data and sender are not
 * used. Called by the host's menu on its user-interface thread.
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30MenuClickFn)(void* data, void* sender);

/** @brief The host's port dispatcher object (its table first). */
typedef struct Vu30Dispatcher Vu30Dispatcher;

/**
 * @brief Entry 1: the channel's (1..30) error code as last set (0 none).
 * @since 2.41
 */
typedef int32_t(VU30_CALL* Vu30GetChannelErrorFn)(Vu30Dispatcher* self, uint8_t channel);
/**
 * @brief Entry 2: keeps the channel's error code (0, #VU30_ERR_REPLY_LENGTH,
 * #VU30_ERR_REPLY_FORMAT, or a code of the host's own).
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30SetChannelErrorFn)(Vu30Dispatcher* self, uint8_t channel, int32_t code);
/**
 * @brief Entry 3: keeps the channel's status (#VU30_LINK_GOOD,
 * #VU30_LINK_FAILED).
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30SetChannelStatusFn)(Vu30Dispatcher* self, uint8_t channel,
                                                uint8_t status);
/**
 * @brief Entry 4: the channel's status as last set; the driver reads it after
 * every exchange.
 * @since 2.41
 */
typedef uint8_t(VU30_CALL* Vu30GetChannelStatusFn)(Vu30Dispatcher* self, uint8_t channel);
/**
 * @brief Entry 17: sets up the post's (1..30) line: mode is
 * #VU30_CONFIGURE_MODE; the low 16 bits of lineSettings are the speed (1200
 * baud), the top byte 3, 4 or 5 by the port's dispenser type. The result is
 * ignored.
 * @since 2.41
 */
typedef int32_t(VU30_CALL* Vu30ConfigureChannelFn)(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                                   uint32_t lineSettings);
/**
 * @brief Entry 18: one exchange on the line.
 *
 * Sends requestLength line-coded bytes of request to the dispenser at
 * lineAddress on the channel's (1..30) line; when replyLength is not 0, puts
 * the received bytes into reply and calls the reply check registered for the
 * channel (SetReplyChecker, which the driver calls before each exchange) with
 * them. replyType is the awaited reply's type, line-coded (0 when none).
 * Returns 0 when the exchange was made; any other value fails it (the
 * operation then raises kind 1, #VU30_ERROR_SERIAL_IO). Called on the host's
 * threads under the channel pair's lock, and on the post workers' threads.
 * @since 2.41
 */
typedef int32_t(VU30_CALL* Vu30TransactFn)(Vu30Dispatcher* self, uint8_t channel,
                                           uint8_t lineAddress, const uint8_t* request,
                                           uint8_t requestLength, uint8_t* reply,
                                           uint8_t replyLength, uint8_t replyType);
/**
 * @brief Entries 19, 20 and 21: register one of the driver's callbacks for a
 * channel or post (1..30). The dispatcher keeps the latest method for each
 * and calls it later.
 * @since 2.41
 */
typedef void(VU30_CALL* Vu30SetCallbackFn)(Vu30Dispatcher* self, uint8_t channelOrPost,
                                           Vu30BoundMethod method);

/**
 * @brief The dispatcher's table of operations. The driver calls only the
 * named entries; the others belong to the host and are never touched.
 * GetVU30() refuses a table that lacks a named entry. Which thread calls
 * which entry, and calls of the driver's table from inside them:
 * docs/threads.md, @ref threads "Threads at the boundary".
 * @since 2.41
 */
typedef struct Vu30DispatcherTable {
  void* reserved0;                         /**< 0: the host's own */
  Vu30GetChannelErrorFn GetChannelError;   /**< 1: Vu30GetChannelErrorFn */
  Vu30SetChannelErrorFn SetChannelError;   /**< 2: Vu30SetChannelErrorFn */
  Vu30SetChannelStatusFn SetChannelStatus; /**< 3: Vu30SetChannelStatusFn */
  Vu30GetChannelStatusFn GetChannelStatus; /**< 4: Vu30GetChannelStatusFn */
  void* reserved5_16[12];                  /**< 5..16: the host's own */
  Vu30ConfigureChannelFn ConfigureChannel; /**< 17: Vu30ConfigureChannelFn */
  Vu30TransactFn Transact;                 /**< 18: Vu30TransactFn */
  Vu30SetCallbackFn SetReplyChecker;       /**< 19: registers a Vu30CheckReplyFn per channel */
  Vu30SetCallbackFn SetMessageHook;        /**< 20: registers a Vu30RouteMessageFn per post */
  Vu30SetCallbackFn SetPostInit;           /**< 21: registers a Vu30PreparePostFn per post */
} Vu30DispatcherTable;

/**
 * @brief The dispatcher object as the driver sees it: its table first. A host
 * keeps its own fields after it and finds them from the self pointer.
 * @since 2.41
 */
struct Vu30Dispatcher {
  const Vu30DispatcherTable* table; /**< the host's table; must outlive the driver */
};

/** @brief Values the driver exchanges with the dispatcher. */
enum {
  VU30_LINK_GOOD = 1,           /**< channel status: reply accepted */
  VU30_LINK_FAILED = 3,         /**< channel status: reply rejected */
  VU30_ERR_REPLY_LENGTH = 0xDB, /**< received count differs from the expected one */
  VU30_ERR_REPLY_FORMAT = 0xDE, /**< no closing zero, or a malformed line byte */
  VU30_CONFIGURE_MODE = 3       /**< ConfigureChannel's mode argument */
};

/** @} */

/**
 * @defgroup vu30_menu The host's menu items
 * @brief The host's menu as the driver's menu entry (slot 24) sees it.
 *
 * The driver reads the parent's children, finds the one captioned "&ТРК"
 * (code page 1251) and creates its entry "Программирование параметров
 * Trovelheim" under it. Qt hosts can use the adapter in
 * hosts/qt/qt_menu_items.h. All entries are called on the thread that calls
 * AddMenuEntry.
 * @{
 */

/** @brief One of the host's menu items (its table first). */
typedef struct Vu30MenuItem Vu30MenuItem;

/**
 * @brief The table of a host's menu item. An item the driver uses lacks none
 * of the entries it calls, or AddMenuEntry refuses it (kind 2).
 * @since 2.41
 */
typedef struct Vu30MenuItemTable {
  /** @brief 0: the number of the item's children. */
  int32_t(VU30_CALL* Count)(Vu30MenuItem* self);
  /** @brief 1: the child at index (0 .. Count - 1). */
  Vu30MenuItem*(VU30_CALL* Item)(Vu30MenuItem* self, int32_t index);
  /** @brief 2: the item's caption, code page 1251, NUL-terminated. */
  const char*(VU30_CALL* Caption)(Vu30MenuItem* self);
  /** @brief 3: sets the caption (code page 1251, NUL-terminated). */
  void(VU30_CALL* SetCaption)(Vu30MenuItem* self, const char* caption);
  /** @brief 4: sets the hint (code page 1251, NUL-terminated). */
  void(VU30_CALL* SetHint)(Vu30MenuItem* self, const char* hint);
  /** @brief 5: sets the help context (the driver passes 0). */
  void(VU30_CALL* SetHelpContext)(Vu30MenuItem* self, int32_t context);
  /** @brief 6: sets the shortcut (the driver passes 0, none). */
  void(VU30_CALL* SetShortCut)(Vu30MenuItem* self, int32_t shortCut);
  /** @brief 7: sets the click handler, a bound Vu30MenuClickFn. */
  void(VU30_CALL* SetOnClick)(Vu30MenuItem* self, Vu30BoundMethod handler);
} Vu30MenuItemTable;

/**
 * @brief A host's menu item as the driver sees it: its table first.
 * @since 2.41
 */
struct Vu30MenuItem {
  const Vu30MenuItemTable* table; /**< the host's table */
};

/**
 * @brief The host's item-creation function: a new child of parent (the driver
 * passes index -1, at the end).
 * @since 2.41
 */
typedef Vu30MenuItem*(VU30_CALL* Vu30CreateItemFn)(Vu30MenuItem* parent, int32_t index);

/** @} */

/**
 * @defgroup vu30_driver The driver object and its table
 * @brief The object GetVU30() returns and its table of operations, slots
 * 0..24 and the destructor (entry 25), with the runtime's entries before
 * slot 0.
 *
 * Each slot takes the object first, except slots 1 and 21, which take the
 * result storage first. Arguments named reserved (r1.. in the no-operation
 * slots) are passed and ignored. Every slot may be called from any of the
 * host's threads, also from inside the host's own dispatcher functions
 * (Destroy excepted), and refuses an object that is not a driver object of
 * this library (kind 2, #VU30_ERROR_REFUSED).
 *
 * How errors leave a slot: on Windows the library's structured exception
 * (#VU30_ERROR_CODE), elsewhere the C++ exceptions of @ref vu30_errors; a C
 * or Pascal host on Linux calls the slots through @ref vu30_calls. Kind 2, a
 * refused argument, is raised before anything is sent or changed; each
 * slot's kind-1 failure (#VU30_ERROR_SERIAL_IO) names what the slot has
 * changed before it. A reply the driver rejects is no error: the slot
 * returns normally with zero figures and the post's link status (slot 3) is
 * 3.
 *
 * State codes (slot 10), n a nozzle 1..8:
 * | code | meaning |
 * |---|---|
 * | 0xC0 | idle; a dose request is refused |
 * | 0xC8 | started, no dose released yet |
 * | 0xD8 | stopped on a port of type 1 ("FAS") |
 * | 0xD8 + n | the dose released for nozzle n |
 * | 0xE0 + n | nozzle n reported by a type-1 dispenser (returned, never kept) |
 * | 0xE8 + n | started again after a refused dose request for nozzle n |
 * | 0xF0 + n | a dose request for nozzle n refused and the pump stopped |
 * | 0 | a type-1 dispenser's state reply was rejected |
 * @{
 */

/** @brief The driver object (its table first); made by GetVU30(), released by slot 25. */
typedef struct Vu30Driver Vu30Driver;

/** @brief Size of the identity block of slot 1: a length byte of 31 and 31 cp1251 bytes. */
#define VU30_DRIVER_INFO_SIZE 32
/** @brief Smallest status record that slot 21 writes to. */
#define VU30_STATUS_RECORD_MIN_SIZE 16
/** @brief Number of entries in the driver's table: slots 0..24 and the destructor. */
#define VU30_DRIVER_TABLE_SIZE 26

/**
 * @brief The driver's table of operations: slots 0..24 and the destructor
 * (entry 25).
 * @since 2.41
 */
typedef struct Vu30DriverTable {
  /**
   * @brief Slot 0: not implemented; always raises the abstract-operation
   * error, kind 3 (#VU30_ERROR_ABSTRACT, EAbstractError, "Abstract error").
   * @param self the driver object
   * @since 2.41
   */
  void(VU30_CALL* Abstract)(Vu30Driver* self);
  /**
   * @brief Slot 1: copies the 32-byte identity block into result: a length
   * byte of 31 and "v2.41#Протокол к ТРК Trovelheim" in code page 1251, no
   * terminator.
   * @param result room for #VU30_DRIVER_INFO_SIZE bytes; null is refused
   * (kind 2)
   * @param self the driver object
   * @return result
   * @since 2.41
   */
  uint8_t*(VU30_CALL* GetDriverInfo)(uint8_t* result, Vu30Driver* self);
  /**
   * @brief Slot 2: stores value as the post's link status and touches
   * nothing else.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param value any byte; the driver reads every value but 1 as failed
   * @since 2.41
   */
  void(VU30_CALL* SetLinkStatus)(Vu30Driver* self, uint8_t post, uint8_t value);
  /**
   * @brief Slot 3: the post's link status: #VU30_LINK_GOOD (1) after a good
   * exchange, #VU30_LINK_FAILED (3) after a failed one or a rejected reply,
   * or what slot 2 stored. 1 for every post after GetVU30().
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @return the link status
   * @since 2.41
   */
  uint8_t(VU30_CALL* GetLinkStatus)(Vu30Driver* self, uint8_t post);
  /**
   * @brief Slot 4: stops the pump.
   *
   * With the low byte of exchange 0 only the post's state is set idle
   * (0xC0); nothing is sent. Otherwise the stop command is sent; when the
   * reply is accepted the state becomes 0xD8 on a port of type 1 ("FAS"),
   * 0xC0 on the others. A rejected reply leaves the state as it was. A
   * failed exchange raises kind 1, "Can't STOP POMP", the state unchanged.
   * The post need not have been opened.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param reserved ignored
   * @param exchange its low byte: 0 no frame, any other value the stop
   * command
   * @return 0
   * @since 2.41
   */
  uint8_t(VU30_CALL* StopPump)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t exchange);
  /**
   * @brief Slot 5: StopPump (slot 4) with the stop command sent: (the post's
   * low byte, 0, 1).
   * @param self the driver object
   * @param post its low byte, 1..30; any other is refused (kind 2)
   * @return 0
   * @since 2.41
   */
  int32_t(VU30_CALL* StopPumpNow)(Vu30Driver* self, int32_t post);
  /**
   * @brief Slot 6: the final figures of the post's sale, once.
   *
   * Both figures are set to 0 first. When no sale is pending on the post
   * (none since its last good final read: the worker answers a price request
   * or releases a dose to make one pending), nothing is sent, the figures
   * stay 0, the state becomes idle (0xC0): so a second call after a good
   * read gives zeros and no error. On a port of type 1 whose state is not
   * idle nothing is sent and nothing changes (the dispense still runs).
   * Otherwise the final figures are asked for: when the reply is accepted,
   * volume is the dispensed volume and money that volume at the preset
   * nozzle's price (0 without a preset), the sale is no longer pending and
   * the state is idle. A rejected reply leaves both 0, the sale pending and
   * the link status 3. A failed exchange raises kind 1, "Ошибка при запросе
   * итоговых данных отлива", with both figures 0 and nothing else changed.
   * @param self the driver object
   * @param post 1..30, opened (slot 16); otherwise refused (kind 2)
   * @param reserved ignored
   * @param volume receives the volume in litres (five digits of hundredths);
   * null is refused (kind 2)
   * @param money receives the money in money units, not rounded; null is
   * refused (kind 2)
   * @since 2.41
   */
  void(VU30_CALL* ReadFinalDispense)(Vu30Driver* self, int32_t post, int32_t reserved,
                                     double* volume, double* money);
  /**
   * @brief Slot 7: the nozzle's totalizer counter.
   *
   * Asks the dispenser, then sets both figures to 0; when the reply is
   * accepted and names the nozzle asked for, counter is the nozzle's counter
   * and the call pauses 100 ms. A reply for another nozzle leaves 0 and sets
   * the link status to 3; a rejected reply leaves 0 and the link status 3.
   * A failed exchange raises kind 1, "Невозможно выполнить запрос
   * счетчиков", the figures untouched. The post need not have been opened.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param reserved ignored
   * @param nozzle 1..8; any other is refused (kind 2)
   * @param counter receives the counter in litres (ten digits of
   * hundredths); null is refused (kind 2)
   * @param second always set to 0 (the dispenser has no second counter);
   * null is refused (kind 2)
   * @param reserved2 ignored
   * @param reserved3 ignored
   * @since 2.41
   */
  void(VU30_CALL* ReadCounter)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                               double* counter, double* second, int32_t reserved2,
                               int32_t reserved3);
  /**
   * @brief Slot 8: no operation.
   * @param self the driver object
   * @param r1 ignored
   * @param r2 ignored
   * @param r3 ignored
   * @param r4 ignored
   * @param r5 ignored
   * @param r6 ignored
   * @param r7 ignored
   * @since 2.41
   */
  void(VU30_CALL* Nop8)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3, int32_t r4,
                        int32_t r5, int32_t r6, int32_t r7);
  /**
   * @brief Slot 9: the running (mode 1) or final (other modes) figures of the
   * post's dispense.
   *
   * The money figure is set to 0 first. Once more than two polls in a row
   * have found the preset dose reached, every poll first waits one second.
   * Mode 1 asks for the running volume: hundredths of a litre, or on ports
   * of type 1 and 3 impulses divided by the port's impulses factor. Other
   * modes ask for the final volume (hundredths). A reading more than 2 L above
   * the last running one and more than 0.02 L above the dose is taken for a
   * line fault and replaced by the last running reading. money is the volume
   * at the preset nozzle's price (0 without a preset). A rejected reply gives
   * 0 and 0 and, in mode 1, sets the link status to 3. After more than 1000
   * good polls in a row at the dose the state is set idle. A failed exchange
   * raises kind 1 ("Ошибка при опросе данных отлива" in mode 1, "Ошибка при
   * запросе итоговых данных отлива" in the others) with money 0 and nothing
   * else changed.
   *
   * At the start of a sale, before the dispenser resets its figures, the
   * running figures are still the last sale's volume, priced at the nozzle's
   * current price: the driver reports what the dispenser says.
   * @param self the driver object
   * @param post 1..30, opened (slot 16); otherwise refused (kind 2)
   * @param mode 1 running figures, any other value final figures; mode 1 on
   * an impulse-counting port (types 1, 3) whose impulses factor is 0 is
   * refused (kind 2)
   * @param money receives the money in money units, not rounded; null is
   * refused (kind 2)
   * @return the volume in litres
   * @since 2.41
   */
  double(VU30_CALL* PollDispense)(Vu30Driver* self, int32_t post, int32_t mode, double* money);
  /**
   * @brief Slot 10: the post's state code (see the table of the group),
   * zero-extended.
   *
   * On a port of type 1 ("FAS") whose kept code is 0xC0 or 0xE1 the
   * dispenser is asked: 0xE0 + n when it reports nozzle n, 0xC0 when it is
   * idle, 0 when the reply is rejected (link status 3); the kept code does
   * not change. Otherwise nothing is sent, the link status is set to 1 and
   * the kept code is returned. A failed exchange raises kind 1, "Can't
   * GetSost". The post need not have been opened.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param reserved ignored
   * @return the state code, 0..255
   * @since 2.41
   */
  uint32_t(VU30_CALL* GetPumpState)(Vu30Driver* self, uint8_t post, int32_t reserved);
  /**
   * @brief Slot 11: the unit price of a nozzle.
   *
   * Keeps the price, rounded to hundredths (halves to even), for the
   * workers' answers and the money figures, then sends it to the dispenser.
   * A failed exchange raises kind 1, "Невозможно выполнить установку цены";
   * the new price is kept all the same. The post need not have been opened.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param reserved ignored
   * @param nozzle 1..8; any other is refused (kind 2)
   * @param reserved2 ignored
   * @param reserved3 ignored
   * @param price in money units a litre, a finite 0 .. 99.99; any other is
   * refused (kind 2) and not kept
   * @since 2.41
   */
  void(VU30_CALL* SetPrice)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                            int32_t reserved2, int32_t reserved3, double price);
  /**
   * @brief Slot 12: no operation.
   * @param self the driver object
   * @param r1 ignored
   * @param r2 ignored
   * @param r3 ignored
   * @since 2.41
   */
  void(VU30_CALL* Nop12)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3);
  /**
   * @brief Slot 13: presets the dose of a nozzle in litres.
   *
   * Sends nothing: the post's worker releases the dose when the dispenser
   * asks for it after StartPump. The preset replaces the post's previous one
   * and stays until the next.
   * @param self the driver object
   * @param post 1..30, opened (slot 16); otherwise refused (kind 2)
   * @param reserved ignored
   * @param nozzle its low byte, 1..8; any other is refused (kind 2)
   * @param reserved2 ignored
   * @param volume in litres, a finite 0 .. 999.99, kept in hundredths; any
   * other is refused (kind 2)
   * @since 2.41
   */
  void(VU30_CALL* PresetVolume)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                                int32_t reserved2, double volume);
  /**
   * @brief Slot 14: presets the dose of a nozzle in money.
   *
   * The dose is the volume the money buys at the nozzle's price, in whole
   * hundredths of a litre (money × 100 ÷ price, rounded, halves to even); the
   * money charged is that volume's price (351.00 at 38.75 sells 9.06 L for
   * 351.08). Otherwise as slot 13.
   * @param self the driver object
   * @param post 1..30, opened (slot 16); otherwise refused (kind 2)
   * @param reserved ignored
   * @param nozzle 1..8, with a price (slot 11); otherwise refused (kind 2)
   * @param reserved2 ignored
   * @param money in money units, finite and not negative, buying at most
   * 999.99 L; any other is refused (kind 2)
   * @since 2.41
   */
  void(VU30_CALL* PresetMoney)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t nozzle,
                               int32_t reserved2, double money);
  /**
   * @brief Slot 15: starts the pump.
   *
   * Sends the start command; when the reply is accepted the state becomes
   * 0xC8, except that a released dose (0xD9..0xDF) stays and a refused one
   * (0xF1..0xF7) becomes 0xE9..0xEF. A rejected reply leaves the state as it
   * was. A failed exchange raises kind 1, "Can't START POMP", the state
   * unchanged. The post need not have been opened, but only an opened post's
   * worker releases a dose.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param reserved ignored
   * @param reserved2 ignored
   * @since 2.41
   */
  void(VU30_CALL* StartPump)(Vu30Driver* self, int32_t post, int32_t reserved, int32_t reserved2);
  /**
   * @brief Slot 16: opens a post: its worker, the dispatcher registrations,
   * the channel set-up.
   *
   * Registers the post initialisation (SetPostInit), makes the post's worker
   * thread once (it answers the dispenser's own messages), registers the
   * message hook (SetMessageHook) and configures the channel by the port's
   * dispenser type (ConfigureChannel; not for an unknown type). On a port of
   * type 0 ("ЕС-2000") it then asks the dispenser for its state; the outcome
   * of that request, error or not, is dropped. The post counts as opened
   * from the worker's creation on. Opening an opened post again keeps its
   * worker and repeats the rest. An error of the host's registrations or
   * channel set-up reaches the caller; no thread for the worker raises kind 4
   * (#VU30_ERROR_FAILURE).
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @since 2.41
   */
  void(VU30_CALL* OpenPost)(Vu30Driver* self, int32_t post);
  /**
   * @brief Slot 17: no operation.
   * @param self the driver object
   * @param r1 ignored
   * @param r2 ignored
   * @param r3 ignored
   * @since 2.41
   */
  void(VU30_CALL* Nop17)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3);
  /**
   * @brief Slot 18: no operation.
   * @param self the driver object
   * @param r1 ignored
   * @param r2 ignored
   * @param r3 ignored
   * @param r4 ignored
   * @since 2.41
   */
  void(VU30_CALL* Nop18)(Vu30Driver* self, int32_t r1, int32_t r2, int32_t r3, int32_t r4);
  /**
   * @brief Slot 19: StartPump (slot 15) with (post, a, b).
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param a passed on as slot 15's reserved argument
   * @param b passed on as slot 15's reserved2 argument
   * @param reserved ignored
   * @since 2.41
   */
  void(VU30_CALL* StartPumpAlias)(Vu30Driver* self, int32_t post, int32_t a, int32_t b,
                                  int32_t reserved);
  /**
   * @brief Slot 20: a fixed capability of the driver.
   *
   * Numbers 1, 2, 3, 5, 6 and 9 are known, with the values 1, 0, 1, 1, 0
   * and 99999; their meaning is the host's.
   * @param self the driver object
   * @param number any value; unknown numbers (negative ones too) give false
   * @param value receives the value of a known number, untouched otherwise;
   * null is refused (kind 2) for a known number
   * @return true when the number is known
   * @since 2.41
   */
  bool(VU30_CALL* GetCapability)(Vu30Driver* self, int32_t number, int32_t* value);
  /**
   * @brief Slot 21: writes the post's state code into bytes 0, 1, 14 and 15
   * of the host's status record.
   *
   * Calls GetPumpState (slot 10) with (post, passedOn), then writes byte 0
   * the code, byte 1 zero, byte 14 the code's low three bits (the nozzle of
   * the codes that name one), byte 15 zero; the other bytes stay as they
   * were. When slot 10 raises (kind 1, "Can't GetSost") or a post is
   * refused, the record is untouched.
   * @param record the host's record of at least #VU30_STATUS_RECORD_MIN_SIZE
   * bytes; null is refused (kind 2)
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param passedOn passed on as slot 10's reserved argument
   * @param reserved ignored
   * @return record
   * @since 2.41
   */
  uint8_t*(VU30_CALL* GetStatusRecord)(uint8_t* record, Vu30Driver* self, uint8_t post,
                                       uint8_t passedOn, int32_t reserved);
  /**
   * @brief Slot 22: StopPump (slot 4) with (post, a, the low byte of
   * exchange).
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param a passed on as slot 4's reserved argument
   * @param reserved ignored
   * @param exchange its low byte: 0 no frame, any other value the stop
   * command
   * @return 0
   * @since 2.41
   */
  uint8_t(VU30_CALL* StopPumpEx)(Vu30Driver* self, int32_t post, int32_t a, int32_t reserved,
                                 int32_t exchange);
  /**
   * @brief Slot 23: StopPump (slot 4) with (post, a, 1): the stop command is
   * sent.
   * @param self the driver object
   * @param post 1..30; any other is refused (kind 2)
   * @param a passed on as slot 4's reserved argument
   * @param reserved ignored
   * @param reserved2 ignored
   * @return 0
   * @since 2.41
   */
  uint8_t(VU30_CALL* StopPumpAlt)(Vu30Driver* self, int32_t post, int32_t a, int32_t reserved,
                                  int32_t reserved2);
  /**
   * @brief Slot 24: adds the driver's entry "Программирование параметров
   * Trovelheim" under the host's "&ТРК" menu item, once per load.
   *
   * Looks through parentItem's children for the one captioned "&ТРК" (code
   * page 1251) and makes the entry under it with createItem (index -1);
   * choosing the entry shows the port type dialog. Without such a child
   * nothing is added. After the first call that completes, later calls do
   * nothing. A host exception raised in its menu functions goes on to the
   * host (docs/errors.md). Call it on the host's user-interface thread.
   * @param self the driver object
   * @param parentItem the host's menu item whose children are searched; one
   * without a table or the entries the driver calls is refused (kind 2), as
   * is a child or a created item that lacks them
   * @param createItem the host's item-creation function; null is refused
   * (kind 2)
   * @since 2.41
   */
  void(VU30_CALL* AddMenuEntry)(Vu30Driver* self, Vu30MenuItem* parentItem,
                                Vu30CreateItemFn createItem);
  /**
   * @brief Entry 25: the destructor of C and C++ hosts: stops every worker
   * and releases the object (an Object Pascal host calls entry -1 instead,
   * Vu30RuntimeEntries).
   *
   * Every worker is told to end, woken and waited for; the dispatcher's
   * later calls of the driver's callbacks find them shut. The object is
   * invalid afterwards. Waiting for the calls of other threads:
   * docs/threads.md, @ref threads-7-releasing-the-driver-while-calls-run
   * "section 7".
   * @param self the driver object; null does nothing. Called from inside
   * one of the driver's own exchanges (in Transact, or a dispatcher function
   * that the reply check, a worker or the post initialisation calls) it is
   * refused (kind 2, "vu30: the driver cannot be destroyed from inside its
   * own exchange") and changes nothing.
   * @since 2.41
   */
  void(VU30_CALL* Destroy)(Vu30Driver* self);
} Vu30DriverTable;

/**
 * @brief The driver object as the library hands it out: its table first.
 * @since 2.41
 */
struct Vu30Driver {
  const Vu30DriverTable* table; /**< the driver's table, the library's own */
};

/**
 * @brief The runtime's entries: the eight pointer-sized entries right before
 * slot 0.
 *
 * An Object Pascal runtime for Windows keeps them before slot 0 of every
 * class's table, in its order from -8 to -1. A Pascal host declares the
 * driver as a class with virtual stdcall methods; its Free and Destroy call
 * entry -1, which releases the driver as entry 25 does. The other seven do
 * nothing and return 0 (SafeCallException returns E_UNEXPECTED,
 * 0x8000FFFF). Entry -1 ignores the outer-call flag: it always releases the
 * object.
 *
 * Their convention is the runtime's, not #VU30_CALL:
 *   - i686 Windows: the register convention: the object in EAX, the second
 *     argument (the outer-call flag of Destroy) in EDX, a third in ECX, no
 *     stack arguments; EBX, ESI, EDI and EBP are kept. GCC and Clang call it
 *     through regparm(3) (#VU30_RUNTIME_CALL); a compiler that cannot name
 *     it sees the entries as plain pointers.
 *   - x86_64 Windows: the Microsoft x64 convention (object in RCX, flag in DL).
 *   - elsewhere: the C convention, (object, int8_t outer).
 *
 * A C or C++ host releases the driver through entry 25 instead.
 * @since 2.41
 */
#if defined(_WIN32) && !defined(_WIN64) && (defined(_M_IX86) || defined(__i386__))
#if defined(__GNUC__)
#define VU30_RUNTIME_CALL __attribute__((regparm(3)))
#endif
#else
/**
 * @brief The runtime's convention of the entries before slot 0: regparm(3)
 * on i686 Windows with GCC and Clang (left undefined by other compilers
 * there), nothing elsewhere.
 */
#define VU30_RUNTIME_CALL
#endif

/** @brief E_UNEXPECTED, the result of SafeCallException (entry -8). */
#define VU30_SAFECALL_RESULT ((int32_t)0x8000FFFFu)

#if defined(VU30_RUNTIME_CALL)
/** @brief Entry -8: returns #VU30_SAFECALL_RESULT and does nothing else. */
typedef int32_t(VU30_RUNTIME_CALL* Vu30SafeCallExceptionFn)(Vu30Driver* self, void* exceptObject,
                                                            void* exceptAddress);
/** @brief Entries -7 .. -2: do nothing and return 0. */
typedef intptr_t(VU30_RUNTIME_CALL* Vu30RuntimeFn)(Vu30Driver* self, void* argument);
/**
 * @brief Entry -1: releases the driver as entry 25 does, whatever outer
 * says; an error is raised as entry 25's would be.
 */
typedef void(VU30_RUNTIME_CALL* Vu30RuntimeDestroyFn)(Vu30Driver* self, int8_t outer);
#else
typedef void* Vu30SafeCallExceptionFn;
typedef void* Vu30RuntimeFn;
typedef void* Vu30RuntimeDestroyFn;
#endif

/**
 * @brief The runtime's eight entries, -8 .. -1, as they lie before slot 0.
 * @since 2.41
 */
typedef struct Vu30RuntimeEntries {
  Vu30SafeCallExceptionFn SafeCallException; /**< -8: returns #VU30_SAFECALL_RESULT */
  Vu30RuntimeFn AfterConstruction;           /**< -7: nothing; returns 0 */
  Vu30RuntimeFn BeforeDestruction;           /**< -6: nothing; returns 0 */
  Vu30RuntimeFn Dispatch;                    /**< -5: nothing; returns 0 */
  Vu30RuntimeFn DefaultHandler;              /**< -4: nothing; returns 0 */
  Vu30RuntimeFn NewInstance;                 /**< -3: nothing; returns 0 */
  Vu30RuntimeFn FreeInstance;                /**< -2: nothing; returns 0 */
  Vu30RuntimeDestroyFn Destroy;              /**< -1: releases the driver */
} Vu30RuntimeEntries;

/**
 * @brief How the table lies in the library: the runtime's entries, then slot
 * 0. A driver object's table pointer points at the table member.
 * @since 2.41
 */
typedef struct Vu30DriverTableBlock {
  Vu30RuntimeEntries runtime; /**< entries -8 .. -1 */
  Vu30DriverTable table;      /**< slots 0 .. 24 and entry 25 */
} Vu30DriverTableBlock;

/**
 * @brief The runtime's entries (a const Vu30RuntimeEntries*) of a driver
 * object's table; driver is a Vu30Driver* made by GetVU30().
 * @since 2.41
 */
#define VU30_RUNTIME_ENTRIES(driver)                                       \
  ((const Vu30RuntimeEntries*)(const void*)((const char*)(driver)->table - \
                                            sizeof(Vu30RuntimeEntries)))

/** @} */

/**
 * @defgroup vu30_entry The entry
 * @brief GetVU30(), the library's one export.
 * @{
 */

/**
 * @brief The library's one export: a new driver object.
 *
 * Adopts hostWindow as the owner of the library's dialog and loads the port
 * type table (cnf.INI; a missing file gives the defaults). Every post starts
 * with link status 1 and state 0xC0, not opened. The host calls it once per
 * load; a second call makes a second, independent driver object. May be
 * called from any thread. Errors: kind 2 (#VU30_ERROR_REFUSED) as below,
 * kind 4 (#VU30_ERROR_FAILURE) when the library cannot make the object (out
 * of memory); nothing is made then.
 * @param ignored any value
 * @param hostWindow the host's main window, owner of the library's dialog:
 * a window handle on Windows; with the Qt view a QWidget* of the same
 * application (another pointer is not trusted: the dialog then has no
 * owner); null for none
 * @param dispatcher the host's port dispatcher, kept and never owned: it
 * must outlive the driver object; null, or a table lacking one of the
 * entries 1..4 and 17..21, is refused (kind 2)
 * @return the new driver object, released by entry 25 (or entry -1)
 * @since 2.41
 */
VU30_EXPORT Vu30Driver* VU30_CALL GetVU30(uint8_t ignored, void* hostWindow,
                                          Vu30Dispatcher* dispatcher);

/**
 * @brief GetVU30()'s type, for hosts that load the library themselves.
 * @since 2.41
 */
typedef Vu30Driver*(VU30_CALL* Vu30GetVU30Fn)(uint8_t ignored, void* hostWindow,
                                              Vu30Dispatcher* dispatcher);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

/**
 * @defgroup vu30_errors Errors
 * @brief The kinds of error, the structured exception that carries them on
 * Windows and the C++ exceptions that carry them elsewhere.
 *
 * Every function of the driver table and GetVU30() report an error with one
 * of four kinds. On Windows they raise the library's structured exception
 * (#VU30_ERROR_CODE); elsewhere, and in Windows builds made with
 * VU30_WIN32_CXX_EXCEPTIONS, they throw the C++ exceptions below; the calls
 * of vu30_calls.h return the kind as a value. What the library does with a
 * host's own exceptions, faults inside it, its floating-point rules, and how
 * a host catches the structured exception: docs/errors.md,
 * @ref errors-faults-and-host-exceptions "Faults and host exceptions".
 * @{
 */

/**
 * @brief The code of the library's structured exception on Windows.
 *
 * Raised as RaiseException(VU30_ERROR_CODE, EXCEPTION_NONCONTINUABLE, 3,
 * parameters): ExceptionInformation[0] the kind (#VU30_ERROR_SERIAL_IO ..
 * #VU30_ERROR_FAILURE), [1] a pointer to the message (code page 1251,
 * NUL-terminated, valid until the next error raised on the same thread),
 * [2] the message's length in bytes. Bit 29 set: a code of the
 * application's own; "V30" in the low bytes.
 * @since 2.41
 */
#define VU30_ERROR_CODE 0xE0563330u
/** @brief Kind 1: a dispenser exchange failed (ESerialIO elsewhere). @since 2.41 */
#define VU30_ERROR_SERIAL_IO 1u
/**
 * @brief Kind 2: an argument the driver refused before it sent anything or
 * changed any state (EVu30Refused elsewhere). @since 2.41
 */
#define VU30_ERROR_REFUSED 2u
/** @brief Kind 3: slot 0, which no driver implements (EAbstractError elsewhere). @since 2.41 */
#define VU30_ERROR_ABSTRACT 3u
/** @brief Kind 4: any other failure inside the library: out of memory, no thread. @since 2.41 */
#define VU30_ERROR_FAILURE 4u

/** @} */

/* ------------------------------------------------------------------------- */
/* Layout checks: the tables are arrays of pointer-sized entries.            */
/* ------------------------------------------------------------------------- */

/** @brief A static assertion in C (C11) and C++: the layout checks below. */
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

/**
 * @ingroup vu30_errors
 * @brief Kind 1: a failed dispenser exchange (the host's Transact gave a
 * non-zero result, or raised).
 *
 * what() is the operation's fixed message in code page 1251, for example
 * "Can't START POMP". Hosts may catch it by this name or as std::exception.
 * @since 2.41
 */
class ESerialIO : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/**
 * @ingroup vu30_errors
 * @brief Kind 3: slot 0, which no driver implements. what() is "Abstract
 * error".
 * @since 2.41
 */
class EAbstractError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/**
 * @ingroup vu30_errors
 * @brief Kind 2: an argument the driver refuses before it touches any state
 * or sends any frame.
 *
 * A post outside 1..30, a nozzle outside 1..8, an amount that does not fit
 * its digits or is not a finite number, a money preset at a nozzle without a
 * price, a preset or dispense reading (slots 6, 9, 13, 14) on a post that
 * has not been opened, a running poll on an impulse-counting port whose
 * impulses factor is 0, a null pointer for a result, an object that is no
 * driver of this library, destroying the driver from inside its own
 * exchange. Each slot's reference names what it refuses; what() says why.
 * @since 2.41
 */
class EVu30Refused : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};
#endif

#endif /* VU30_H */
