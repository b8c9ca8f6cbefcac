// SPDX-License-Identifier: MIT
// The guard around a call into the host, made of the system's own
// frame-based exception handling, so that it sees every structured exception
// the host's code lets out, whatever compiler or language raised it:
//  - i686: a registration record pushed on the thread's handler chain
//    (fs:[0]) for the duration of the call; its handler unwinds the frames
//    above it with RtlUnwind and resumes the guard through
//    __builtin_setjmp/__builtin_longjmp;
//  - x86_64: a function whose unwind data names the handler; the handler
//    unwinds to a landing point inside it with RtlUnwindEx.
// Either way the host's own handlers and cleanups between the guard and the
// raise run, as the system runs them for any handler that takes an exception.
// A guard that takes an exception runs the releases registered above it
// (host_entry.h) once the unwind has passed every frame above it, and
// before the stack is cut back to the guard: until then the frames above
// stay as they were (a host's cleanup in Transact still runs inside the
// exchange), and should the unwind never arrive (a host's handler above the
// guard took an exception raised by a cleanup) nothing is released.
//
// The passing guard (PassingCall) is made the same way but takes nothing: in
// the search it marks the exception as passing, so that the entry's own
// guard below lets it go on too; when an unwind crosses it (the host's
// handler took the exception below the entry) it ends the entry: the
// entry's releases run.
#include <malloc.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/call_into_host.h"

