/* SPDX-License-Identifier: MIT */
/*
 * A host in plain C whose exceptions are caught by handlers in its own
 * frames, below the library's, as a compiler's try puts them there. It
 * checks what such a host gets:
 *  - an MSVC-shaped throw (its object in the raising frame) raised in
 *    CreateItem and in OpenPost's registrations reaches the host's catch
 *    with the object intact, the library having let go of what it held
 *    (the host's floating-point state, a later call's state in Transact, a
 *    later AddMenuEntry, Destroy);
 *  - a continued exception resumes the host and the call returns normally;
 *  - a throw in SetReplyChecker during OpenPost's state request, a step
 *    whose errors the library drops, does not reach the host;
 *  - a host exception raised in the host's window procedure while the
 *    library's dialog runs is raised again from the menu click, and the
 *    click, run deeper on the stack, leaves nothing registered: a throw that
 *    passes OpenPost afterwards leaves the driver destroyable from outside;
 *  - a reply check handed a buffer that cannot be read rejects the reply,
 *    from inside Transact and from outside, and leaves nothing held;
 *  - on i686, an unmasked x87 exception the host left pending fires in the
 *    host's code after PollDispense, not inside the library;
 *  - with the line trace between the library and the host's dispatcher, a
 *    throw and a continued exception in OpenPost's registration pass the
 *    trace as they pass the library, and the trace still closes (every
 *    call it recorded has left it).
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "c_host_windows.h"
#include "vu30.h"
#include "vu30_catch.h"

#define HOST_EXCEPTION 0x0EEDFADEu
#define MSVC_EXCEPTION 0xE06D7363u
#define MSVC_MAGIC 0x19930520u
#define THROWN_TEXT "object thrown by the host"
#define POST 3

/* ------------------------------------------------------------------------ */
/* Floating-point state, as the host sets it.                                */

/* The host's own state in these tests: 64-bit precision, flush to zero. */
#define HOST_CONTROL 0x037Fu
#define HOST_MXCSR 0x9F80u

static int HostFpStateIsBack(void) {
  return ReadX87Control() == HOST_CONTROL && ReadMxcsr() == HOST_MXCSR;
}

/* ------------------------------------------------------------------------ */
/* The host's catch: a handler in the host's frame below the library's.      */

typedef struct Thrown {
  uint32_t magic;
  char text[32];
} Thrown;

static struct {
  DWORD code;      /* the exception the handler is for */
  int continueIt;  /* continue it in the search instead of catching */
  int sightings;   /* times the handler saw it in the search */
  int caught;      /* the catch ran */
  ULONG_PTR magic; /* the parameter and the object, as the catch read them */
  Thrown object;
} gTry;

/* Reads the exception's object as a C++ catch does, after the frames above
 * the catching frame have been unwound and before the stack is cut back. */
static void CatchReads(const EXCEPTION_RECORD* r) {
  gTry.caught = 1;
  if (r->ExceptionCode != MSVC_EXCEPTION || r->NumberParameters < 2) return;
  gTry.magic = r->ExceptionInformation[0];
  memcpy(&gTry.object, (const void*)r->ExceptionInformation[1], sizeof gTry.object);
}

#if defined(__i386__)

static void* volatile gTryJump[5];

static NT_TIB* ThreadInformation(void) {
  NT_TIB* information;
  __asm__("movl %%fs:0x18, %0" : "=r"(information));
  return information;
}

/* RtlUnwind does not keep ebx, esi and edi: saved around it. */
static void UnwindTo(void* frame, EXCEPTION_RECORD* r) {
  __typeof__(&RtlUnwind) unwind = &RtlUnwind;
  __asm__ __volatile__(
      "pushl %%ebp\n\tpushl %%ebx\n\tpushl %%esi\n\tpushl %%edi\n\t"
      "pushl $0\n\tpushl %1\n\tpushl $0\n\tpushl %0\n\tcall *%2\n\t"
      "popl %%edi\n\tpopl %%esi\n\tpopl %%ebx\n\tpopl %%ebp"
      :
      : "r"(frame), "r"(r), "r"(unwind)
      : "eax", "ecx", "edx", "memory", "cc");
}

