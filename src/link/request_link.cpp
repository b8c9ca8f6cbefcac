// SPDX-License-Identifier: MIT
#include "link/request_link.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "link/line_coding.h"
#include "platform/hot_path.h"
#include "platform/sleep.h"
#include "platform/thread_cancel.h"

namespace vu30::link {
namespace {

// The pause after a synchronous exchange, taken while the lock is held, so
// that two frames on one channel pair are at least this far apart.
constexpr auto kPauseAfterRequest = std::chrono::milliseconds(30);

// The result of an exchange that raised when the channel's error does not
// say so (asking it raised too, or it is 0): not 0, so that no caller takes
// the exchange for made.
constexpr int32_t kExchangeRaised = -1;

// Fails a reply check with code: reports status 3 and then the code to the
// dispatcher, unless there is nothing to report to.
bool Fail(PortDispatcher* report, uint8_t channel, int32_t code) {
  if (report != nullptr && channel != 0) {
    report->SetChannelStatus(channel, kLinkFailed);
    report->SetChannelError(channel, code);
  }
  return false;
}

// The pause after a host's exchange, from now. A thread cancelled during it
// sleeps out the rest with the cancellation held off before it goes on
// ending, so that the pair's next frame still keeps its distance from this
// one. Not taken in a destructor, which the cancellation's unwind could not
// leave, nor inside a handler of another exception (thread_cancel.h).
void Pause() {
  const auto deadline = std::chrono::steady_clock::now() + kPauseAfterRequest;
  try {
    platform::SleepFor(kPauseAfterRequest);
  } catch (...) {  // only a cancellation: the sleep raises nothing else
    const platform::CancellationHeldOff heldOff;
    platform::SleepFor(deadline - std::chrono::steady_clock::now());
    throw;
  }
}

// Runs a host's exchange: false when it raised. A thread cancelled in it
// takes the pause, with the cancellation held off, before it goes on ending.
template <typename Transact>
bool HostTransact(Transact&& transact, int32_t& result) {
  try {
    result = transact();
    return true;
  } catch (...) {
    if (platform::HandlingThreadCancellation()) {
      const platform::CancellationHeldOff heldOff;
      platform::SleepFor(kPauseAfterRequest);
      throw;
    }
  }
  return false;
}

// Marks a transaction's frame as awaiting its reply check on the channel for
// as long as the exchange lasts; no slot when no reply is awaited.
class AwaitReply {
 public:
  AwaitReply(Channel::Awaited* slot, const uint8_t* frame) : slot_(slot) {
    if (slot_ == nullptr) return;
    slot_->verdict.store(Channel::kAwaited, std::memory_order_relaxed);
    slot_->frame.store(frame, std::memory_order_release);
  }
  ~AwaitReply() {
    if (slot_ != nullptr) slot_->frame.store(nullptr, std::memory_order_relaxed);
  }
  AwaitReply(const AwaitReply&) = delete;
  AwaitReply& operator=(const AwaitReply&) = delete;
  bool Rejected() const {
    return slot_ != nullptr && slot_->verdict.load(std::memory_order_acquire) == Channel::kRejected;
  }
  bool Accepted() const {
    return slot_ != nullptr && slot_->verdict.load(std::memory_order_acquire) == Channel::kAccepted;
  }

 private:
  Channel::Awaited* slot_;
};

}  // namespace

// Holds the pair's lock for one host exchange: takes it, or, on the thread
// that holds it already, enters it again one level deeper.
class RequestLink::PairEntry {
 public:
  explicit PairEntry(PairLock& lock) : lock_(lock) {
    // Only this thread ever stores its own id here, so it reads its own id
    // back exactly while it holds the lock.
    const std::thread::id self = std::this_thread::get_id();
    if (lock_.owner.load(std::memory_order_relaxed) != self) {
      lock_.mutex.lock();
      lock_.owner.store(self, std::memory_order_relaxed);
    }
    depth_ = lock_.depth++;
  }
  ~PairEntry() {
    if (--lock_.depth == 0) {
      lock_.owner.store(std::thread::id(), std::memory_order_relaxed);
      lock_.mutex.unlock();
    }
  }
  PairEntry(const PairEntry&) = delete;
  PairEntry& operator=(const PairEntry&) = delete;

