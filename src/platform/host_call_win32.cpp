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
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/host_call.h"

namespace vu30::platform {

namespace {

// The bits of ExceptionFlags that mark the unwinding passes, in which a
// handler only lets the unwind go on (unwinding, exit unwind, target unwind,
// collided unwind).
constexpr DWORD kUnwindFlags = 0x66;

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
  // system's own, set again as the exception travels.
  RaiseException(record.code, record.flags & EXCEPTION_NONCONTINUABLE, record.parameterCount,
                 record.parameterCount != 0 ? parameters : nullptr);
  // A handler that continues a non-continuable exception gets another
  // exception instead; one that continues a continuable exception the
  // host raised comes back here, where the call it belonged to has ended.
  std::abort();
}

#if defined(__i386__)

namespace {

struct Registration {
  EXCEPTION_REGISTRATION_RECORD chain;  // first: the chain points at it
  void* resume[5];                      // __builtin_setjmp's buffer
  HostExceptionRecord* record;
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
  Keep(*exception, *registration->record);
  UnwindFramesAbove(registration, exception);
  __builtin_longjmp(registration->resume, 1);
}

// The thread's information block, whose first word heads the handler chain
// (read directly: the header's NtCurrentTeb draws a false array-bounds
// warning from the compiler).
NT_TIB* ThreadInformation() {
  NT_TIB* information = nullptr;
  __asm__("movl %%fs:0x18, %0" : "=r"(information));
  return information;
}

}  // namespace

bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& record) {
  Registration registration{};
  registration.record = &record;
  registration.chain.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
  registration.chain.Next = ThreadInformation()->ExceptionList;
  if (__builtin_setjmp(registration.resume) != 0) {
    // Resumed by the handler: the unwind has left this registration at the
    // head of the chain.
    ThreadInformation()->ExceptionList = registration.chain.Next;
    return false;
  }
  *static_cast<EXCEPTION_REGISTRATION_RECORD* volatile*>(&ThreadInformation()->ExceptionList) =
      &registration.chain;
  fn(context);
  *static_cast<EXCEPTION_REGISTRATION_RECORD* volatile*>(&ThreadInformation()->ExceptionList) =
      registration.chain.Next;
  return true;
}

#elif defined(__x86_64__)

extern "C" {
// In the assembly below. The guard keeps the record's address at its frame
// (the establisher frame, rsp after its prologue) + 32, above the callee's
// home space.
bool vu30_guarded_call(void (*fn)(void*), void* context, HostExceptionRecord* record);
void vu30_guarded_call_landing();
EXCEPTION_DISPOSITION vu30_guard_handler(EXCEPTION_RECORD* exception, void* frame, CONTEXT* context,
                                         DISPATCHER_CONTEXT* dispatcher);
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
    "  .seh_handler vu30_guard_handler, @except\n"
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
    ".seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION vu30_guard_handler(EXCEPTION_RECORD* exception, void* frame,
                                                    CONTEXT* context,
                                                    DISPATCHER_CONTEXT* dispatcher) {
  if ((exception->ExceptionFlags & kUnwindFlags) != 0) return ExceptionContinueSearch;
  auto* record = *reinterpret_cast<HostExceptionRecord**>(static_cast<char*>(frame) + 32);
  Keep(*exception, *record);
  RtlUnwindEx(frame, reinterpret_cast<void*>(&vu30_guarded_call_landing), exception, nullptr,
              context, dispatcher->HistoryTable);
  std::abort();  // RtlUnwindEx does not return
}

bool GuardedCall(void (*fn)(void* context), void* context, HostExceptionRecord& record) {
  return vu30_guarded_call(fn, context, &record);
}

#else
#error "the host call guard is made for i686 and x86_64"
#endif

}  // namespace vu30::platform
