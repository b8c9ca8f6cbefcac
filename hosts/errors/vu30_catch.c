/* SPDX-License-Identifier: MIT */
/*
 * The catch is a frame-based handler of the system's own exception handling,
 * in the frame of vu30_catch_call, as a compiler's __try/__except puts one
 * there: the search reaches it only after every handler in the frames above
 * it, the library's included. When the library's exception reaches it, the
 * frames above are unwound (RtlUnwind, RtlUnwindEx) before the catch
 * resumes: each handler there sees the unwind and gives back what its frame
 * held, and the library's frames end as it means them to, also when the
 * exception comes from a table call nested inside a call the library made
 * into the host.
 *  - i686: a registration record pushed on the thread's handler chain
 *    (fs:[0]) for the duration of the call; its handler unwinds the frames
 *    above it and resumes the call through __builtin_setjmp/longjmp;
 *  - x86_64: a function whose unwind data names the handler; the handler
 *    unwinds to a landing point inside it.
 */
#include "vu30_catch.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "vu30.h"

/* The bits of ExceptionFlags that mark the unwinding passes. */
#define UNWIND_FLAGS 0x66u

/* [snippet:recognize] */
static int IsLibraryError(const EXCEPTION_RECORD* record) {
  return (record->ExceptionFlags & UNWIND_FLAGS) == 0 && record->ExceptionCode == VU30_ERROR_CODE;
}

/* Copies what the exception tells while its message is still where the
 * record points. */
static void Keep(const EXCEPTION_RECORD* record, Vu30CaughtError* error) {
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
}
/* [/snippet] */

#if defined(__i386__)

typedef struct CatchRegistration {
  EXCEPTION_REGISTRATION_RECORD chain; /* first: the chain points at it */
  void* resume[5];                     /* __builtin_setjmp's buffer */
  Vu30CaughtError* error;
} CatchRegistration;

static NT_TIB* ThreadInformation(void) {
  NT_TIB* information;
  __asm__("movl %%fs:0x18, %0" : "=r"(information));
  return information;
}

static void SetHandlerChain(EXCEPTION_REGISTRATION_RECORD* head) {
  *(EXCEPTION_REGISTRATION_RECORD* volatile*)&ThreadInformation()->ExceptionList = head;
}

/* RtlUnwind does not keep ebx, esi and edi: saved around it. */
static void UnwindFramesAbove(void* frame, EXCEPTION_RECORD* record) {
  __typeof__(&RtlUnwind) unwind = &RtlUnwind;
  __asm__ __volatile__(
      "pushl %%ebp\n\tpushl %%ebx\n\tpushl %%esi\n\tpushl %%edi\n\t"
      "pushl $0\n\tpushl %1\n\tpushl $0\n\tpushl %0\n\tcall *%2\n\t"
      "popl %%edi\n\tpopl %%esi\n\tpopl %%ebx\n\tpopl %%ebp"
      :
      : "r"(frame), "r"(record), "r"(unwind)
      : "eax", "ecx", "edx", "memory", "cc");
}

static EXCEPTION_DISPOSITION NTAPI OnException(EXCEPTION_RECORD* record, void* frame,
                                               CONTEXT* context, void* dispatcher) {
  (void)context;
  (void)dispatcher;
  if (!IsLibraryError(record)) return ExceptionContinueSearch;
  CatchRegistration* registration = (CatchRegistration*)frame;
  Keep(record, registration->error);
  UnwindFramesAbove(frame, record);
  __builtin_longjmp(registration->resume, 1);
}

int vu30_catch_call(void (*fn)(void* context), void* context, Vu30CaughtError* error) {
  CatchRegistration registration;
  registration.error = error;
  registration.chain.Handler = (PEXCEPTION_ROUTINE)(void (*)(void)) & OnException;
  registration.chain.Next = ThreadInformation()->ExceptionList;
  if (__builtin_setjmp(registration.resume) != 0) {
    /* The unwind has left this registration at the head of the chain. */
    SetHandlerChain(registration.chain.Next);
    return 1;
  }
  SetHandlerChain(&registration.chain);
  fn(context);
  SetHandlerChain(registration.chain.Next);
  return 0;
}

#elif defined(__x86_64__)

/* In the assembly below: the error's address is kept at the frame (rsp after
 * the prologue) + 32, above the callee's home space. */
int vu30_catch_frame(void (*fn)(void*), void* context, Vu30CaughtError* error);
void vu30_catch_landing(void);
EXCEPTION_DISPOSITION vu30_catch_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                         DISPATCHER_CONTEXT* dispatcher);

__asm__(
    ".text\n"
    ".globl vu30_catch_frame\n"
    ".def vu30_catch_frame; .scl 2; .type 32; .endef\n"
    ".seh_proc vu30_catch_frame\n"
    "vu30_catch_frame:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler vu30_catch_handler, @except\n"
    "  movq %r8, 32(%rsp)\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  callq *%rax\n"
    "  xorl %eax, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".globl vu30_catch_landing\n"
    "vu30_catch_landing:\n"
    "  movl $1, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".seh_endproc\n");

EXCEPTION_DISPOSITION vu30_catch_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                         DISPATCHER_CONTEXT* dispatcher) {
  if (!IsLibraryError(record)) return ExceptionContinueSearch;
  Keep(record, *(Vu30CaughtError**)((char*)frame + 32));
  RtlUnwindEx(frame, (void*)(uintptr_t)&vu30_catch_landing, record, NULL, context,
              dispatcher->HistoryTable);
  abort(); /* RtlUnwindEx does not return */
}

int vu30_catch_call(void (*fn)(void* context), void* context, Vu30CaughtError* error) {
  return vu30_catch_frame(fn, context, error);
}

#else
#error "the catch is made for i686 and x86_64"
#endif
