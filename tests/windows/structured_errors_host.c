/*
 * A host in plain C (no C++ runtime on the catching side) that loads
 * vu30.dll, provokes each kind of error and checks the structured exception
 * it gets: code, flags, the three parameters and the message.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "vu30.h"
#include "vu30_catch.h"

static int passed;
static int failed;

static void Check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED: %s\n", what);
  }
}

/* The host's dispatcher: every exchange fails with code 5 (no reply). */
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
static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  (void)self;
  (void)channel;
  (void)status;
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
static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)channel;
  (void)lineAddress;
  (void)request;
  (void)requestLength;
  (void)reply;
  (void)replyLength;
  (void)replyType;
  return 5;
}
static void VU30_CALL SetCallback(Vu30Dispatcher* self, uint8_t channelOrPost,
                                  Vu30BoundMethod method) {
  (void)self;
  (void)channelOrPost;
  (void)method;
}

/* One call into the library, as vu30_catch_call runs it. */
typedef struct Call {
  Vu30GetVU30Fn getVu30;
  Vu30Driver* driver;
  Vu30Dispatcher* dispatcher;
  int which;
  Vu30Driver* created;
  uint8_t status;
} Call;

enum { kGetVu30, kAbstract, kBadPost, kStartPump, kStopPumpNow, kLinkStatus };

static void Run(void* context) {
  Call* call = (Call*)context;
  const Vu30DriverTable* t = call->driver != NULL ? call->driver->table : NULL;
  switch (call->which) {
    case kGetVu30:
      call->created = call->getVu30(0, NULL, call->dispatcher);
      break;
    case kAbstract:
      t->Abstract(call->driver);
      break;
    case kBadPost:
      call->status = t->GetLinkStatus(call->driver, 31);
      break;
    case kStartPump:
      t->StartPump(call->driver, 3, 0, 0);
      break;
    case kStopPumpNow:
      t->StopPumpNow(call->driver, 3);
      break;
    case kLinkStatus:
      call->status = t->GetLinkStatus(call->driver, 3);
      break;
  }
}

/* Runs one call that must raise the library's exception of kind with the
 * message (NULL: any message starting with "prefix"). */
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

int main(void) {
  HMODULE library = LoadLibraryA("vu30.dll");
  Check(library != NULL, "vu30.dll loads");
  if (library == NULL) return 1;
  Vu30GetVU30Fn getVu30 = (Vu30GetVU30Fn)(void (*)(void))GetProcAddress(library, "GetVU30");
  Check(getVu30 != NULL, "GetVU30 is exported");
  if (getVu30 == NULL) return 1;

  Vu30DispatcherTable table;
  memset(&table, 0, sizeof table);
  table.GetChannelError = GetChannelError;
  table.SetChannelError = SetChannelError;
  table.SetChannelStatus = SetChannelStatus;
  table.GetChannelStatus = GetChannelStatus;
  table.ConfigureChannel = ConfigureChannel;
  table.Transact = Transact;
  table.SetReplyChecker = SetCallback;
  table.SetMessageHook = SetCallback;
  table.SetPostInit = SetCallback;
  Vu30Dispatcher dispatcher = {&table};

  Call call;
  memset(&call, 0, sizeof call);
  call.getVu30 = getVu30;

  /* Refused arguments: GetVU30 without a dispatcher, a post beyond 30. */
  ExpectError(&call, kGetVu30, VU30_ERROR_REFUSED, "vu30: GetVU30 needs the host's port dispatcher",
              "GetVU30 without a dispatcher is refused");
  Vu30CaughtError error;
  call.dispatcher = &dispatcher;
  call.which = kGetVu30;
  Check(vu30_catch_call(Run, &call, &error) == 0 && call.created != NULL, "GetVU30 creates");
  call.driver = call.created;
  if (call.driver == NULL) return 1;
  ExpectError(&call, kBadPost, VU30_ERROR_REFUSED, "vu30: post 31 is outside 1..30",
              "post 31 is refused");

  /* The abstract slot. */
  ExpectError(&call, kAbstract, VU30_ERROR_ABSTRACT, "Abstract error", "slot 0 raises");

  /* A failed exchange, directly and through a slot that calls another. */
  ExpectError(&call, kStartPump, VU30_ERROR_SERIAL_IO, "Can't START POMP",
              "a failed start raises ESerialIO");
  ExpectError(&call, kStopPumpNow, VU30_ERROR_SERIAL_IO, "Can't STOP POMP",
              "a failed stop through slot 5 raises once");

  /* The driver goes on working after the errors: a call returns as usual. */
  call.which = kLinkStatus;
  call.status = 0;
  Check(vu30_catch_call(Run, &call, &error) == 0 &&
            (call.status == VU30_LINK_GOOD || call.status == VU30_LINK_FAILED),
        "a call after the errors returns");
  call.driver->table->Destroy(call.driver);
  FreeLibrary(library);

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
