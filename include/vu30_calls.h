/* SPDX-License-Identifier: MIT */
/*
 * vu30 calls — the driver's operations with their errors as values, for
 * hosts in C, Object Pascal and every other language that cannot catch a C++
 * exception.
 *
 * On Linux the driver library reports an error as a C++ exception (vu30.h):
 * a refused argument or a failed exchange would end a host that is not
 * written in C++. This small companion library (libvu30-calls.so, linked
 * with -lvu30-calls beside -lvu30) makes each call of the driver table inside
 * a C++ handler and hands the error back as a value instead:
 *
 *   - each function is named for the table entry it calls and takes the
 *     entry's own arguments, in the same order, the driver object first;
 *   - an entry's result comes back through the pointer after its arguments
 *     (omitted where the entry returns nothing);
 *   - the last two arguments are the caller's buffer for the error's
 *     message and its size in bytes (null and 0 when the caller wants no
 *     text): on an error the message is copied there, code page 1251, cut
 *     to fit and always NUL-terminated; on success the buffer is left as it
 *     was;
 *   - the return value is 0 when the call succeeded, otherwise the error's
 *     kind: VU30_ERROR_SERIAL_IO (a failed exchange, ESerialIO),
 *     VU30_ERROR_REFUSED (an argument refused before anything was touched,
 *     EVu30Refused), VU30_ERROR_ABSTRACT (slot 0, EAbstractError) or
 *     VU30_ERROR_FAILURE (any other failure). Kinds and messages are those
 *     of the library's structured exception on Windows.
 *
 * The driver object and the driver table are the library's own (GetVU30);
 * only how errors arrive changes. The no-operation slots (8, 12, 17, 18)
 * have no function here: they never fail.
 *
 *   char text[VU30_CALLS_MESSAGE_CAPACITY];
 *   uint32_t kind = vu30_call_StartPump(driver, 3, 0, 0, text, sizeof text);
 *   if (kind == VU30_ERROR_SERIAL_IO) printf("no answer: %s\n", text);
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
 */
#ifndef VU30_CALLS_H
#define VU30_CALLS_H

#include "vu30.h"

#if defined(VU30_BUILDING_CALLS)
#define VU30_CALLS_EXPORT __attribute__((visibility("default")))
#else
#define VU30_CALLS_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A buffer of this size holds every message the library gives. */
#define VU30_CALLS_MESSAGE_CAPACITY 512
/* A buffer of this size holds every such message in UTF-8 (a character of
 * code page 1251 takes at most 3 bytes there). */
#define VU30_CALLS_MESSAGE_UTF8_CAPACITY (3 * (VU30_CALLS_MESSAGE_CAPACITY - 1) + 1)

/* GetVU30: *driver is the new driver, or null when the call failed. A null
 * driver is refused (VU30_ERROR_REFUSED) and no driver is made. */
VU30_CALLS_EXPORT uint32_t vu30_call_GetVU30(uint8_t ignored, void* hostWindow,
                                             Vu30Dispatcher* dispatcher, Vu30Driver** driver,
                                             char* message, size_t messageSize);

/* 0: always VU30_ERROR_ABSTRACT. */
VU30_CALLS_EXPORT uint32_t vu30_call_Abstract(Vu30Driver* driver, char* message,
                                              size_t messageSize);
/* 1: the 32-byte identity block into info. */
VU30_CALLS_EXPORT uint32_t vu30_call_GetDriverInfo(Vu30Driver* driver, uint8_t* info, char* message,
                                                   size_t messageSize);