static EXCEPTION_DISPOSITION NTAPI TryHandler(EXCEPTION_RECORD* r, void* frame, CONTEXT* c,
                                              void* d) {
  (void)c;
  (void)d;
  if ((r->ExceptionFlags & 0x66) != 0 || r->ExceptionCode != gTry.code) {
    return ExceptionContinueSearch;
  }
  ++gTry.sightings;
  if (gTry.continueIt) return ExceptionContinueExecution;
  UnwindTo(frame, r);
  CatchReads(r);
  __builtin_longjmp((void**)gTryJump, 1);
}

/* Runs fn(context) under the host's handler; 1 when it caught. */
static int HostTry(void (*fn)(void*), void* context) {
  volatile EXCEPTION_REGISTRATION_RECORD registration;
  registration.Handler = (PEXCEPTION_ROUTINE)(void (*)(void)) & TryHandler;
  registration.Next = ThreadInformation()->ExceptionList;
  if (__builtin_setjmp((void**)gTryJump) != 0) {
    ThreadInformation()->ExceptionList = registration.Next;
    return 1;
  }
  *(EXCEPTION_REGISTRATION_RECORD* volatile*)&ThreadInformation()->ExceptionList =
      (EXCEPTION_REGISTRATION_RECORD*)&registration;
  fn(context);
  *(EXCEPTION_REGISTRATION_RECORD* volatile*)&ThreadInformation()->ExceptionList =
      registration.Next;
  return 0;
}

#else

int host_try_call(void (*fn)(void*), void* context);
extern char host_try_landing[];
EXCEPTION_DISPOSITION host_try_handler(EXCEPTION_RECORD* r, void* frame, CONTEXT* c,
                                       DISPATCHER_CONTEXT* d);

