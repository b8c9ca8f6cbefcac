/* SPDX-License-Identifier: MIT */
/*
 * A host in plain C (no C++ runtime on the catching side) that loads
 * vu30.dll and checks, as a host built with another compiler sees them:
 *  - the library's structured exception for each kind of error: code,
 *    flags, the three parameters and the message;
 *  - the host's own structured exceptions (0x0EEDFADE, as a Pascal host
 *    raises them) inside its dispatcher functions (those that pass on to
 *    the host's handlers: passthrough_host.c);
 *  - calls into the table from inside the host's own Transact, caught there
 *    or left to reach the host's catch around the outer call;
 *  - figures under the host's floating-point control words, and those
 *    control words unchanged after every call.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "c_host_windows.h"
#include "vu30.h"
#include "vu30_catch.h"

#define HOST_EXCEPTION 0x0EEDFADEu
#define POST 3
#define PAIR_POST 4 /* shares the channel-pair lock with POST */

/* ------------------------------------------------------------------------ */
/* Line coding (c_host.h), read back.                                        */

static int Decode(uint8_t coded) {
  for (uint8_t d = 0; d < 16; ++d) {
    if (Encode(d) == coded) return d;
  }
  return -1;
}

/* ------------------------------------------------------------------------ */
/* The host's dispatcher.                                                    */

enum Mode { kFail, kAck, kRaise, kRaiseNoncontinuable, kReenter, kReenterUncaught };

static struct {
  volatile LONG mode;
  volatile LONG raiseInWorker; /* the next worker exchange raises */
  volatile LONG raiseInStatus; /* the next SetChannelStatus raises */
  volatile LONG workerAnswers; /* worker exchanges made */
  int hostDigits[16];
  int hostDigitCount;
  int workerDigits[16];
  /* what the host saw while its Transact ran */
  unsigned short controlInTransact;
  unsigned mxcsrInTransact;
  /* the table call made from inside Transact */
  Vu30Driver* driver;
  int reentered;
  Vu30CaughtError reentryError;
} D;

static void RaiseHostException(DWORD flags) {
  const ULONG_PTR parameters[2] = {0x1234, 0x5678};
  RaiseException(HOST_EXCEPTION, flags, 2, parameters);
}

static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  (void)self;
  if (InterlockedExchange(&D.raiseInStatus, 0)) RaiseHostException(0);
  HostSetChannelStatus(self, channel, status);
}

static void BadCallFromTransact(void* context) {
  (void)context;
  D.driver->table->GetLinkStatus(D.driver, 31);
}

static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)replyType;
  if (lineAddress >= 33) {
    /* A worker's answer to a message. */
    if (InterlockedExchange(&D.raiseInWorker, 0)) RaiseHostException(EXCEPTION_NONCONTINUABLE);
    for (int i = 0; i < requestLength && i < 16; ++i) D.workerDigits[i] = Decode(request[i]);
    InterlockedIncrement(&D.workerAnswers);
    return 0;
  }
  D.controlInTransact = ReadX87Control();
  D.mxcsrInTransact = ReadMxcsr();
  D.hostDigitCount = requestLength < 16 ? requestLength : 16;
  for (int i = 0; i < D.hostDigitCount; ++i) D.hostDigits[i] = Decode(request[i]);
  switch (D.mode) {
    case kRaise:
      RaiseHostException(0);
      return 0;
    case kRaiseNoncontinuable:
      RaiseHostException(EXCEPTION_NONCONTINUABLE);
      return 0;
    case kReenterUncaught:
      D.mode = kAck;
      BadCallFromTransact(NULL); /* raises through this Transact */
      return 0;
    case kReenter:
      D.reentered = vu30_catch_call(BadCallFromTransact, NULL, &D.reentryError);
      if (replyLength == 1 && reply != NULL) Acknowledge(channel, reply);
      return 0;
    case kAck:
      if (replyLength == 1 && reply != NULL) Acknowledge(channel, reply);
      return 0;
    default:
      return 5; /* no reply */
  }
}

/* The dispenser sends a message (digits) to the post's worker and waits
 * until the worker has answered. Returns whether it did within 5 s. */
static int MessageToWorker(const uint8_t* digits, int count) {
  uint8_t bytes[16];
  for (int i = 0; i < count; ++i) bytes[i] = Encode(digits[i]);
  bytes[count] = 0;
  const LONG before = D.workerAnswers;
  RouteToWorker(POST, bytes, (uint8_t)(count + 1));
  for (int waited = 0; waited < 5000; ++waited) {
    if (D.workerAnswers != before) return 1;
    Sleep(1);
  }
  return 0;
}

/* ------------------------------------------------------------------------ */
/* The host's menu items.                                                    */

static HMODULE gLibrary;

static volatile LONG gCreateRaises;

