// SPDX-License-Identifier: MIT
#include "link/own_exchange.h"

namespace vu30::link {
namespace {
// The innermost scope of the calling thread; each scope links to the one it
// is nested in, so the chain lives on the thread's own stack.
thread_local const OwnExchange* tInnermost = nullptr;
}  // namespace

OwnExchange::OwnExchange(const void* owner) noexcept : owner_(owner), outer_(tInnermost) {
  tInnermost = this;
}

OwnExchange::~OwnExchange() {
  if (!releaseOnFault_.Released()) tInnermost = outer_;
}

void OwnExchange::End(void* scope) noexcept {
  tInnermost = static_cast<const OwnExchange*>(scope)->outer_;
}

bool OwnExchange::Inside(const void* owner) noexcept {
  for (const OwnExchange* scope = tInnermost; scope != nullptr; scope = scope->outer_) {
    if (scope->owner_ == owner) return true;
  }
  return false;
}

}  // namespace vu30::link