__asm__(
    ".text\n"
    ".globl host_try_call\n"
    ".def host_try_call; .scl 2; .type 32; .endef\n"
    ".seh_proc host_try_call\n"
    "host_try_call:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler host_try_handler, @except, @unwind\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  callq *%rax\n"
    "  xorl %eax, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".globl host_try_landing\n"
    "host_try_landing:\n"
    "  movl $1, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".seh_endproc\n");

EXCEPTION_DISPOSITION host_try_handler(EXCEPTION_RECORD* r, void* frame, CONTEXT* c,
                                       DISPATCHER_CONTEXT* d) {
  if ((r->ExceptionFlags & EXCEPTION_TARGET_UNWIND) != 0) {
    /* The frames above have been unwound; the stack is still whole. */
    CatchReads(r);
    return ExceptionContinueSearch;
  }
  if ((r->ExceptionFlags & 0x66) != 0 || r->ExceptionCode != gTry.code) {
    return ExceptionContinueSearch;
  }
  ++gTry.sightings;
  if (gTry.continueIt) return ExceptionContinueExecution;
  RtlUnwindEx(frame, (void*)host_try_landing, r, NULL, c, d->HistoryTable);
  return ExceptionContinueSearch; /* not reached */
}

static int HostTry(void (*fn)(void*), void* context) { return host_try_call(fn, context); }

#endif

/* Arms the host's handler for code; continueIt says whether it continues. */
static void ArmTry(DWORD code, int continueIt) {
  memset(&gTry, 0, sizeof gTry);
  gTry.code = code;
  gTry.continueIt = continueIt;
}

/* ------------------------------------------------------------------------ */
/* The host's raises.                                                        */

enum Raise { kNoRaise, kRaiseMsvc, kRaiseContinuable };

/* An MSVC throw: the object lives in this frame, the parameters point at it
 * (x64 adds the image base). Deep enough that a frame of the library's
 * reused below the raise would overwrite it. */
static __attribute__((noinline)) void ThrowLikeMsvc(void) {
  volatile char padding[256];
  Thrown object;
  object.magic = MSVC_MAGIC;
  memset(object.text, 0, sizeof object.text);
  strcpy(object.text, THROWN_TEXT);
  padding[0] = 0;
  const ULONG_PTR parameters[4] = {MSVC_MAGIC, (ULONG_PTR)&object, 0, 0};
  RaiseException(MSVC_EXCEPTION, EXCEPTION_NONCONTINUABLE, sizeof(void*) == 8 ? 4 : 3, parameters);
  (void)padding[0];
}

static volatile int gResumed; /* the host's code went on after a continued raise */

static void HostRaises(LONG* which) {
  switch (InterlockedExchange(which, kNoRaise)) {
    case kRaiseMsvc:
      ThrowLikeMsvc();
      break;
    case kRaiseContinuable: {
      const ULONG_PTR parameters[2] = {0x1234, 0x5678};
      RaiseException(HOST_EXCEPTION, 0, 2, parameters);
      gResumed = 1;
      break;
    }
    default:
      break;
  }
}

/* ------------------------------------------------------------------------ */
/* The host's dispatcher: acknowledges every request.                        */

static struct {
  volatile LONG raiseInSetReplyChecker;
  volatile LONG raiseInSetPostInit;
  volatile LONG raiseInSetMessageHook;
  volatile int badBufferInTransact; /* the next exchange checks an unreadable buffer */
  int checkAccepted;
  unsigned short controlInTransact;
  unsigned mxcsrInTransact;
} D;

static uint8_t* const kBadBuffer = (uint8_t*)(ULONG_PTR)0x10;

/* Calls the channel's checker as a dispatcher does. */
static int CheckWith(uint8_t channel, uint8_t* buffer, uint8_t count) {
  const Vu30BoundMethod m = gChannels.checker[channel & 31];
  if (m.code == NULL) return -1;
  Vu30CheckReplyFn check;
  memcpy(&check, &m.code, sizeof check);
  uint8_t expected = count;
  return check(m.data, channel, buffer, 0, &count, &expected) ? 1 : 0;
}

static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                  const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                  uint8_t replyLength, uint8_t replyType) {
  (void)self;
  (void)lineAddress;
  (void)request;
  (void)requestLength;
  (void)replyType;
  D.controlInTransact = ReadX87Control();
  D.mxcsrInTransact = ReadMxcsr();
  if (replyLength == 0 || reply == NULL) return 0;
  if (D.badBufferInTransact) {
    D.badBufferInTransact = 0;
    D.checkAccepted = CheckWith(channel, kBadBuffer, replyLength);
    return 0;
  }
  /* A reply of the awaited length: digits 1, 2, 3, ... closed by 0. */
  for (int i = 0; i + 1 < replyLength; ++i) reply[i] = Encode((uint8_t)((i + 1) % 10));
  reply[replyLength - 1] = 0;
  D.checkAccepted = CheckWith(channel, reply, replyLength);
  return 0;
}
static void VU30_CALL SetMessageHook(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  (void)self;
  (void)post;
  (void)method;
  HostRaises((LONG*)&D.raiseInSetMessageHook);
}
static void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                      Vu30BoundMethod method) {
  HostRaises((LONG*)&D.raiseInSetReplyChecker);
  HostSetReplyChecker(self, channel, method);
}
static void VU30_CALL SetPostInit(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  (void)self;
  (void)post;
  (void)method;
  HostRaises((LONG*)&D.raiseInSetPostInit);
}

/* ------------------------------------------------------------------------ */
/* The host's menu items.                                                    */

static volatile LONG gRaiseInCreateItem;

static Vu30MenuItem* VU30_CALL CreateItem(Vu30MenuItem* parent, int32_t index) {
  (void)parent;
  (void)index;
  HostRaises((LONG*)&gRaiseInCreateItem);
  return &gCreated.base;
}

/* ------------------------------------------------------------------------ */

static Vu30Driver* gDriver;