static Vu30MenuItem* VU30_CALL CreateItem(Vu30MenuItem* parent, int32_t index) {
  (void)parent;
  (void)index;
  if (InterlockedExchange(&gCreateRaises, 0)) RaiseHostException(0);
  return &gCreated.base;
}

/* ------------------------------------------------------------------------ */
/* Calls into the library, as vu30_catch_call and CatchOwn run them.         */

typedef struct Call {
  Vu30GetVU30Fn getVu30;
  Vu30Driver* driver;
  Vu30Dispatcher* dispatcher;
  int which;
  int post;
  double amount;
  Vu30Driver* created;
  uint8_t status;
} Call;

enum {
  kGetVu30,
  kAbstract,
  kBadPost,
  kStartPump,
  kStopPumpNow,
  kLinkStatus,
  kSetPrice,
  kPresetVolume,
  kPresetMoney,
  kAddMenuEntry,
  kOpenPost,
  kDestroy
};

static void Run(void* context) {
  Call* call = (Call*)context;
  Vu30Driver* d = call->driver;
  const Vu30DriverTable* t = d != NULL ? d->table : NULL;
  switch (call->which) {
    case kGetVu30:
      call->created = call->getVu30(0, NULL, call->dispatcher);
      break;
    case kAbstract:
      t->Abstract(d);
      break;
    case kBadPost:
      call->status = t->GetLinkStatus(d, 31);
      break;
    case kStartPump:
      t->StartPump(d, call->post, 0, 0);
      break;
    case kStopPumpNow:
      t->StopPumpNow(d, call->post);
      break;
    case kLinkStatus:
      call->status = t->GetLinkStatus(d, (uint8_t)call->post);
      break;
    case kSetPrice:
      t->SetPrice(d, call->post, 0, 1, 0, 0, call->amount);
      break;
    case kPresetVolume:
      t->PresetVolume(d, call->post, 0, 1, 0, call->amount);
      break;
    case kPresetMoney:
      t->PresetMoney(d, call->post, 0, 1, 0, call->amount);
      break;
    case kAddMenuEntry:
      t->AddMenuEntry(d, &gParent.base, CreateItem);
      break;
    case kOpenPost:
      t->OpenPost(d, call->post);
      break;
    case kDestroy:
      t->Destroy(d);
      break;
  }
}

/* Runs one call; returns 0 when it returned, else the kind it raised. */
static uint32_t Try(Call* call, int which, Vu30CaughtError* error) {
  call->which = which;
  return vu30_catch_call(Run, call, error) ? error->kind : 0;
}

/* Runs one call that must raise the library's exception of kind with the
 * message. */
static void ExpectError(Call* call, int which, uint32_t kind, const char* message,
                        const char* what) {
  Vu30CaughtError error;
  call->which = which;
  if (!vu30_catch_call(Run, call, &error)) {
    Check(0, what);
    return;
  }
  Check(error.code == VU30_ERROR_CODE, what);
  Check(error.flags == EXCEPTION_NONCONTINUABLE, what);
  Check(error.parameterCount == 3, what);
  Check(error.kind == kind, what);
  Check(error.messageTerminated && error.messageLength == strlen(error.message), what);
  Check(strcmp(error.message, message) == 0, what);
  if (strcmp(error.message, message) != 0) printf("  message: \"%s\"\n", error.message);
}

static int DigitsAre(const int* digits, const char* expected) {
  for (size_t i = 0; expected[i] != '\0'; ++i) {
    if (digits[i] != expected[i] - '0') return 0;
  }
  return 1;
}

/* ------------------------------------------------------------------------ */

static void ErrorsOfTheLibrary(Call* call) {
  ExpectError(call, kBadPost, VU30_ERROR_REFUSED, "vu30: post 31 is outside 1..30",
              "post 31 is refused");
  ExpectError(call, kAbstract, VU30_ERROR_ABSTRACT, "Abstract error", "slot 0 raises");
  D.mode = kFail;
  call->post = POST;
  ExpectError(call, kStartPump, VU30_ERROR_SERIAL_IO, "Can't START POMP",
              "a failed start raises ESerialIO");
  ExpectError(call, kStopPumpNow, VU30_ERROR_SERIAL_IO, "Can't STOP POMP",
              "a failed stop through slot 5 raises once");
  Vu30CaughtError error;
  Check(Try(call, kLinkStatus, &error) == 0 &&
            (call->status == VU30_LINK_GOOD || call->status == VU30_LINK_FAILED),
        "a call after the errors returns");
}

