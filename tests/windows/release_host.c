/* SPDX-License-Identifier: MIT */
/*
 * A host in plain C that releases the driver as an Object Pascal host does:
 * through the runtime's destructor right before slot 0 (vu30.h), on i686 in
 * the runtime's register convention (a regparm(3) function pointer), on
 * x86_64 in the Microsoft x64 convention. It checks:
 *  - the runtime's other entries do nothing;
 *  - a destruction from inside the driver's own exchange (the host's
 *    Transact, SetChannelStatus inside the reply check, a worker's
 *    Transact), through entry 25 and through the runtime's destructor, is
 *    refused as kind 2 and changes nothing;
 *  - the runtime's destructor, called later from outside, releases the
 *    driver: the post's worker thread has ended, and a message after it is
 *    not answered.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "c_host_windows.h"
#include "vu30.h"
#include "vu30_catch.h"

#define POST 3

static const char kRefused[] = "vu30: the driver cannot be destroyed from inside its own exchange";

/* ------------------------------------------------------------------------ */
/* Destroying from inside.                                                   */

enum Inside { kNowhere, kInTransact, kInStatus, kInWorker };

static struct {
  volatile LONG inside; /* where the host destroys the driver */
  volatile LONG refused;
  volatile LONG notRefused;
  volatile LONG transacts;
  volatile LONG workerAnswers;
  volatile DWORD workerThread;
  Vu30Driver* driver;
} D;

static void DestroyThroughEntry25(void* context) {
  Vu30Driver* driver = (Vu30Driver*)context;
  driver->table->Destroy(driver);
}

static void DestroyThroughTheRuntime(void* context) {
  Vu30Driver* driver = (Vu30Driver*)context;
  VU30_RUNTIME_ENTRIES(driver)->Destroy(driver, 1);
}

/* Both destructors, each of which must be refused with kind 2. */
static void DestroyFromInside(void) {
  void (*const destroy[2])(void*) = {DestroyThroughEntry25, DestroyThroughTheRuntime};
  for (int i = 0; i < 2; ++i) {
    Vu30CaughtError error;
    if (vu30_catch_call(destroy[i], D.driver, &error) && error.code == VU30_ERROR_CODE &&
        error.kind == VU30_ERROR_REFUSED && strcmp(error.message, kRefused) == 0) {
      InterlockedIncrement(&D.refused);
    } else {
      InterlockedIncrement(&D.notRefused);
    }
  }
}

/* ------------------------------------------------------------------------ */
/* The host's dispatcher.                                                    */

static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  (void)self;
  if (D.inside == kInStatus) DestroyFromInside();
  HostSetChannelStatus(self, channel, status);
}
static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)request;
  (void)requestLength;
  (void)replyType;
  InterlockedIncrement(&D.transacts);
  if (lineAddress >= 33) {
    /* A worker's answer to a message. */
    D.workerThread = GetCurrentThreadId();
    if (D.inside == kInWorker) DestroyFromInside();
    InterlockedIncrement(&D.workerAnswers);
    return 0;
  }
  if (D.inside == kInTransact) DestroyFromInside();
  /* The acknowledgement, checked by the driver's reply check. */
  if (replyLength == 1 && reply != NULL) Acknowledge(channel, reply);
  return 0;
}

/* The dispenser reports the end of a dispense to the post's worker. */
static void ReportToWorker(void) {
  uint8_t bytes[4] = {Encode(1), Encode(0), Encode(0), 0};
  RouteToWorker(POST, bytes, (uint8_t)sizeof bytes);
}

/* Reports to the worker and waits until it has answered; 1 when it did
 * within 5 s. */
static int WorkerAnswersAReport(void) {
  const LONG before = D.workerAnswers;
  ReportToWorker();
  for (int waited = 0; waited < 5000; ++waited) {
    if (D.workerAnswers != before) return 1;
    Sleep(1);
  }
  return 0;
}

/* ------------------------------------------------------------------------ */

static void StartPump(void* context) {
  Vu30Driver* driver = (Vu30Driver*)context;
  driver->table->StartPump(driver, POST, 0, 0);
}

static void OpenPost(void* context) {
  Vu30Driver* driver = (Vu30Driver*)context;
  driver->table->OpenPost(driver, POST);
}

static void RuntimeEntriesDoNothing(Vu30Driver* driver) {
  const Vu30RuntimeEntries* runtime = VU30_RUNTIME_ENTRIES(driver);
  Check(runtime->SafeCallException(driver, NULL, NULL) == VU30_SAFECALL_RESULT,
        "SafeCallException returns E_UNEXPECTED");
  const Vu30RuntimeFn nothing[6] = {runtime->AfterConstruction, runtime->BeforeDestruction,
                                    runtime->Dispatch,          runtime->DefaultHandler,
                                    runtime->NewInstance,       runtime->FreeInstance};
  for (int i = 0; i < 6; ++i) Check(nothing[i](driver, NULL) == 0, "a runtime entry returns 0");
}

static void DestroyInside(enum Inside where, const char* what) {
  Vu30CaughtError error;
  D.refused = 0;
  D.notRefused = 0;
  D.inside = where;
  if (where == kInWorker) {
    Check(WorkerAnswersAReport(), what);
  } else {
    Check(vu30_catch_call(StartPump, D.driver, &error) == 0, what);
  }
  D.inside = kNowhere;
  Check(D.refused == 2 && D.notRefused == 0, what);
}

int main(void) {
  HMODULE library = LoadLibraryA("vu30.dll");
  Check(library != NULL, "vu30.dll loads");
  if (library == NULL) return 1;
  Vu30GetVU30Fn getVu30 = (Vu30GetVU30Fn)(void (*)(void))GetProcAddress(library, "GetVU30");
  Check(getVu30 != NULL, "GetVU30 is exported");
  if (getVu30 == NULL) return 1;

  Vu30DispatcherTable table;
  CHostDispatcher(&table, Transact);
  table.SetChannelStatus = SetChannelStatus;
  Vu30Dispatcher dispatcher = {&table};

  D.driver = getVu30(0, NULL, &dispatcher);
  Check(D.driver != NULL, "GetVU30 creates");
  if (D.driver == NULL) return 1;
  RuntimeEntriesDoNothing(D.driver);
  Vu30CaughtError error;
  Check(vu30_catch_call(OpenPost, D.driver, &error) == 0 && gChannels.hook[POST].code != NULL,
        "the post opens");

  DestroyInside(kInTransact, "destroying inside the host's Transact is refused");
  DestroyInside(kInStatus, "destroying inside the reply check's SetChannelStatus is refused");
  DestroyInside(kInWorker, "destroying inside a worker's Transact is refused");
  Check(
      vu30_catch_call(StartPump, D.driver, &error) == 0 && gChannels.status[POST] == VU30_LINK_GOOD,
      "the driver works after the refusals");
  Check(WorkerAnswersAReport(), "the worker answers after the refusals");

  /* Released from outside through the runtime's destructor. */
  HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, D.workerThread);
  Check(worker != NULL, "the worker's thread is found");
  Check(vu30_catch_call(DestroyThroughTheRuntime, D.driver, &error) == 0,
        "the runtime's destructor returns");
  if (worker != NULL) {
    Check(WaitForSingleObject(worker, 0) == WAIT_OBJECT_0,
          "the worker's thread has ended when the destructor returns");
    CloseHandle(worker);
  }
  const LONG transacts = D.transacts;
  ReportToWorker();
  Check(D.transacts == transacts, "a message after the release is not answered");
  FreeLibrary(library);

  return CheckSummary();
}