  // 0 for the outermost exchange, 1 for one made from inside it, ...
  int Depth() const { return depth_; }
  // True when the calling thread holds the lock kPairDepth deep already.
  static bool Full(const PairLock& lock) {
    return lock.owner.load(std::memory_order_relaxed) == std::this_thread::get_id() &&
           lock.depth >= kPairDepth;
  }

 private:
  PairLock& lock_;
  int depth_ = 0;
};

VU30_HOT_PATH bool CheckReplyFrame(PortDispatcher* report, uint8_t channel, uint8_t* buffer,
                                   uint8_t& count, uint8_t expected) {
  // The received count must be the expected one. A count of 0 has no last
  // byte to test and is rejected as a length error too.
  if (count != expected || count == 0 || buffer == nullptr) {
    return Fail(report, channel, kErrReplyLength);
  }
  // The reply must be closed by a zero byte; nothing is decoded otherwise.
  if (buffer[count - 1] != 0) return Fail(report, channel, kErrReplyFormat);
  // A malformed leading byte (the line address the dispenser puts first) is
  // removed: the remaining bytes, the closing zero included, move down by one.
  if (!IsValidLineByte(buffer[0])) {
    count = static_cast<uint8_t>(count - 1);
    std::memmove(buffer, buffer + 1, count);
  }
  // Every byte but the closing zero is decoded in place, in order; the first
  // malformed one stops the check (earlier bytes stay decoded).
  for (int i = 0; i < static_cast<int>(count) - 1; ++i) {
    if (!IsValidLineByte(buffer[i])) return Fail(report, channel, kErrReplyFormat);
    buffer[i] = DecodeLineByte(buffer[i]);
  }
  if (report != nullptr && channel != 0) {
    report->SetChannelStatus(channel, kLinkGood);
    report->SetChannelError(channel, 0);
  }
  return true;
}

void Channel::Attach(PortDispatcher& dispatcher, uint8_t number, ReplyChecker& registration) {
  dispatcher_ = &dispatcher;
  number_ = number;
  registration_ = &registration;
}

VU30_HOT_PATH bool Channel::CheckReply(uint8_t channel, uint8_t* buffer, int32_t /*reserved*/,
                                       uint8_t& count, uint8_t& expected) {
  const auto record = [&](bool accepted) {
    for (Awaited& awaited : awaited_) {
      if (buffer != nullptr && awaited.frame.load(std::memory_order_acquire) == buffer) {
        awaited.verdict.store(accepted ? kAccepted : kRejected, std::memory_order_release);
      }
    }
  };
  // Rejected until the check has been made: a check that could not be
  // completed (the dispatcher raised while the check reported to it, or a
  // structured exception ended it on a buffer that cannot be read) accepts
  // nothing.
  record(false);
  const bool accepted = CheckReplyFrame(dispatcher_, channel, buffer, count, expected);
  record(accepted);
  return accepted;
}

VU30_HOT_PATH Exchange RequestLink::SendRequest(Channel& channel, Origin origin, Frame* request,
                                                uint8_t requestLength, uint8_t replyLength,
                                                uint8_t replyType) {
  if (request == nullptr && requestLength > 0) {
    throw std::invalid_argument("vu30: a request of " + std::to_string(requestLength) +
                                " digits without a frame");
  }
  const uint8_t number = channel.Number();
  const bool host = origin == Origin::Host;
  PairLock* const pair = host ? &pairLocks_[static_cast<std::size_t>(LockOf(number))] : nullptr;
  if (pair != nullptr && PairEntry::Full(*pair)) {
    throw EVu30Refused("vu30: more than " + std::to_string(kPairDepth) +
                       " requests nested in each other on the channel pair of post " +
                       std::to_string(number));
  }
  // The digits are coded on a private copy; the caller's bytes stay as they
  // are. Only the request's own bytes are written: the dispatcher reads
  // requestLength of them, and a request touches no more of its stack than
  // that (it often starts cold, after a pause or a quiet spell).
  Frame copy;
  if (request != nullptr) {
    for (std::size_t i = 0; i < requestLength; ++i) copy[i] = EncodeDigit((*request)[i]);
  }
  // The reply check is registered for the channel before any lock.
  dispatcher_.SetReplyChecker(number, *channel.registration_);
  const uint8_t codedReplyType = replyType != 0 ? EncodeDigit(replyType) : uint8_t{0};
  const auto address =
      static_cast<uint8_t>(host ? number : number + static_cast<int>(kWorkerAddressOffset));
  const uint8_t lineAddress = LineAddressOf(address);
  uint8_t* reply = request != nullptr ? request->data() : nullptr;
  const bool awaitsReply = reply != nullptr && replyLength > 0;
  const auto transact = [&] {
    return dispatcher_.Transact(number, lineAddress, copy.data(), requestLength, reply, replyLength,
                                codedReplyType);
  };

  // The reply, when one is awaited, is checked in this transaction's frame:
  // the frame's address tells this transaction's check from the channel's
  // others, each in its own slot. A host request's slot is taken under the
  // channel-pair lock, at its depth on the pair.
  Exchange exchange;
  bool rejected = false;
  // True when a host exchange shared the channel with another host exchange
  // of its thread (it was made inside the other's Transact, or the other
  // inside its own): the channel's status may then be the other's, and the
  // exchange goes by its own reply's verdict alone.
  bool shared = false;
  bool accepted = false;
  bool raised = false;
  try {
    if (host) {
      const PairEntry entry(*pair);
      const bool nested = channel.hostInProgress_ > 0;
      struct InProgress {
        Channel& channel;
        explicit InProgress(Channel& c) : channel(c) { ++channel.hostInProgress_; }
        ~InProgress() { --channel.hostInProgress_; }
        InProgress(const InProgress&) = delete;
        InProgress& operator=(const InProgress&) = delete;
      } const inProgress(channel);
      const uint32_t begun = ++channel.hostBegun_;
      const AwaitReply await(
          awaitsReply ? &channel.awaited_[1 + static_cast<std::size_t>(entry.Depth())] : nullptr,
          reply);
      raised = !HostTransact(transact, exchange.result);
      shared = nested || channel.hostBegun_ != begun;
      rejected = await.Rejected();
      accepted = await.Accepted();
      // The pause follows the exchange inside the lock, whether it returned
      // or raised.
      Pause();
    } else {
      const AwaitReply await(awaitsReply ? &channel.awaited_[0] : nullptr, reply);
      exchange.result = transact();
      rejected = await.Rejected();
    }
    // The channel's status becomes the post's link status, unless this
    // transaction's own reply check rejected the reply, or the channel was
    // shared with a nested exchange that may have reported last.
    if (!raised) {
      const uint8_t channelStatus = dispatcher_.GetChannelStatus(number);
      if (shared && awaitsReply) {
        exchange.status = accepted ? kLinkGood : kLinkFailed;
      } else {
        exchange.status = rejected ? kLinkFailed : channelStatus;
      }
      channel.SetLinkStatus(exchange.status);
    }
  } catch (...) {
    // A cancelled thread goes on ending (the lock is free). Any other
    // exception goes no further (a host's own exception arrives here as a
    // HostFault) and the post's link status keeps its value.
    if (platform::HandlingThreadCancellation()) throw;
    raised = true;
  }
  if (raised) {
    // No reply of this exchange was accepted, so the caller is told it
    // failed; the result is the channel's error, asked outside the handler.
    // Should that raise too, or report no error, the result still says the
    // exchange failed: an exchange that raised is never taken for made.
    exchange.status = kLinkFailed;
    try {
      exchange.result = dispatcher_.GetChannelError(number);
    } catch (...) {
      if (platform::HandlingThreadCancellation()) throw;
      exchange.result = kExchangeRaised;
    }
    if (exchange.result == 0) exchange.result = kExchangeRaised;
  }
  return exchange;
}

}  // namespace vu30::link