static void HostExceptionInTransact(Call* call, int mode, const char* what) {
  Vu30CaughtError error;
  call->driver->table->SetLinkStatus(call->driver, POST, VU30_LINK_FAILED);
  gChannels.status[POST] = VU30_LINK_GOOD;
  D.mode = mode;
  call->post = POST;
  ExpectError(call, kStartPump, VU30_ERROR_SERIAL_IO, "Can't START POMP", what);
  Check(call->driver->table->GetLinkStatus(call->driver, POST) == VU30_LINK_FAILED,
        "the link status is left as it was when Transact raised");
  /* The pair's lock is free: a request on the other post of the pair is
   * made (it would wait for ever otherwise). */
  D.mode = kAck;
  call->post = PAIR_POST;
  Check(Try(call, kStartPump, &error) == 0, "the channel pair's lock is free after the raise");
}

static void HostExceptionInWorker(void) {
  static const uint8_t report[] = {1, 0, 0};
  D.raiseInWorker = 1;
  MessageToWorker(report, 3); /* its answer raises: never counted */
  Check(D.raiseInWorker == 0, "the worker's exchange was made and raised");
  Check(MessageToWorker(report, 3), "the worker answers the next message after the raise");
}

static void HostExceptionInReplyCheck(Call* call) {
  Vu30CaughtError error;
  D.mode = kAck;
  D.raiseInStatus = 1;
  call->post = POST;
  /* The checker's report raises inside the check: the check fails, nothing
   * reaches the dispatcher's Transact, the request has no good reply. */
  Try(call, kStartPump, &error);
  Check(D.raiseInStatus == 0, "SetChannelStatus was called and raised");
}

static void TableCallFromTransact(Call* call) {
  Vu30CaughtError error;
  D.mode = kReenter;
  D.driver = call->driver;
  D.reentered = 0;
  call->post = POST;
  Check(Try(call, kStartPump, &error) == 0, "the request whose Transact calls the table succeeds");
  Check(D.reentered == 1 && D.reentryError.code == VU30_ERROR_CODE &&
            D.reentryError.kind == VU30_ERROR_REFUSED,
        "a bad call from inside Transact raises the library's exception, kind 2");
  D.mode = kAck;
}

#if defined(__i386__)
static void* HandlerChain(void) {
  void* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
}
#else
static void* HandlerChain(void) { return NULL; }
#endif

/* A bad table call from inside Transact that the host leaves uncaught there:
 * the library's exception passes through the frames of the outer request on
 * its way to the host's catch, which unwinds them. The outer request fails
 * as its exchange did; the channel pair's lock is free again and nothing is
 * left on the thread's handler chain. */
static void UncaughtTableCallFromTransact(Call* call) {
  Vu30CaughtError error;
  D.mode = kReenterUncaught;
  D.driver = call->driver;
  call->post = POST;
  call->amount = 12.34;
  void* const chain = HandlerChain();
  Check(Try(call, kSetPrice, &error) == VU30_ERROR_SERIAL_IO,
        "the request whose Transact lets a bad table call's exception out fails: kind 1");
  Check(HandlerChain() == chain, "the thread's handler chain is as it was");
  Check(D.mode == kAck && Try(call, kSetPrice, &error) == 0,
        "the next request on the post is made");
}

/* Every call leaves the host's control word and MXCSR as they were. */
static void ExpectHostFpState(unsigned short control, unsigned mxcsr, const char* what) {
  const unsigned short controlNow = ReadX87Control();
  const unsigned mxcsrNow = ReadMxcsr();
  Check(controlNow == control && mxcsrNow == mxcsr, what);
  if (controlNow != control || mxcsrNow != mxcsr) {
    printf("  control word %04X, MXCSR %04X\n", controlNow, mxcsrNow);
  }
}