static void AddMenuEntry(void* context) {
  (void)context;
  gDriver->table->AddMenuEntry(gDriver, &gParent.base, CreateItem);
}
static void OpenPost(void* context) {
  (void)context;
  gDriver->table->OpenPost(gDriver, POST);
}
static void SetPrice(void* context) {
  (void)context;
  gDriver->table->SetPrice(gDriver, POST, 0, 1, 0, 0, 12.34);
}

/* A later table call sees the host's own state inside its Transact. */
static void ExpectHostStateInTransact(const char* what) {
  Vu30CaughtError error;
  D.controlInTransact = 0;
  Check(!vu30_catch_call(SetPrice, NULL, &error) && D.controlInTransact == HOST_CONTROL &&
            D.mxcsrInTransact == HOST_MXCSR,
        what);
  if (D.controlInTransact != HOST_CONTROL || D.mxcsrInTransact != HOST_MXCSR) {
    printf("  in Transact: control word %04X, MXCSR %04X\n", D.controlInTransact,
           D.mxcsrInTransact);
  }
}

static void ExpectThrownObjectIntact(const char* what) {
  char name[160];
  snprintf(name, sizeof name, "%s: the host's catch runs", what);
  Check(gTry.caught && gTry.sightings == 1, name);
  snprintf(name, sizeof name, "%s: the object is intact at the host's catch", what);
  Check(gTry.magic == MSVC_MAGIC && gTry.object.magic == MSVC_MAGIC &&
            strcmp(gTry.object.text, THROWN_TEXT) == 0,
        name);
  if (gTry.object.magic != MSVC_MAGIC) {
    printf("  magic %08lX, text \"%.31s\"\n", (unsigned long)gTry.object.magic, gTry.object.text);
  }
  snprintf(name, sizeof name, "%s: the host's floating-point state is back", what);
  Check(HostFpStateIsBack(), name);
}

static void MsvcThrowInCreateItem(void) {
  ArmTry(MSVC_EXCEPTION, 0);
  gRaiseInCreateItem = kRaiseMsvc;
  Check(HostTry(AddMenuEntry, NULL) == 1, "an MSVC throw in CreateItem reaches the host's catch");
  ExpectThrownObjectIntact("CreateItem");
  ExpectHostStateInTransact("after the throw in CreateItem, Transact runs in the host's state");
}

/* After the throw the entry is still to be added: the continued raise in
 * CreateItem resumes the host, and the entry is added. */
static void ContinuedInCreateItem(void) {
  ArmTry(HOST_EXCEPTION, 1);
  gResumed = 0;
  gRaiseInCreateItem = kRaiseContinuable;
  gCreated.set[0] = '\0';
  Check(HostTry(AddMenuEntry, NULL) == 0 && gTry.sightings == 1 && gResumed &&
            gCreated.set[0] != '\0',
        "a continued exception in CreateItem resumes the host and the entry is added");
  Check(HostFpStateIsBack(), "the host's state is back after a continued exception");
}

static void MsvcThrowInOpenPost(volatile LONG* site, const char* what) {
  ArmTry(MSVC_EXCEPTION, 0);
  *site = kRaiseMsvc;
  Check(HostTry(OpenPost, NULL) == 1, what);
  ExpectThrownObjectIntact(what);
  ExpectHostStateInTransact("after a throw in OpenPost, Transact runs in the host's state");
}

static void ContinuedInOpenPost(void) {
  ArmTry(HOST_EXCEPTION, 1);
  gResumed = 0;
  D.raiseInSetMessageHook = kRaiseContinuable;
  Check(HostTry(OpenPost, NULL) == 0 && gTry.sightings == 1 && gResumed,
        "a continued exception in SetMessageHook resumes the host and OpenPost returns");
  ExpectHostStateInTransact("after a continued exception, Transact runs in the host's state");
}

/* A throw that passes on from OpenPost's registrations ends the library's
 * frames without their destructors: nothing of them may stay marked as
 * inside the driver's exchange, so the driver is destroyed from outside
 * right after it. A driver of its own, as this one is gone afterwards. */
