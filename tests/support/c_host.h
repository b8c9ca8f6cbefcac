/* SPDX-License-Identifier: MIT */
/*
 * Scaffolding shared by the test hosts written in plain C (one translation
 * unit each): the check counters, the dispenser's line coding, and a
 * dispatcher that keeps what the driver registers per channel. A host
 * fills its table with CHostDispatcher, then replaces the entries it
 * handles itself (always Transact). Portable: no Windows code.
 */
#ifndef VU30_TESTS_C_HOST_H
#define VU30_TESTS_C_HOST_H

#include <stdio.h>
#include <string.h>

#include "vu30.h"

/* ------------------------------------------------------------------------ */
/* Checks: counted, each failure printed.                                    */

static int passed;
static int failed;

static inline void Check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED: %s\n", what);
  }
}

/* Prints the counts; the program's exit code. */
static inline int CheckSummary(void) {
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

/* ------------------------------------------------------------------------ */
/* Line coding: each bit of a digit as a pair, 01 for one, 10 for zero.      */

static inline uint8_t Encode(uint8_t digit) {
  uint8_t coded = 0;
  for (int bit = 0; bit < 4; ++bit) coded = (uint8_t)(coded * 4 + ((digit >> bit) & 1 ? 1 : 2));
  return coded;
}

/* ------------------------------------------------------------------------ */
/* The host's dispatcher: what the driver registered, per channel or post.   */

static struct {
  Vu30BoundMethod checker[32];
  Vu30BoundMethod hook[32];
  uint8_t status[32];
  int32_t error[32];
} gChannels;

static inline int32_t VU30_CALL HostGetChannelError(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  return gChannels.error[channel & 31];
}
static inline void VU30_CALL HostSetChannelError(Vu30Dispatcher* self, uint8_t channel,
                                                 int32_t code) {
  (void)self;
  gChannels.error[channel & 31] = code;
}
static inline void VU30_CALL HostSetChannelStatus(Vu30Dispatcher* self, uint8_t channel,
                                                  uint8_t status) {
  (void)self;
  gChannels.status[channel & 31] = status;
}
static inline uint8_t VU30_CALL HostGetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  return gChannels.status[channel & 31];
}
static inline int32_t VU30_CALL HostConfigureChannel(Vu30Dispatcher* self, uint8_t post,
                                                     int32_t mode, uint32_t lineSettings) {
  (void)self;
  (void)post;
  (void)mode;
  (void)lineSettings;
  return 0;
}
static inline void VU30_CALL HostSetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                                 Vu30BoundMethod method) {
  (void)self;
  gChannels.checker[channel & 31] = method;
}
static inline void VU30_CALL HostSetMessageHook(Vu30Dispatcher* self, uint8_t post,
                                                Vu30BoundMethod method) {
  (void)self;
  gChannels.hook[post & 31] = method;
}
static inline void VU30_CALL HostSetPostInit(Vu30Dispatcher* self, uint8_t post,
                                             Vu30BoundMethod method) {
  (void)self;
  (void)post;
  (void)method;
}

/* Fills table with the entries above and transact; every link is good. */
static inline void CHostDispatcher(Vu30DispatcherTable* table, Vu30TransactFn transact) {
  for (int channel = 0; channel < 32; ++channel) gChannels.status[channel] = VU30_LINK_GOOD;
  memset(table, 0, sizeof *table);
  table->GetChannelError = HostGetChannelError;
  table->SetChannelError = HostSetChannelError;
  table->SetChannelStatus = HostSetChannelStatus;
  table->GetChannelStatus = HostGetChannelStatus;
  table->ConfigureChannel = HostConfigureChannel;
  table->Transact = transact;
  table->SetReplyChecker = HostSetReplyChecker;
  table->SetMessageHook = HostSetMessageHook;
  table->SetPostInit = HostSetPostInit;
}

/* Acknowledges as a dispenser does: the reply byte 0, checked by the
 * channel's reply checker when one is registered. */
static inline void Acknowledge(uint8_t channel, uint8_t* reply) {
  uint8_t count = 1;
  uint8_t expected = 1;
  reply[0] = 0;
  const Vu30BoundMethod m = gChannels.checker[channel & 31];
  if (m.code != NULL) {
    Vu30CheckReplyFn check;
    memcpy(&check, &m.code, sizeof check);
    check(m.data, channel, reply, 0, &count, &expected);
  }
}

/* The dispenser sends bytes to the post's worker through the message hook
 * the driver registered for the post. */
static inline void RouteToWorker(uint8_t post, uint8_t* bytes, uint8_t length) {
  const Vu30BoundMethod m = gChannels.hook[post & 31];
  Vu30RouteMessageFn route;
  memcpy(&route, &m.code, sizeof route);
  route(m.data, (uint8_t)(post + 32), bytes, 0, length);
}

#endif