static void FloatingPointMatrix(Call* call) {
  static const unsigned short controls[] = {0x037F, 0x027F, 0x1332};
  static const unsigned mxcsrs[] = {0x1F80, 0x1900};
  static const uint8_t doseRequest[] = {8, 0, 0};
  static const uint8_t report[] = {1, 0, 0};
  static const struct {
    int which;
    double amount;
    const char* digits; /* price digits sent, or dose digits released */
  } cases[] = {
      {kSetPrice, 2.675, "0268"},      {kSetPrice, 0.015, "0002"},
      {kPresetMoney, 349.95, "03500"}, {kPresetMoney, 0.05, "00000"},
      {kPresetVolume, 0.125, "00012"}, {kPresetVolume, 0.375, "00038"},
  };
  /* 1e308, infinity and a quiet NaN, made from their bits: computing them
   * would trap under the host's unmasked exceptions. */
  static const uint64_t refusedBits[] = {0x7FE1CCF385EBC8A0ull, 0x7FF0000000000000ull,
                                         0x7FF8000000000000ull};
  double bad[3];
  memcpy(bad, refusedBits, sizeof bad);

  D.mode = kAck;
  call->post = POST;
  for (size_t c = 0; c < sizeof controls / sizeof controls[0]; ++c) {
    for (size_t m = 0; m < sizeof mxcsrs / sizeof mxcsrs[0]; ++m) {
      char what[160];
      Vu30CaughtError error;
      WriteMxcsr(mxcsrs[m]);
      WriteX87Control(controls[c]);
      snprintf(what, sizeof what, "control word %04X, MXCSR %04X", controls[c], mxcsrs[m]);
      /* The state as the host has it right before a call: its own work
       * (printing a number) may raise a flag meanwhile. */
      unsigned short control = 0;
      unsigned mxcsr = 0;

      for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char name[240];
        snprintf(name, sizeof name, "%s: %s %.3f gives %s", what,
                 cases[i].which == kSetPrice ? "SetPrice" : "a preset", cases[i].amount,
                 cases[i].digits);
        call->amount = 10.00;
        control = ReadX87Control();
        mxcsr = ReadMxcsr();
        if (Try(call, kSetPrice, &error) != 0) Check(0, name);
        call->amount = cases[i].amount;
        if (Try(call, cases[i].which, &error) != 0) {
          Check(0, name);
          continue;
        }
        if (cases[i].which == kSetPrice) {
          Check(D.hostDigitCount == 6 && DigitsAre(D.hostDigits + 2, cases[i].digits), name);
          Check(D.controlInTransact == control && D.mxcsrInTransact == mxcsr,
                "the host's own state is in force in its Transact");
          if (D.controlInTransact != control || D.mxcsrInTransact != mxcsr) {
            printf("  in Transact: control word %04X, MXCSR %04X\n", D.controlInTransact,
                   D.mxcsrInTransact);
          }
        } else {
          /* The dose the worker releases: start, the dispenser asks. */
          Try(call, kStartPump, &error);
          Check(MessageToWorker(doseRequest, 3) && D.workerDigits[0] == 1 &&
                    DigitsAre(D.workerDigits + 2, cases[i].digits),
                name);
          MessageToWorker(report, 3); /* the dispense ends: idle again */
        }
        ExpectHostFpState(control, mxcsr, what);
      }
      for (int b = 0; b < 3; ++b) {
        for (int which = kSetPrice; which <= kPresetMoney; ++which) {
          char name[240];
          snprintf(name, sizeof name, "%s: argument %d of operation %d refused as kind 2", what, b,
                   which);
          call->amount = bad[b];
          control = ReadX87Control();
          mxcsr = ReadMxcsr();
          Check(Try(call, which, &error) == VU30_ERROR_REFUSED, name);
          ExpectHostFpState(control, mxcsr, what);
        }
      }
      call->post = 31;
      control = ReadX87Control();
      mxcsr = ReadMxcsr();
      Try(call, kStartPump, &error);
      call->post = POST;
      ExpectHostFpState(control, mxcsr, "the host's state is back after an error");
    }
  }
  WriteMxcsr(0x1F80);
  WriteX87Control(0x037F);
}

int main(void) {
  gLibrary = LoadLibraryA("vu30.dll");
  Check(gLibrary != NULL, "vu30.dll loads");
  if (gLibrary == NULL) return 1;
  Vu30GetVU30Fn getVu30 = (Vu30GetVU30Fn)(void (*)(void))GetProcAddress(gLibrary, "GetVU30");
  Check(getVu30 != NULL, "GetVU30 is exported");
  if (getVu30 == NULL) return 1;
  CHostMenuItems();

  Vu30DispatcherTable table;
  CHostDispatcher(&table, Transact);
  table.SetChannelStatus = SetChannelStatus;
  Vu30Dispatcher dispatcher = {&table};

  Call call;
  memset(&call, 0, sizeof call);
  call.getVu30 = getVu30;
  ExpectError(&call, kGetVu30, VU30_ERROR_REFUSED, "vu30: GetVU30 needs the host's port dispatcher",
              "GetVU30 without a dispatcher is refused");
  Vu30CaughtError error;
  call.dispatcher = &dispatcher;
  Check(Try(&call, kGetVu30, &error) == 0 && call.created != NULL, "GetVU30 creates");
  call.driver = call.created;
  if (call.driver == NULL) return 1;

  ErrorsOfTheLibrary(&call);
  HostExceptionInTransact(&call, kRaise, "a continuable host exception in Transact: kind 1");
  HostExceptionInTransact(&call, kRaiseNoncontinuable,
                          "a non-continuable host exception in Transact: kind 1");
  D.mode = kAck;
  call.post = POST;
  Check(Try(&call, kOpenPost, &error) == 0 && gChannels.hook[POST].code != NULL, "the post opens");
  HostExceptionInWorker();
  TableCallFromTransact(&call);
  UncaughtTableCallFromTransact(&call);
  FloatingPointMatrix(&call);
  HostExceptionInReplyCheck(&call);
  Check(Try(&call, kDestroy, &error) == 0, "Destroy returns after a raise inside the reply check");
  FreeLibrary(gLibrary);

  return CheckSummary();
}
