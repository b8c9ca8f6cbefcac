/* SPDX-License-Identifier: MIT */
/**
 * @file vu30_calls.h
 * @brief The driver's operations with their errors as values (libvu30-calls).
 */
/**
 * @defgroup vu30_calls The calls with errors as values
 * @brief The driver's operations with their errors as values, for hosts in
 * C, Object Pascal and every other language that cannot catch a C++
 * exception.
 *
 * On Linux the driver library reports an error as a C++ exception (vu30.h):
 * a refused argument or a failed exchange would end a host that is not
 * written in C++. This small companion library (libvu30-calls.so, linked
 * with -lvu30-calls beside -lvu30) makes each call of the driver table inside
 * a C++ handler and hands the error back as a value instead:
 *
 *   - each function is named for the table entry it calls and takes the
 *     entry's own arguments, in the same order, the driver object first; what
 *     they mean, what the entry refuses and what it leaves behind on an error
 *     is the entry's reference (Vu30DriverTable), to which each function
 *     points;
 *   - an entry's result comes back through the pointer after its arguments
 *     (omitted where the entry returns nothing; a null pointer there: the
 *     result is not wanted);
 *   - the last two arguments are the caller's buffer for the error's
 *     message and its size in bytes (null and 0 when the caller wants no
 *     text): on an error the message is copied there, code page 1251, cut
 *     to fit and always NUL-terminated; on success the buffer is left as it
 *     was;
 *   - the return value is 0 when the call succeeded, otherwise the error's
 *     kind: #VU30_ERROR_SERIAL_IO (a failed exchange, ESerialIO),
 *     #VU30_ERROR_REFUSED (an argument refused before anything was touched,
 *     EVu30Refused; also a null driver, "vu30: no driver"),
 *     #VU30_ERROR_ABSTRACT (slot 0, EAbstractError) or #VU30_ERROR_FAILURE
 *     (any other failure). Kinds and messages are those of the library's
 *     structured exception on Windows.
 *
 * A rejected reply is no error. When the dispatcher made the exchange but
 * the driver rejected the reply (a wrong length, a damaged byte), the call
 * returns 0 with zero figures; only the post's link status,
 * #VU30_LINK_FAILED (3) from vu30_call_GetLinkStatus(), tells. A host that
 * shows figures reads the link status after a reading that gave zeros.
 *
 * Final figures are given once: after a good vu30_call_ReadFinalDispense()
 * a second one gives zeros with kind 0, until the post's next sale (its
 * dispenser asks for a price or a dose again).
 *
 * The driver object and the driver table are the library's own (GetVU30());
 * only how errors arrive changes. The no-operation slots (8, 12, 17, 18)
 * have no function here: they never fail. Each function may be called from
 * any thread, as its entry may; a thread's cancellation passes through.
 *
 * @code
 * char text[VU30_CALLS_MESSAGE_CAPACITY];
 * uint32_t kind = vu30_call_StartPump(driver, 3, 0, 0, text, sizeof text);
 * if (kind == VU30_ERROR_SERIAL_IO) printf("no answer: %s\n", text);
 * @endcode
 *
 * The host's callbacks. The driver calls the host's dispatcher (Transact,
 * ...) inside its own frames, some of them holding the channel pair's lock.
 * A host function the driver calls must return to it: a failed exchange is
 * a non-zero result of Transact, never a longjmp (or a Pascal raise, which
 * is one on Linux) out of the function, which would leave the lock held and
 * the next operation on that post waiting for ever.
 *
 * Built on Linux and every other system but Windows; on Windows the driver
 * raises its structured exception, which every Windows host catches with
 * its own language's means (vu30.h), and this library is not built.
 * @{
 */
#ifndef VU30_CALLS_H
#define VU30_CALLS_H

#include "vu30.h"

/**
 * @def VU30_CALLS_EXPORT
 * @brief Exports the calls while libvu30-calls itself is built; nothing for a
 * host.
 */
