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

#include "vu30.h"

#define POST 1

static _Thread_local int onMainThread;
static atomic_int workerInside;
static Vu30BoundMethod checker[32];
static Vu30BoundMethod hook[32];
static uint8_t channelStatus[32];

/* Each bit of a digit as a pair, 01 for one, 10 for zero. */
static uint8_t Encode(uint8_t digit) {
  uint8_t coded = 0;
  for (int bit = 0; bit < 4; ++bit) coded = (uint8_t)(coded * 4 + ((digit >> bit) & 1 ? 1 : 2));
  return coded;
}

static int32_t VU30_CALL GetChannelError(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  (void)channel;
  return 0;
}
static void VU30_CALL SetChannelError(Vu30Dispatcher* self, uint8_t channel, int32_t code) {
  (void)self;
  (void)channel;
  (void)code;
}
/* Written by the reply checks of the worker's thread only. */
static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  (void)self;
  channelStatus[channel & 31] = status;
}
static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  (void)self;
  (void)channel;
  return VU30_LINK_GOOD;
}
static int32_t VU30_CALL ConfigureChannel(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                          uint32_t lineSettings) {
  (void)self;
  (void)post;
  (void)mode;
  (void)lineSettings;
  return 0;
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
  const Vu30BoundMethod m = checker[channel & 31];
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
  if (onMainThread) checker[channel & 31] = method;
}
static void VU30_CALL SetMessageHook(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  (void)self;
  hook[post & 31] = method;
}
static void VU30_CALL SetPostInit(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  (void)self;
  (void)post;
  (void)method;
}

static Vu30DispatcherTable table;
static Vu30Dispatcher dispatcher = {&table};
static Vu30Driver* driver; /* live until the process ends */

int main(void) {
  onMainThread = 1;
  table.GetChannelError = GetChannelError;
  table.SetChannelError = SetChannelError;
  table.SetChannelStatus = SetChannelStatus;
  table.GetChannelStatus = GetChannelStatus;
  table.ConfigureChannel = ConfigureChannel;
  table.Transact = Transact;
  table.SetReplyChecker = SetReplyChecker;
  table.SetMessageHook = SetMessageHook;
  table.SetPostInit = SetPostInit;
  driver = GetVU30(0, NULL, &dispatcher);
  if (driver == NULL) return 1;
  driver->table->OpenPost(driver, POST);
  if (hook[POST].code == NULL) return 1;

  /* The dispenser's report of a finished dispense: the worker answers it. */
  uint8_t message[4] = {Encode(1), Encode(0), Encode(0), 0};
  Vu30RouteMessageFn route;
  memcpy(&route, &hook[POST].code, sizeof route);
  route(hook[POST].data, POST + 32, message, 0, (uint8_t)sizeof message);
  while (!atomic_load(&workerInside)) sched_yield();
  puts("exiting with the worker inside its exchange");
  return 0;
}