static void DestroyDriver(void* context) {
  Vu30Driver* driver = (Vu30Driver*)context;
  driver->table->Destroy(driver);
}

static void DestroyRightAfterAThrowInOpenPost(Vu30GetVU30Fn getVu30, Vu30Dispatcher* dispatcher) {
  Vu30Driver* kept = gDriver;
  Vu30CaughtError error;
  gDriver = getVu30(0, NULL, dispatcher);
  ArmTry(MSVC_EXCEPTION, 0);
  D.raiseInSetPostInit = kRaiseMsvc;
  Check(HostTry(OpenPost, NULL) == 1, "an MSVC throw in another driver's SetPostInit");
  Check(vu30_catch_call(DestroyDriver, gDriver, &error) == 0,
        "that driver is destroyed from outside right after the throw");
  gDriver = kept;
}

/* OpenPost's state request drops every error of its own (no cnf.INI: the
 * post has the default type, whose state request is made). */
static void ThrowInTheStateRequestsRegistration(void) {
  ArmTry(MSVC_EXCEPTION, 0);
  D.raiseInSetReplyChecker = kRaiseMsvc;
  Check(HostTry(OpenPost, NULL) == 0 && gTry.sightings == 0 && D.raiseInSetReplyChecker == kNoRaise,
        "a throw in SetReplyChecker during OpenPost's state request does not reach the host");
  Check(HostFpStateIsBack(), "the host's state is back after OpenPost");
  ExpectHostStateInTransact(
      "after the throw in the state request, Transact runs in the host's state");
}

/* The host's window, whose procedure raises on a message of its own. */
#define WM_HOST_RAISES (WM_APP + 1)

static LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_HOST_RAISES) {
    const ULONG_PTR parameters[2] = {0x1234, 0x5678};
    RaiseException(HOST_EXCEPTION, EXCEPTION_NONCONTINUABLE, 2, parameters);
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

/* The host's menu calls the library's click from deeper on the stack than
 * the host's later calls. */
static __attribute__((noinline)) void ClickDeep(void* context) {
  (void)context;
  volatile char depth[16384];
  depth[0] = 0;
  Vu30MenuClickFn click;
  memcpy(&click, &gCreated.onClick.code, sizeof click);
  click(gCreated.onClick.data, &gCreated.base);
  (void)depth[0];
}

/* The dialog's modal loop dispatches the host's message: the host's
 * exception ends the dialog and is raised again from the click. The dialog
 * has no owner here (GetVU30 was given no window): Wine 8 would swallow an
 * exception from a window procedure that EnableWindow reaches. */
static void HostExceptionFromTheClick(void) {
  WNDCLASSA windowClass;
  memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = "vu30.PassthroughHost";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("vu30.PassthroughHost", "Host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              NULL, NULL, windowClass.hInstance, NULL);
  Check(window != NULL && gCreated.onClick.code != NULL,
        "the host's window and the library's menu entry are there");
  if (window == NULL || gCreated.onClick.code == NULL) return;
  PostMessageA(window, WM_HOST_RAISES, 0, 0);
  /* The system's window code may have raised flags of its own. */
  WriteMxcsr(HOST_MXCSR);
  WriteX87Control(HOST_CONTROL);
  ArmTry(HOST_EXCEPTION, 0);
  Check(HostTry(ClickDeep, NULL) == 1 && gTry.sightings == 1,
        "a host exception in its window procedure while the dialog runs is raised from the click");
  Check(HostFpStateIsBack(), "the host's state is back after the click");
  DestroyWindow(window);
}

static void BadBufferInReplyCheck(void) {
  Vu30CaughtError error;
  D.checkAccepted = -1;
  D.badBufferInTransact = 1;
  /* The exchange's reply check faults on the buffer inside the library. */
  Check(!vu30_catch_call(SetPrice, NULL, &error) && D.checkAccepted == 0,
        "a reply check on an unreadable buffer inside Transact rejects it");
  Check(HostFpStateIsBack(), "the host's state is back after the faulted check");
  /* From outside every call of the library, on the host's own thread. */
  int accepted = -1;
  for (int c = 0; c < 32 && accepted == -1; ++c) {
    if (gChannels.checker[c].code != NULL) accepted = CheckWith((uint8_t)c, kBadBuffer, 4);
  }
  Check(accepted == 0, "a reply check on an unreadable buffer from outside rejects it");
  Check(HostFpStateIsBack(), "the host's state is back after the check");
  ExpectHostStateInTransact("after the faulted checks, Transact runs in the host's state");
}

static void GetDriverInfoIntoBadBuffer(void* context) {
  (void)context;
  gDriver->table->GetDriverInfo(kBadBuffer, gDriver);
}

/* A table function handed a pointer it cannot write through raises the
 * library's exception of kind 4, and leaves nothing held. */
static void BadPointerToATableFunction(void) {
  Vu30CaughtError error;
  Check(vu30_catch_call(GetDriverInfoIntoBadBuffer, NULL, &error) &&
            error.kind == VU30_ERROR_FAILURE && strstr(error.message, "0xC0000005") != NULL,
        "a table function writing through a bad pointer raises kind 4");
  Check(HostFpStateIsBack(), "the host's state is back after the faulted table function");
  ExpectHostStateInTransact("after the faulted table function, Transact runs in the host's state");
}

#if defined(__i386__)

static volatile int gTraps;
static void* volatile gTrapAddress;
static HMODULE gLibrary;

/* Notes where the x87 trap fires and clears the pending flags so that the
 * instruction can run again. */
static LONG CALLBACK OnX87Trap(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_FLT_DIVIDE_BY_ZERO && code != EXCEPTION_FLT_INVALID_OPERATION &&
      code != EXCEPTION_FLT_INEXACT_RESULT) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* c = info->ContextRecord;
  /* Where it fires: the waiting instruction (the exception's address is
   * the x87 unit's last instruction, which may be the library's). */
  if (++gTraps == 1) gTrapAddress = (void*)(ULONG_PTR)c->Eip;
  c->FloatSave.StatusWord &= ~0x80FFu;
  c->FloatSave.ControlWord |= 0x3Fu;
  WORD* fxStatus = (WORD*)(c->ExtendedRegisters + 2);
  WORD* fxControl = (WORD*)(c->ExtendedRegisters + 0);
  *fxStatus &= (WORD)~0x80FFu;
  *fxControl |= 0x3Fu;
  return EXCEPTION_CONTINUE_EXECUTION;
}

static HMODULE ModuleOf(void* address) {
  HMODULE module = NULL;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      (LPCSTR)address, &module);
  return module;
}

/* The host's x87 state: zero-divide unmasked, its flag pending. */
static void SetPendingZeroDivide(void) {
  struct {
    uint32_t control, status, rest[5];
  } environment;
  __asm__ __volatile__("fnstenv %0" : "=m"(environment));
  environment.control = (environment.control & 0xFFFF0000u) | (HOST_CONTROL & ~0x04u);
  environment.status |= 0x84u; /* ZE and the summary bit */
  __asm__ __volatile__("fldenv %0" : : "m"(environment));
}

static volatile double gPolled;

static void PendingX87Exception(void) {
  void* handler = AddVectoredExceptionHandler(1, OnX87Trap);
  double money = 0;
  gTraps = 0;
  gTrapAddress = NULL;
  SetPendingZeroDivide();
  gPolled = gDriver->table->PollDispense(gDriver, POST, 1, &money);
  WriteX87Control(HOST_CONTROL);
  RemoveVectoredExceptionHandler(handler);
  Check(gTraps >= 1, "the host's pending zero-divide traps after PollDispense");
  Check(gTrapAddress != NULL && ModuleOf(gTrapAddress) != gLibrary,
        "the trap fires in the host's code, not inside vu30.dll");
  if (gTrapAddress != NULL && ModuleOf(gTrapAddress) == gLibrary) {
    printf("  trap at %p inside vu30.dll\n", gTrapAddress);
  }
}

#endif