/* 2, 3 */
VU30_CALLS_EXPORT uint32_t vu30_call_SetLinkStatus(Vu30Driver* driver, uint8_t post, uint8_t value,
                                                   char* message, size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_GetLinkStatus(Vu30Driver* driver, uint8_t post,
                                                   uint8_t* status, char* message,
                                                   size_t messageSize);
/* 4, 5 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPump(Vu30Driver* driver, int32_t post, int32_t reserved,
                                              int32_t exchange, uint8_t* result, char* message,
                                              size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpNow(Vu30Driver* driver, int32_t post, int32_t* result,
                                                 char* message, size_t messageSize);
/* 6, 7 */
VU30_CALLS_EXPORT uint32_t vu30_call_ReadFinalDispense(Vu30Driver* driver, int32_t post,
                                                       int32_t reserved, double* volume,
                                                       double* money, char* message,
                                                       size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_ReadCounter(Vu30Driver* driver, int32_t post, int32_t reserved,
                                                 int32_t nozzle, double* counter, double* second,
                                                 int32_t reserved2, int32_t reserved3,
                                                 char* message, size_t messageSize);
/* 9: *volume is the entry's result. */
VU30_CALLS_EXPORT uint32_t vu30_call_PollDispense(Vu30Driver* driver, int32_t post, int32_t mode,
                                                  double* money, double* volume, char* message,
                                                  size_t messageSize);
/* 10, 11 */
VU30_CALLS_EXPORT uint32_t vu30_call_GetPumpState(Vu30Driver* driver, uint8_t post,
                                                  int32_t reserved, uint32_t* state, char* message,
                                                  size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_SetPrice(Vu30Driver* driver, int32_t post, int32_t reserved,
                                              int32_t nozzle, int32_t reserved2, int32_t reserved3,
                                              double price, char* message, size_t messageSize);
/* 13, 14, 15, 16 */
VU30_CALLS_EXPORT uint32_t vu30_call_PresetVolume(Vu30Driver* driver, int32_t post,
                                                  int32_t reserved, int32_t nozzle,
                                                  int32_t reserved2, double volume, char* message,
                                                  size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_PresetMoney(Vu30Driver* driver, int32_t post, int32_t reserved,
                                                 int32_t nozzle, int32_t reserved2, double money,
                                                 char* message, size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_StartPump(Vu30Driver* driver, int32_t post, int32_t reserved,
                                               int32_t reserved2, char* message,
                                               size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_OpenPost(Vu30Driver* driver, int32_t post, char* message,
                                              size_t messageSize);
/* 19, 20: *known is the entry's result. */
VU30_CALLS_EXPORT uint32_t vu30_call_StartPumpAlias(Vu30Driver* driver, int32_t post, int32_t a,
                                                    int32_t b, int32_t reserved, char* message,
                                                    size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_GetCapability(Vu30Driver* driver, int32_t number,
                                                   int32_t* value, bool* known, char* message,
                                                   size_t messageSize);
/* 21: writes bytes 0, 1, 14 and 15 of record. */
VU30_CALLS_EXPORT uint32_t vu30_call_GetStatusRecord(Vu30Driver* driver, uint8_t* record,
                                                     uint8_t post, uint8_t passedOn,
                                                     int32_t reserved, char* message,
                                                     size_t messageSize);
/* 22, 23 */
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpEx(Vu30Driver* driver, int32_t post, int32_t a,
                                                int32_t reserved, int32_t exchange, uint8_t* result,
                                                char* message, size_t messageSize);
VU30_CALLS_EXPORT uint32_t vu30_call_StopPumpAlt(Vu30Driver* driver, int32_t post, int32_t a,
                                                 int32_t reserved, int32_t reserved2,
                                                 uint8_t* result, char* message,
                                                 size_t messageSize);
/* 24 */
VU30_CALLS_EXPORT uint32_t vu30_call_AddMenuEntry(Vu30Driver* driver, Vu30MenuItem* parentItem,
                                                  Vu30CreateItemFn createItem, char* message,
                                                  size_t messageSize);
/* 25: stops every worker and releases the driver (a null driver: nothing). */
VU30_CALLS_EXPORT uint32_t vu30_call_Destroy(Vu30Driver* driver, char* message, size_t messageSize);

/**
 * @brief A message of the library in UTF-8, for hosts that print or log
 *        UTF-8 (a Linux terminal), with no conversion of their own.
 *
 * The calls give their messages in code page 1251, as every host on Windows
 * expects them; this converts one such message into the caller's buffer:
 *
 *   char text[VU30_CALLS_MESSAGE_CAPACITY];
 *   char utf8[VU30_CALLS_MESSAGE_UTF8_CAPACITY];
 *   if (vu30_call_PollDispense(driver, 2, 0, &money, &volume, text, sizeof text) != 0 &&
 *       vu30_call_message_utf8(text, utf8, sizeof utf8) == 0)
 *     printf("%s\n", utf8);   (prints "Ошибка при опросе данных отлива")
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
 */
VU30_CALLS_EXPORT uint32_t vu30_call_message_utf8(const char* message, char* utf8, size_t utf8Size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VU30_CALLS_H */
