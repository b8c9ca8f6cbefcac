/* SPDX-License-Identifier: MIT */
/*
 * A host that exits with a live driver. A post worker is inside the host's
 * Transact, where the host's dispatcher runs the driver's reply check again
 * and again, when the main thread returns and the process's static objects
 * are destroyed. What the worker and the reply check read must outlive
 * them: under ThreadSanitizer (or AddressSanitizer) a race with, or a use
 * after, that destruction fails the run.
 */
#include <sched.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>

#include "../support/c_host.h"
#include "vu30.h"

#define POST 1

static _Thread_local int onMainThread;
static atomic_int workerInside;

/* Read on every thread: the status that the reply checks of the worker's
 * thread write (c_host.h) is never read back, so no read races them. */
static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  (void)channel;
  return VU30_LINK_GOOD;
}
/* The main thread's exchanges (the state request at opening) get no reply.
 * The worker's answer never returns: its reply is checked until the
 * process ends. */
static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)lineAddress;
  (void)request;
  (void)requestLength;
  (void)reply;
  (void)replyLength;
  (void)replyType;
  if (onMainThread) return 0;
  const Vu30BoundMethod m = gChannels.checker[channel & 31];
  Vu30CheckReplyFn check;
  memcpy(&check, &m.code, sizeof check);
  atomic_store(&workerInside, 1);
  for (;;) {
    uint8_t acknowledgement[1] = {0};
    uint8_t count = 1;
    uint8_t expected = 1;
    check(m.data, channel, acknowledgement, 0, &count, &expected);
    sched_yield();
  }
}
/* The main thread registers before the worker starts; the worker registers
 * the same method again, and reads it only on its own thread. */
static void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                      Vu30BoundMethod method) {
  (void)self;
  if (onMainThread) gChannels.checker[channel & 31] = method;
}

static Vu30DispatcherTable table;
static Vu30Dispatcher dispatcher = {&table};
static Vu30Driver* driver; /* live until the process ends */

int main(void) {
  onMainThread = 1;
  CHostDispatcher(&table, Transact);
  table.GetChannelStatus = GetChannelStatus;
  table.SetReplyChecker = SetReplyChecker;
  driver = GetVU30(0, NULL, &dispatcher);
  if (driver == NULL) return 1;
  driver->table->OpenPost(driver, POST);
  if (gChannels.hook[POST].code == NULL) return 1;

  /* The dispenser's report of a finished dispense: the worker answers it. */
  uint8_t message[4] = {Encode(1), Encode(0), Encode(0), 0};
  RouteToWorker(POST, message, (uint8_t)sizeof message);
  while (!atomic_load(&workerInside)) sched_yield();
  puts("exiting with the worker inside its exchange");
  return 0;
}