/* The trace's exports, looked up as a host that may run without it does. */
typedef Vu30Dispatcher*(VU30_CALL* TraceOpenFn)(Vu30Dispatcher* inner, const char* path,
                                                uint32_t options);
typedef void(VU30_CALL* TraceCloseFn)(Vu30Dispatcher* traced);

static void ThroughTheTrace(Vu30GetVU30Fn getVu30, Vu30Dispatcher* dispatcher) {
  HMODULE trace = LoadLibraryA("vu30-trace.dll");
  Check(trace != NULL, "vu30-trace.dll loads");
  if (trace == NULL) return;
  TraceOpenFn open = (TraceOpenFn)(void (*)(void))GetProcAddress(trace, "vu30_trace_open");
  TraceCloseFn close = (TraceCloseFn)(void (*)(void))GetProcAddress(trace, "vu30_trace_close");
  char path[MAX_PATH + 32];
  const DWORD n = GetTempPathA(MAX_PATH, path);
  snprintf(path + n, sizeof path - n, "vu30-passthrough-%lu.trace",
           (unsigned long)GetCurrentProcessId());
  Vu30Dispatcher* traced = open != NULL && close != NULL ? open(dispatcher, path, 0) : NULL;
  Check(traced != NULL, "the trace opens around the host's dispatcher");
  if (traced != NULL) {
    Vu30Driver* kept = gDriver;
    gDriver = getVu30(0, NULL, traced);
    Check(gDriver != NULL, "GetVU30 creates on the traced dispatcher");
    if (gDriver != NULL) {
      MsvcThrowInOpenPost(&D.raiseInSetMessageHook,
                          "through the trace, an MSVC throw in SetMessageHook");
      ContinuedInOpenPost();
      gDriver->table->Destroy(gDriver);
    }
    gDriver = kept;
    /* Returns only when no call is left inside the trace's gates. */
    close(traced);
  }
  DeleteFileA(path);
  FreeLibrary(trace);
}

int main(void) {
  setvbuf(stdout, NULL, _IONBF, 0);
  HMODULE library = LoadLibraryA("vu30.dll");
  Check(library != NULL, "vu30.dll loads");
  if (library == NULL) return 1;
  Vu30GetVU30Fn getVu30 = (Vu30GetVU30Fn)(void (*)(void))GetProcAddress(library, "GetVU30");
  if (getVu30 == NULL) return 1;
#if defined(__i386__)
  gLibrary = library;
#endif
  CHostMenuItems();
  Vu30DispatcherTable table;
  CHostDispatcher(&table, Transact);
  table.SetMessageHook = SetMessageHook;
  table.SetPostInit = SetPostInit;
  table.SetReplyChecker = SetReplyChecker;
  Vu30Dispatcher dispatcher = {&table};

  WriteMxcsr(HOST_MXCSR);
  WriteX87Control(HOST_CONTROL);
  gDriver = getVu30(0, NULL, &dispatcher);
  Check(gDriver != NULL, "GetVU30 creates");
  if (gDriver == NULL) return 1;

  MsvcThrowInCreateItem();
  ContinuedInCreateItem();
  MsvcThrowInOpenPost(&D.raiseInSetPostInit, "an MSVC throw in SetPostInit");
  MsvcThrowInOpenPost(&D.raiseInSetMessageHook, "an MSVC throw in SetMessageHook");
  ContinuedInOpenPost();
  ThrowInTheStateRequestsRegistration();
  BadBufferInReplyCheck();
  BadPointerToATableFunction();
#if defined(__i386__)
  PendingX87Exception();
#else
  printf("skipped: a pending x87 exception (the host's x87 state only matters on i686)\n");
#endif
  HostExceptionFromTheClick();
  DestroyRightAfterAThrowInOpenPost(getVu30, &dispatcher);
  ThroughTheTrace(getVu30, &dispatcher);
  /* Returns only when no call is left counted inside the driver's gates. */
  gDriver->table->Destroy(gDriver);
  FreeLibrary(library);
  return CheckSummary();
}
