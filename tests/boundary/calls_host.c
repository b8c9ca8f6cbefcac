/* SPDX-License-Identifier: MIT */
/*
 * A host in plain C that makes its calls through the error-returning calls
 * (vu30_calls.h): a refused argument and a failed exchange come back as
 * values with the library's kind and message, nothing is sent for the
 * refused call, and the host goes on using the same post afterwards.
 */
#include <stdio.h>
#include <string.h>

#include "../support/c_host.h"
#include "vu30_calls.h"

#define POST 1

static int lineDown;  /* Transact fails while set */
static int exchanges; /* Transact calls */

static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)lineAddress;
  (void)request;
  (void)requestLength;
  (void)replyType;
  ++exchanges;
  if (lineDown) return 1; /* no answer on the line: a failed exchange, returned */
  if (replyLength > 0) Acknowledge(channel, reply);
  return 0;
}

int main(void) {
  static Vu30DispatcherTable table;
  static Vu30Dispatcher dispatcher = {&table};
  char text[VU30_CALLS_MESSAGE_CAPACITY];
  CHostDispatcher(&table, Transact);

  /* No place for the driver: refused, since a driver made then could never
   * be released. */
  strcpy(text, "unchanged");
  Check(vu30_call_GetVU30(0, NULL, &dispatcher, NULL, text, sizeof text) == VU30_ERROR_REFUSED &&
            strstr(text, "driver") != NULL,
        "GetVU30 without a place for the driver comes back refused");

  Vu30Driver* driver = NULL;
  Check(vu30_call_GetVU30(0, NULL, &dispatcher, &driver, text, sizeof text) == 0 && driver,
        "GetVU30 through the calls gives a driver");
  if (driver == NULL) return CheckSummary();
  Check(vu30_call_OpenPost(driver, POST, text, sizeof text) == 0, "the post opens");

  /* Refused before anything is sent: nozzle 9 does not exist. */
  int before = exchanges;
  strcpy(text, "unchanged");
  uint32_t kind = vu30_call_SetPrice(driver, POST, 0, 9, 0, 0, 52.30, text, sizeof text);
  Check(kind == VU30_ERROR_REFUSED, "nozzle 9 comes back refused");
  Check(strstr(text, "nozzle") != NULL, "the refusal's message is copied");
  Check(exchanges == before, "nothing is sent for a refused call");

  /* A failed exchange: the operation's own cp1251 message. */
  lineDown = 1;
  kind = vu30_call_StartPump(driver, POST, 0, 0, text, sizeof text);
  Check(kind == VU30_ERROR_SERIAL_IO, "a failed exchange comes back as a serial error");
  Check(strcmp(text, "Can't START POMP") == 0, "with the operation's message");
  /* A short buffer gets the message cut and terminated. */
  char shortText[6];
  memset(shortText, 'x', sizeof shortText);
  kind = vu30_call_StartPump(driver, POST, 0, 0, shortText, sizeof shortText);
  Check(kind == VU30_ERROR_SERIAL_IO && strcmp(shortText, "Can't") == 0,
        "a short buffer holds the message's start, terminated");
  Check(vu30_call_StartPump(driver, POST, 0, 0, NULL, 0) == VU30_ERROR_SERIAL_IO,
        "no buffer: the kind alone");

  /* A Linux host prints the price's cp1251 message in UTF-8. */
  char utf8[VU30_CALLS_MESSAGE_UTF8_CAPACITY];
  kind = vu30_call_SetPrice(driver, POST, 0, 2, 0, 0, 52.30, text, sizeof text);
  Check(kind == VU30_ERROR_SERIAL_IO && vu30_call_message_utf8(text, utf8, sizeof utf8) == 0,
        "the price's message converts");
  printf("  the price's message in UTF-8: %s\n", utf8);
  Check(strcmp(utf8, "Невозможно выполнить установку цены") == 0, "into its UTF-8 text");
  /* Cut before a character that does not fit: "Не" needs 4 bytes and NUL. */
  memset(utf8, 'x', sizeof utf8);
  Check(vu30_call_message_utf8(text, utf8, 4) == 0 && strcmp(utf8, "Н") == 0,
        "a short buffer holds whole characters, terminated");
  Check(vu30_call_message_utf8("\x88\x98", utf8, sizeof utf8) == 0 &&
            strcmp(utf8, "\u20AC\uFFFD") == 0,
        "the euro sign, and U+FFFD for 0x98");
  strcpy(utf8, "unchanged");
  Check(vu30_call_message_utf8(NULL, utf8, sizeof utf8) == VU30_ERROR_REFUSED &&
            vu30_call_message_utf8(text, utf8, 0) == VU30_ERROR_REFUSED &&
            vu30_call_message_utf8(utf8, utf8 + 2, 8) == VU30_ERROR_REFUSED &&
            strcmp(utf8, "unchanged") == 0,
        "no message, no room or overlapping buffers are refused");

  /* The host goes on: the same post works once the line is back. */
  lineDown = 0;
  before = exchanges;
  Check(vu30_call_SetPrice(driver, POST, 0, 2, 0, 0, 52.30, text, sizeof text) == 0,
        "the next price on the same post is set");
  Check(exchanges > before, "and it went on the line");
  uint8_t status = 0;
  Check(vu30_call_GetLinkStatus(driver, POST, &status, text, sizeof text) == 0 &&
            status == VU30_LINK_GOOD,
        "the link status is read back as a result");

  Check(vu30_call_Abstract(driver, text, sizeof text) == VU30_ERROR_ABSTRACT &&
            strcmp(text, "Abstract error") == 0,
        "slot 0 comes back as the abstract error");
  Check(vu30_call_OpenPost(NULL, POST, text, sizeof text) == VU30_ERROR_REFUSED,
        "a null driver is refused");
  Check(vu30_call_Destroy(driver, text, sizeof text) == 0, "the driver is destroyed");
  return CheckSummary();
}