namespace vu30::platform {

namespace {

// The bits of ExceptionFlags that mark the unwinding passes, in which a
// handler only lets the unwind go on (unwinding, exit unwind, target unwind,
// collided unwind).
constexpr DWORD kUnwindFlags = 0x66;

// The codes of the C++ runtime's own exceptions on their way to a catch of
// the library: 'GCC' with the customer bit, the kind in the top nibble.
constexpr DWORD kCxxCodeMask = 0x20FFFFFF;
constexpr DWORD kCxxCode = 0x20474343;

// The exception a passing guard of this thread let go on, until it is
// continued or its unwind crosses the guard.
thread_local const EXCEPTION_RECORD* tPassing = nullptr;

// What a taking guard knows of the thread when it was set up.
struct GuardState {
  HostExceptionRecord* record;
  bool entry;  // an entry's guard: lets passing exceptions go on
  ReleaseOnFault* releaseMark;
  const HostEntry* innermostEntry;
  bool taken;  // the guard took an exception and unwinds to itself
};

GuardState NewGuardState(HostExceptionRecord& record, bool entry) {
  return GuardState{&record, entry, InnermostRelease(), HostEntry::Innermost(), false};
}

bool Takes(const GuardState& guard, const EXCEPTION_RECORD& exception) {
  if (!guard.entry) return true;
  if ((exception.ExceptionCode & kCxxCodeMask) == kCxxCode) return false;
  return &exception != tPassing;
}

// A taking guard's handler, once its unwind has passed the frames above the
// guard, while it still runs below them on the stack (so their memory is as
// the unwind left it): what they held is given back.
void AfterUnwind(const GuardState& guard) { RunReleasesAbove(guard.releaseMark); }

// After the unwind to a taking guard: the entries made above it have
// ended. A stack overflow used up the thread's guard page: it is made again,
// now that the stack is unwound, or else the overflow is passed on (the next
// one would end the process without a word).
void AfterTaken(const GuardState& guard) {
  HostEntry::ResumeAt(guard.innermostEntry);
  tPassing = nullptr;
  if (guard.record->code == static_cast<uint32_t>(STATUS_STACK_OVERFLOW) && _resetstkoflw() == 0) {
    RaiseException(STATUS_STACK_OVERFLOW, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
}

// The passing guard's handler, the same on both processors.
struct PassingState {
  const HostEntry* entry;
  bool ended;
  uint32_t* passedCode;  // optional: the code of what passed
  bool seen;
};

EXCEPTION_DISPOSITION OnPassing(EXCEPTION_RECORD* exception, PassingState& state) {
  if ((exception->ExceptionFlags & kUnwindFlags) != 0) {
    if (!state.ended) {
      state.ended = true;
      tPassing = nullptr;
      if (state.passedCode != nullptr && !state.seen) *state.passedCode = exception->ExceptionCode;
      if (state.entry != nullptr) state.entry->Abandon();
    }
  } else {
    tPassing = exception;
    state.seen = true;
    if (state.passedCode != nullptr) *state.passedCode = exception->ExceptionCode;
  }
  return ExceptionContinueSearch;
}

void Keep(const EXCEPTION_RECORD& from, HostExceptionRecord& to) {
  to.code = from.ExceptionCode;
  to.flags = from.ExceptionFlags;
  to.address = from.ExceptionAddress;
  to.parameterCount = std::min<uint32_t>(
      from.NumberParameters, static_cast<uint32_t>(HostExceptionRecord::kMaxParameters));
  for (uint32_t i = 0; i < to.parameterCount; ++i) to.parameters[i] = from.ExceptionInformation[i];
}

}  // namespace

void RaiseHostException(const HostExceptionRecord& record) {
  ULONG_PTR parameters[HostExceptionRecord::kMaxParameters] = {};
  for (uint32_t i = 0; i < record.parameterCount; ++i) parameters[i] = record.parameters[i];
  // RaiseException takes only the non-continuable flag; the others are the
  // system's own, set again as the exception travels. A handler that
  // continues a non-continuable exception gets another exception instead;
  // one that continues a continuable exception comes back here.
  RaiseException(record.code, record.flags & EXCEPTION_NONCONTINUABLE, record.parameterCount,
                 record.parameterCount != 0 ? parameters : nullptr);
}

#if defined(__i386__)

namespace {

struct Registration {
  EXCEPTION_REGISTRATION_RECORD chain;  // first: the chain points at it
  void* resume[5];                      // __builtin_setjmp's buffer
  GuardState guard;
};

struct PassingRegistration {
  EXCEPTION_REGISTRATION_RECORD chain;  // first: the chain points at it
  PassingState state;
};

// RtlUnwind on x86 does not keep ebx, esi and edi as the calling convention
// asks: they are saved around it here.
void UnwindFramesAbove(Registration* registration, EXCEPTION_RECORD* exception) {
  auto* const unwind = &RtlUnwind;
  __asm__ __volatile__(
      "pushl %%ebp\n\t"
      "pushl %%ebx\n\t"
      "pushl %%esi\n\t"
      "pushl %%edi\n\t"
      "pushl $0\n\t"
      "pushl %1\n\t"
      "pushl $0\n\t"
      "pushl %0\n\t"
      "call *%2\n\t"
      "popl %%edi\n\t"
      "popl %%esi\n\t"
      "popl %%ebx\n\t"
      "popl %%ebp"
      :
      : "r"(registration), "r"(exception), "r"(unwind)
      : "eax", "ecx", "edx", "memory", "cc");
}

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* exception, void* frame,
                                         CONTEXT* /*context*/, void* /*dispatcher*/) {
  if ((exception->ExceptionFlags & kUnwindFlags) != 0) return ExceptionContinueSearch;
  auto* registration = static_cast<Registration*>(frame);
  if (!Takes(registration->guard, *exception)) return ExceptionContinueSearch;
  Keep(*exception, *registration->guard.record);
  // RtlUnwind returns here, on the stack below the unwound frames.
  UnwindFramesAbove(registration, exception);
  AfterUnwind(registration->guard);
  __builtin_longjmp(registration->resume, 1);
}

EXCEPTION_DISPOSITION NTAPI PassingHandler(EXCEPTION_RECORD* exception, void* frame,
                                           CONTEXT* /*context*/, void* /*dispatcher*/) {
  return OnPassing(exception, static_cast<PassingRegistration*>(frame)->state);
}

// The thread's information block, whose first word heads the handler chain
// (read directly: the header's NtCurrentTeb draws a false array-bounds
// warning from the compiler).
NT_TIB* ThreadInformation() {
  NT_TIB* information = nullptr;
  __asm__("movl %%fs:0x18, %0" : "=r"(information));
  return information;
}

void SetHandlerChain(EXCEPTION_REGISTRATION_RECORD* head) {
  *static_cast<EXCEPTION_REGISTRATION_RECORD* volatile*>(&ThreadInformation()->ExceptionList) =
      head;
}

bool TakingCall(void (*fn)(void* context), void* context, const GuardState& guard) {
  Registration registration{};
  registration.guard = guard;
  registration.chain.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
  registration.chain.Next = ThreadInformation()->ExceptionList;
  if (__builtin_setjmp(registration.resume) != 0) {
    // Resumed by the handler: the unwind has left this registration at the
    // head of the chain.
    ThreadInformation()->ExceptionList = registration.chain.Next;
    AfterTaken(registration.guard);
    return false;
  }
  SetHandlerChain(&registration.chain);
  fn(context);
  SetHandlerChain(registration.chain.Next);
  return true;
}

}  // namespace

void PassingCall(void (*fn)(void* context), void* context, uint32_t* passedCode) {
  PassingRegistration registration{};
  registration.state.entry = HostEntry::Innermost();
  registration.state.passedCode = passedCode;
  registration.chain.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&PassingHandler);
  registration.chain.Next = ThreadInformation()->ExceptionList;
  SetHandlerChain(&registration.chain);
  fn(context);
  SetHandlerChain(registration.chain.Next);
  tPassing = nullptr;  // a passing exception that was continued
}

#elif defined(__x86_64__)

extern "C" {
// In the assembly below. Each guard keeps its state's address at its frame
// (the establisher frame, rsp after its prologue) + 32, above the callee's
// home space. Both handlers are called in the search and when an unwind
// crosses their frame.
bool vu30_guarded_call(void (*fn)(void*), void* context, GuardState* guard);
void vu30_guarded_call_landing();
EXCEPTION_DISPOSITION vu30_guard_handler(EXCEPTION_RECORD* exception, void* frame, CONTEXT* context,
                                         DISPATCHER_CONTEXT* dispatcher);
void vu30_passing_call(void (*fn)(void*), void* context, PassingState* state);
EXCEPTION_DISPOSITION vu30_passing_handler(EXCEPTION_RECORD* exception, void* frame,
                                           CONTEXT* context, DISPATCHER_CONTEXT* dispatcher);
}

__asm__(
    ".text\n"
    ".globl vu30_guarded_call\n"
    ".def vu30_guarded_call; .scl 2; .type 32; .endef\n"
    ".seh_proc vu30_guarded_call\n"
    "vu30_guarded_call:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler vu30_guard_handler, @except, @unwind\n"
    "  movq %r8, 32(%rsp)\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  callq *%rax\n"
    "  movl $1, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".globl vu30_guarded_call_landing\n"
    "vu30_guarded_call_landing:\n"
    "  xorl %eax, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".seh_endproc\n"
    // The passing guard: its handler is called in the search and when an
    // unwind crosses it.
    ".globl vu30_passing_call\n"
    ".def vu30_passing_call; .scl 2; .type 32; .endef\n"
    ".seh_proc vu30_passing_call\n"
    "vu30_passing_call:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler vu30_passing_handler, @except, @unwind\n"
    "  movq %r8, 32(%rsp)\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  callq *%rax\n"
    "  nop\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION vu30_guard_handler(EXCEPTION_RECORD* exception, void* frame,
                                                    CONTEXT* context,
                                                    DISPATCHER_CONTEXT* dispatcher) {
  auto* guard = *reinterpret_cast<GuardState**>(static_cast<char*>(frame) + 32);
  if ((exception->ExceptionFlags & kUnwindFlags) != 0) {
    // Its own unwind has reached the guard: every frame above is unwound,
    // and RtlUnwindEx, still running below them, has not yet cut the stack
    // back. Any other unwind (a C++ exception of the library's on its way
    // to a catch below) only passes.
    if ((exception->ExceptionFlags & EXCEPTION_TARGET_UNWIND) != 0 && guard->taken) {
      guard->taken = false;
      AfterUnwind(*guard);
    }
    return ExceptionContinueSearch;
  }
  if (!Takes(*guard, *exception)) return ExceptionContinueSearch;
  Keep(*exception, *guard->record);
  guard->taken = true;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&vu30_guarded_call_landing), exception, nullptr,
              context, dispatcher->HistoryTable);
  std::abort();  // RtlUnwindEx does not return
}

extern "C" EXCEPTION_DISPOSITION vu30_passing_handler(EXCEPTION_RECORD* exception, void* frame,
                                                      CONTEXT* /*context*/,
                                                      DISPATCHER_CONTEXT* /*dispatcher*/) {
  return OnPassing(exception, **reinterpret_cast<PassingState**>(static_cast<char*>(frame) + 32));
}

namespace {

bool TakingCall(void (*fn)(void* context), void* context, GuardState guard) {
  if (vu30_guarded_call(fn, context, &guard)) return true;
  AfterTaken(guard);
  return false;
}

}  // namespace

void PassingCall(void (*fn)(void* context), void* context, uint32_t* passedCode) {
  PassingState state{HostEntry::Innermost(), false, passedCode, false};
  vu30_passing_call(fn, context, &state);
  tPassing = nullptr;  // a passing exception that was continued
}

#else
#error "the host call guard is made for i686 and x86_64"
#endif

bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& record) {
  return TakingCall(fn, context, NewGuardState(record, false));
}

bool GuardedEntryCall(void (*fn)(void* context), void* context, HostExceptionRecord& record) {
  return TakingCall(fn, context, NewGuardState(record, true));
}

}  // namespace vu30::platform
