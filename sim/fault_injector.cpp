// SPDX-License-Identifier: MIT
#include "fault_injector.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace vu30::sim {

namespace {

size_t IndexOf(Fault fault) {
  return static_cast<size_t>(std::countr_zero(static_cast<unsigned>(fault)));
}

bool Allows(unsigned kinds, Fault fault) { return (kinds & static_cast<unsigned>(fault)) != 0; }

// Whether a frame awaiting replyLength bytes can be hit by fault.
bool Fits(Fault fault, uint8_t replyLength) {
  if (fault == Fault::WrongLength) return replyLength >= 2;
  if (fault == Fault::MalformedByte) return replyLength >= 1;
  return fault == Fault::FailedResult || fault == Fault::Exception;
}

}  // namespace

FaultInjector::FaultInjector(uint64_t seed, double rate, unsigned kinds)
    : kinds_(kinds), rng_(seed), rate_(std::clamp(rate, 0.0, 1.0)) {}

Fault FaultInjector::DrawForFrame(int post, uint8_t replyLength) {
  std::lock_guard lock(mu_);
  Ordered& ordered = ordered_[static_cast<size_t>(post)];
  if (ordered.frames > 0) {
    --ordered.frames;
    // A fault the frame cannot show (a short reply) is lost on the line instead.
    const Fault fault =
        Fits(ordered.frameFault, replyLength) ? ordered.frameFault : Fault::FailedResult;
    Counted(fault);
    return fault;
  }
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (rate_ <= 0.0 || chance(rng_) >= rate_) return Fault{0};
  std::vector<Fault> possible;
  for (Fault f :
       {Fault::WrongLength, Fault::MalformedByte, Fault::FailedResult, Fault::Exception}) {
    if (Allows(kinds_, f) && Fits(f, replyLength)) possible.push_back(f);
  }
  if (possible.empty()) return Fault{0};
  std::uniform_int_distribution<size_t> pick(0, possible.size() - 1);
  const Fault fault = possible[pick(rng_)];
  Counted(fault);
  return fault;
}

bool FaultInjector::DrawLostMessage(int post) {
  std::lock_guard lock(mu_);
  Ordered& ordered = ordered_[static_cast<size_t>(post)];
  if (ordered.messages > 0) {
    --ordered.messages;
    Counted(Fault::LostMessage);
    return true;
  }
  if (!Allows(kinds_, Fault::LostMessage)) return false;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (rate_ <= 0.0 || chance(rng_) >= rate_) return false;
  Counted(Fault::LostMessage);
  return true;
}

void FaultInjector::DamageReply(std::vector<uint8_t>& replyBytes) {
  if (replyBytes.empty()) return;
  std::lock_guard lock(mu_);
  std::uniform_int_distribution<size_t> where(replyBytes.size() == 1 ? 0 : 1,
                                              replyBytes.size() - 1);
  const size_t at = where(rng_);
  // Not a byte of the line code: a damaged digit, or a closing byte that is not zero.
  replyBytes[at] = at + 1 == replyBytes.size() ? 0x6A : 0x6B;
}

void FaultInjector::SetRate(double rate) {
  std::lock_guard lock(mu_);
  rate_ = std::isfinite(rate) ? std::clamp(rate, 0.0, 1.0) : 0.0;
}

void FaultInjector::Order(int post, Fault fault, uint32_t count) {
  std::lock_guard lock(mu_);
  Ordered& ordered = ordered_[static_cast<size_t>(post)];
  if (fault == Fault::LostMessage) {
    ordered.messages = count;
  } else {
    ordered.frameFault = fault;
    ordered.frames = count;
  }
}

uint64_t FaultInjector::Count(Fault fault) const {
  return counts_[IndexOf(fault)].load(std::memory_order_relaxed);
}

void FaultInjector::Counted(Fault fault) {
  counts_[IndexOf(fault)].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace vu30::sim
