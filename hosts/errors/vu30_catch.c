#include "vu30_catch.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "vu30.h"

typedef struct CatchPoint {
  void* jump[5]; /* __builtin_setjmp's buffer */
  Vu30CaughtError* error;
} CatchPoint;

/* The innermost catch point of the calling thread. */
static __thread CatchPoint* volatile tCatchPoint;

static LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  CatchPoint* point = tCatchPoint;
  if (record->ExceptionCode != VU30_ERROR_CODE || point == NULL) return EXCEPTION_CONTINUE_SEARCH;
  Vu30CaughtError* error = point->error;
  memset(error, 0, sizeof *error);
  error->code = (uint32_t)record->ExceptionCode;
  error->flags = (uint32_t)record->ExceptionFlags;
  error->parameterCount = (uint32_t)record->NumberParameters;
  if (record->NumberParameters >= 3) {
    const char* message = (const char*)record->ExceptionInformation[1];
    const size_t length = (size_t)record->ExceptionInformation[2];
    error->kind = (uint32_t)record->ExceptionInformation[0];
    error->messageLength = length;
    if (message != NULL) {
      const size_t copied = length < sizeof error->message ? length : sizeof error->message - 1;
      memcpy(error->message, message, copied);
      error->messageTerminated = message[length] == '\0';
    }
  }
  __builtin_longjmp(point->jump, 1);
}

static INIT_ONCE gHandlerOnce = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK AddHandler(PINIT_ONCE once, PVOID parameter, PVOID* context) {
  (void)once;
  (void)parameter;
  (void)context;
  return AddVectoredExceptionHandler(1, OnException) != NULL;
}

int vu30_catch_call(void (*fn)(void* context), void* context, Vu30CaughtError* error) {
  if (!InitOnceExecuteOnce(&gHandlerOnce, AddHandler, NULL, NULL)) {
    fn(context); /* no handler: the exception goes on to the host's others */
    return 0;
  }
  CatchPoint point;
  CatchPoint* volatile outer = tCatchPoint;
  point.error = error;
  if (__builtin_setjmp(point.jump) == 0) {
    tCatchPoint = &point;
    fn(context);
    tCatchPoint = outer;
    return 0;
  }
  tCatchPoint = outer;
  return 1;
}