#if defined(VU30_BUILDING_CALLS)
#define VU30_CALLS_EXPORT __attribute__((visibility("default")))
#else
#define VU30_CALLS_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** @brief A message buffer of this size holds every message the library gives. @since 2.41 */
#define VU30_CALLS_MESSAGE_CAPACITY 512
/**
 * @brief A buffer of this size holds every such message in UTF-8 (a
 * character of code page 1251 takes at most 3 bytes there).
 * @since 2.41
 */
#define VU30_CALLS_MESSAGE_UTF8_CAPACITY (3 * (VU30_CALLS_MESSAGE_CAPACITY - 1) + 1)

/**
 * @brief GetVU30(): a new driver object.
 * @see GetVU30(), the entry this function calls.
 * @param ignored as GetVU30()
 * @param hostWindow as GetVU30()
 * @param dispatcher as GetVU30()
 * @param driver receives the new driver object, or null when the call
 * failed; null is refused (#VU30_ERROR_REFUSED) and no driver is made
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetVU30(uint8_t ignored, void* hostWindow,
                                             Vu30Dispatcher* dispatcher, Vu30Driver** driver,
                                             char* message, size_t messageSize);

/**
 * @brief Slot 0: always #VU30_ERROR_ABSTRACT.
 * @see Vu30DriverTable::Abstract, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_Abstract(Vu30Driver* driver, char* message,
                                              size_t messageSize);

/**
 * @brief Slot 1: the 32-byte identity block into info.
 * @see Vu30DriverTable::GetDriverInfo, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param info the entry's result storage (#VU30_DRIVER_INFO_SIZE bytes)
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetDriverInfo(Vu30Driver* driver, uint8_t* info, char* message,
                                                   size_t messageSize);

/**
 * @brief Slot 2: sets the post's link status.
 * @see Vu30DriverTable::SetLinkStatus, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 2
 * @param value as in slot 2
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_SetLinkStatus(Vu30Driver* driver, uint8_t post, uint8_t value,
                                                   char* message, size_t messageSize);

/**
 * @brief Slot 3: the post's link status.
 * @see Vu30DriverTable::GetLinkStatus, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 3
 * @param status receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetLinkStatus(Vu30Driver* driver, uint8_t post,
                                                   uint8_t* status, char* message,
                                                   size_t messageSize);

/**
 * @brief Slot 4: stops the pump.
 * @see Vu30DriverTable::StopPump, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 4
 * @param reserved as in slot 4
 * @param exchange as in slot 4
 * @param result receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPump(Vu30Driver* driver, int32_t post, int32_t reserved,
                                              int32_t exchange, uint8_t* result, char* message,
                                              size_t messageSize);

/**
 * @brief Slot 5: stops the pump, the stop command sent.
 * @see Vu30DriverTable::StopPumpNow, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 5
 * @param result receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpNow(Vu30Driver* driver, int32_t post, int32_t* result,
                                                 char* message, size_t messageSize);

/**
 * @brief Slot 6: the final figures of the post's sale, once: a second call gives zeros with kind 0;
 * a rejected reply gives zeros with kind 0 and link status 3.
 * @see Vu30DriverTable::ReadFinalDispense, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 6
 * @param reserved as in slot 6
 * @param volume as in slot 6
 * @param money as in slot 6
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_ReadFinalDispense(Vu30Driver* driver, int32_t post,
                                                       int32_t reserved, double* volume,
                                                       double* money, char* message,
                                                       size_t messageSize);

/**
 * @brief Slot 7: the nozzle's totalizer counter; a rejected reply gives 0 with kind 0 and link
 * status 3.
 * @see Vu30DriverTable::ReadCounter, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 7
 * @param reserved as in slot 7
 * @param nozzle as in slot 7
 * @param counter as in slot 7
 * @param second as in slot 7
 * @param reserved2 as in slot 7
 * @param reserved3 as in slot 7
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_ReadCounter(Vu30Driver* driver, int32_t post, int32_t reserved,
                                                 int32_t nozzle, double* counter, double* second,
                                                 int32_t reserved2, int32_t reserved3,
                                                 char* message, size_t messageSize);

/**
 * @brief Slot 9: the running or final figures; a rejected reply gives zeros with kind 0 and link
 * status 3.
 * @see Vu30DriverTable::PollDispense, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 9
 * @param mode as in slot 9
 * @param money as in slot 9
 * @param volume receives the entry's result, the volume in litres
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_PollDispense(Vu30Driver* driver, int32_t post, int32_t mode,
                                                  double* money, double* volume, char* message,
                                                  size_t messageSize);

/**
 * @brief Slot 10: the post's state code.
 * @see Vu30DriverTable::GetPumpState, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 10
 * @param reserved as in slot 10
 * @param state receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetPumpState(Vu30Driver* driver, uint8_t post,
                                                  int32_t reserved, uint32_t* state, char* message,
                                                  size_t messageSize);

/**
 * @brief Slot 11: the unit price of a nozzle.
 * @see Vu30DriverTable::SetPrice, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 11
 * @param reserved as in slot 11
 * @param nozzle as in slot 11
 * @param reserved2 as in slot 11
 * @param reserved3 as in slot 11
 * @param price as in slot 11
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_SetPrice(Vu30Driver* driver, int32_t post, int32_t reserved,
                                              int32_t nozzle, int32_t reserved2, int32_t reserved3,
                                              double price, char* message, size_t messageSize);

/**
 * @brief Slot 13: presets the dose of a nozzle in litres.
 * @see Vu30DriverTable::PresetVolume, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 13
 * @param reserved as in slot 13
 * @param nozzle as in slot 13
 * @param reserved2 as in slot 13
 * @param volume as in slot 13
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_PresetVolume(Vu30Driver* driver, int32_t post,
                                                  int32_t reserved, int32_t nozzle,
                                                  int32_t reserved2, double volume, char* message,
                                                  size_t messageSize);

/**
 * @brief Slot 14: presets the dose of a nozzle in money.
 * @see Vu30DriverTable::PresetMoney, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 14
 * @param reserved as in slot 14
 * @param nozzle as in slot 14
 * @param reserved2 as in slot 14
 * @param money as in slot 14
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_PresetMoney(Vu30Driver* driver, int32_t post, int32_t reserved,
                                                 int32_t nozzle, int32_t reserved2, double money,
                                                 char* message, size_t messageSize);

/**
 * @brief Slot 15: starts the pump.
 * @see Vu30DriverTable::StartPump, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 15
 * @param reserved as in slot 15
 * @param reserved2 as in slot 15
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StartPump(Vu30Driver* driver, int32_t post, int32_t reserved,
                                               int32_t reserved2, char* message,
                                               size_t messageSize);

/**
 * @brief Slot 16: opens a post.
 * @see Vu30DriverTable::OpenPost, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 16
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_OpenPost(Vu30Driver* driver, int32_t post, char* message,
                                              size_t messageSize);

/**
 * @brief Slot 19: starts the pump, as slot 15.
 * @see Vu30DriverTable::StartPumpAlias, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 19
 * @param a as in slot 19
 * @param b as in slot 19
 * @param reserved as in slot 19
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StartPumpAlias(Vu30Driver* driver, int32_t post, int32_t a,
                                                    int32_t b, int32_t reserved, char* message,
                                                    size_t messageSize);

/**
 * @brief Slot 20: a fixed capability of the driver.
 * @see Vu30DriverTable::GetCapability, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param number as in slot 20
 * @param value as in slot 20
 * @param known receives the entry's result: true when the number is known
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetCapability(Vu30Driver* driver, int32_t number,
                                                   int32_t* value, bool* known, char* message,
                                                   size_t messageSize);

/**
 * @brief Slot 21: writes bytes 0, 1, 14 and 15 of the host's status record.
 * @see Vu30DriverTable::GetStatusRecord, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param record the entry's result storage, the host's record
 * @param post as in slot 21
 * @param passedOn as in slot 21
 * @param reserved as in slot 21
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetStatusRecord(Vu30Driver* driver, uint8_t* record,
                                                     uint8_t post, uint8_t passedOn,
                                                     int32_t reserved, char* message,
                                                     size_t messageSize);

/**
 * @brief Slot 22: stops the pump, as slot 4.
 * @see Vu30DriverTable::StopPumpEx, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 22
 * @param a as in slot 22
 * @param reserved as in slot 22
 * @param exchange as in slot 22
 * @param result receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpEx(Vu30Driver* driver, int32_t post, int32_t a,
                                                int32_t reserved, int32_t exchange, uint8_t* result,
                                                char* message, size_t messageSize);

/**
 * @brief Slot 23: stops the pump, the stop command sent.
 * @see Vu30DriverTable::StopPumpAlt, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param post as in slot 23
 * @param a as in slot 23
 * @param reserved as in slot 23
 * @param reserved2 as in slot 23
 * @param result receives the entry's result
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpAlt(Vu30Driver* driver, int32_t post, int32_t a,
                                                 int32_t reserved, int32_t reserved2,
                                                 uint8_t* result, char* message,
                                                 size_t messageSize);

/**
 * @brief Slot 24: adds the driver's menu entry, once per load.
 * @see Vu30DriverTable::AddMenuEntry, the entry this function calls.
 * @param driver the driver object; null is refused (#VU30_ERROR_REFUSED)
 * @param parentItem as in slot 24
 * @param createItem as in slot 24
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_AddMenuEntry(Vu30Driver* driver, Vu30MenuItem* parentItem,
                                                  Vu30CreateItemFn createItem, char* message,
                                                  size_t messageSize);

/**
 * @brief Entry 25: stops every worker and releases the driver (a null driver: nothing, 0).
 * @see Vu30DriverTable::Destroy, the entry this function calls.
 * @param driver the driver object; null: nothing is done and 0 returned
 * @param message the caller's buffer for the error's message, or null
 * @param messageSize its size in bytes (0 with a null message)
 * @return 0, or the error's kind (#VU30_ERROR_SERIAL_IO .. #VU30_ERROR_FAILURE)
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_Destroy(Vu30Driver* driver, char* message, size_t messageSize);

/**
 * @brief A message of the library in UTF-8, for hosts that print or log
 *        UTF-8 (a Linux terminal), with no conversion of their own.
 *
 * The calls give their messages in code page 1251, as every host on Windows
 * expects them; this converts one such message into the caller's buffer:
 *
 * @code
 *   char text[VU30_CALLS_MESSAGE_CAPACITY];
 *   char utf8[VU30_CALLS_MESSAGE_UTF8_CAPACITY];
 *   if (vu30_call_PollDispense(driver, 2, 0, &money, &volume, text, sizeof text) != 0 &&
 *       vu30_call_message_utf8(text, utf8, sizeof utf8) == 0)
 *     printf("%s\n", utf8);   (prints "Ошибка при опросе данных отлива")
 * @endcode
 *
 * Every byte of the code page has its character; 0x98, which has none,
 * becomes U+FFFD.
 *
 * @param message   the message: NUL-terminated text in code page 1251, as a
 *                  call wrote it into its message buffer.
 * @param utf8      the caller's buffer for the UTF-8 text; it may not
 *                  overlap the message.
 * @param utf8Size  its size in bytes, 1 or more; a text that does not fit is
 *                  cut before the first character that would not, and the
 *                  buffer always ends with NUL.
 *                  VU30_CALLS_MESSAGE_UTF8_CAPACITY holds every message whole.
 * @return 0; or VU30_ERROR_REFUSED, the buffer left as it was, when message
 *         or utf8 is NULL, utf8Size is 0, or the two overlap.
 *
 * Any thread, at any time: it reads and writes nothing but the two buffers
 * and needs no driver.
 * @since 2.41
 */
VU30_CALLS_EXPORT uint32_t vu30_call_message_utf8(const char* message, char* utf8, size_t utf8Size);

/** @} */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VU30_CALLS_H */
