// SPDX-License-Identifier: MIT
#include "platform/fp_state.h"

namespace vu30::platform {

namespace {

// The host state saved by the innermost entry of this thread; null outside
// every entry (worker threads, the dispatcher's own threads before a call).
thread_local const FpState* tHostState = nullptr;

#if defined(__i386__) || defined(__x86_64__)

// The x87 exception flags (IE DE ZE OE UE PE), the stack fault and the
// summary and busy bits that follow them.
constexpr uint16_t kX87FlagBits = 0x80FF;

// What fnstenv stores in 32-bit protected mode (and in 64-bit mode).
struct X87Environment {
  uint32_t control;
  uint32_t status;
  uint32_t tag;
  uint32_t instructionOffset;
  uint32_t instructionSelector;
  uint32_t operandOffset;
  uint32_t operandSelector;
};
static_assert(sizeof(X87Environment) == 28);

uint16_t ReadX87Control() noexcept {
  uint16_t value = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(value));
  return value;
}

uint16_t ReadX87Status() noexcept {
  uint16_t value = 0;
  __asm__ __volatile__("fnstsw %0" : "=m"(value));
  return value;
}

void WriteX87Control(uint16_t value) noexcept { __asm__ __volatile__("fldcw %0" : : "m"(value)); }

uint32_t ReadMxcsr() noexcept {
  uint32_t value = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}

void WriteMxcsr(uint32_t value) noexcept { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }

#endif

}  // namespace

FpState CurrentFpState() noexcept {
  FpState state;
#if defined(__i386__) || defined(__x86_64__)
  state.x87Control = ReadX87Control();
  state.x87Status = ReadX87Status();
  state.mxcsr = ReadMxcsr();
#endif
  return state;
}

void ApplyLibraryFpState() noexcept {
#if defined(__i386__) || defined(__x86_64__)
  // Cleared first: a flag left pending by the host must not trap under the
  // new control word either.
  __asm__ __volatile__("fnclex");
  WriteX87Control(kLibraryX87Control);
  WriteMxcsr(kLibraryMxcsr);
#endif
}

void RestoreFpState(const FpState& state) noexcept {
#if defined(__i386__) || defined(__x86_64__)
  WriteMxcsr(state.mxcsr);
  if (((ReadX87Status() ^ state.x87Status) & kX87FlagBits) == 0) {
    WriteX87Control(state.x87Control);
    return;
  }
  // The flags differ: control word and flags are put back together, so that
  // a flag the library raised is never seen under the host's control word.
  X87Environment environment{};
  __asm__ __volatile__("fnstenv %0" : "=m"(environment));
  environment.control = (environment.control & 0xFFFF0000u) | state.x87Control;
  environment.status = (environment.status & ~static_cast<uint32_t>(kX87FlagBits)) |
                       (state.x87Status & kX87FlagBits);
  __asm__ __volatile__("fldenv %0" : : "m"(environment));
#else
  (void)state;
#endif
}

LibraryFpScope::LibraryFpScope() noexcept : host_(CurrentFpState()), outer_(tHostState) {
  ApplyLibraryFpState();
  tHostState = &host_;
}

LibraryFpScope::~LibraryFpScope() { Leave(); }

void LibraryFpScope::Leave() noexcept {
  if (left_) return;
  left_ = true;
  tHostState = outer_;
  RestoreFpState(host_);
}

FpState LibraryFpScope::Release() noexcept {
  left_ = true;
  tHostState = outer_;
  return host_;
}

void LibraryFpScope::LeaveOnFault(void* scope) noexcept {
  static_cast<LibraryFpScope*>(scope)->Leave();
}

#if defined(__i386__)

// In assembly, so that nothing of the compiler's x87 code comes after the
// host's environment: the value is loaded first, under the library's
// control word (all exceptions masked); then MXCSR and the x87 control word
// and flags are put back together (fnstenv/fldenv, which keep the value's
// register and tag) and the function returns the value in ST(0).
extern "C" double vu30_restore_fp_returning(const FpState* state,
                                            double value) __asm__("vu30_restore_fp_returning");
static_assert(sizeof(FpState) == 8);
__asm__(
    ".text\n"
    ".globl vu30_restore_fp_returning\n"
    "vu30_restore_fp_returning:\n"
    "  movl 4(%esp), %ecx\n"
    "  fldl 8(%esp)\n"
    "  ldmxcsr 4(%ecx)\n"
    "  subl $28, %esp\n"
    "  fnstenv (%esp)\n"
    "  movzwl (%ecx), %eax\n"
    "  movw %ax, (%esp)\n"
    "  movl 4(%esp), %eax\n"
    "  andl $0xFFFF7F00, %eax\n"
    "  movzwl 2(%ecx), %edx\n"
    "  andl $0x80FF, %edx\n"
    "  orl %edx, %eax\n"
    "  movl %eax, 4(%esp)\n"
    "  fldenv (%esp)\n"
    "  addl $28, %esp\n"
    "  ret\n");

double RestoreFpStateReturning(const FpState& state, double value) noexcept {
  return vu30_restore_fp_returning(&state, value);
}

#else

double RestoreFpStateReturning(const FpState& state, double value) noexcept {
  RestoreFpState(state);
  return value;
}

#endif

HostFpStateDuringCall::HostFpStateDuringCall() noexcept {
  if (const FpState* host = tHostState) {
    RestoreFpState(*host);
    switched_ = true;
  }
}

HostFpStateDuringCall::~HostFpStateDuringCall() {
  if (switched_) ApplyLibraryFpState();
}

}  // namespace vu30::platform
