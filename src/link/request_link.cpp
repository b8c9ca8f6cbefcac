#include "link/request_link.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "link/line_coding.h"
#include "platform/sleep.h"

namespace vu30::link {
namespace {

// The pause after a synchronous exchange, taken while the lock is held, so
// that two frames on one channel pair are at least this far apart.
constexpr unsigned kPauseAfterRequestMs = 30;

// Size of the private request copy.
constexpr std::size_t kRequestCopySize = 255;

// Fails a reply check with code: reports status 3 and then the code to the
// dispatcher, unless there is nothing to report to.
bool Fail(PortDispatcher* report, uint8_t channel, int32_t code) {
  if (report != nullptr && channel != 0) {
    report->SetChannelStatus(channel, kLinkFailed);
    report->SetChannelError(channel, code);
  }
  return false;
}

// Sleeps when destroyed: declared after the lock it keeps the pause inside the
// lock, on return as well as when an exception leaves the exchange.
class PauseOnExit {
 public:
  PauseOnExit() = default;
  PauseOnExit(const PauseOnExit&) = delete;
  PauseOnExit& operator=(const PauseOnExit&) = delete;
  ~PauseOnExit() { platform::SleepMs(kPauseAfterRequestMs); }
};

void CheckPost(int post) {
  if (post < 1 || post > kPostCount) {
    throw std::out_of_range("vu30: post " + std::to_string(post) + " is outside 1..30");
  }
}

}  // namespace

bool CheckReplyFrame(PortDispatcher* report, uint8_t channel, uint8_t* buffer, uint8_t& count,
                     uint8_t expected) {
  // 1. The received count must be the expected one. A count of 0 has no last
  //    byte to test and is rejected as a length error too.
  if (count != expected || count == 0 || buffer == nullptr) {
    return Fail(report, channel, kErrReplyLength);
  }
  // 2. The reply must be closed by a zero byte; nothing is decoded otherwise.
  if (buffer[count - 1] != 0) return Fail(report, channel, kErrReplyFormat);
  // 3. A malformed leading byte (the line address the dispenser puts first) is
  //    removed: the remaining bytes, the closing zero included, move down by one.
  if (!IsValidLineByte(buffer[0])) {
    count = static_cast<uint8_t>(count - 1);
    std::memmove(buffer, buffer + 1, count);
  }
  // 4. Every byte but the closing zero is decoded in place, in order; the first
  //    malformed one stops the check (earlier bytes stay decoded).
  for (int i = 0; i < static_cast<int>(count) - 1; ++i) {
    if (!IsValidLineByte(buffer[i])) return Fail(report, channel, kErrReplyFormat);
    buffer[i] = DecodeLineByte(buffer[i]);
  }
  // 5. Accepted.
  if (report != nullptr && channel != 0) {
    report->SetChannelStatus(channel, kLinkGood);
    report->SetChannelError(channel, 0);
  }
  return true;
}

RequestLink::RequestLink(PortDispatcher& dispatcher) : dispatcher_(dispatcher) {}

int32_t RequestLink::SendRequest(uint8_t address, uint8_t* request, uint8_t requestLength,
                                 uint8_t replyLength, uint8_t replyType) {
  if (!IsValidAddress(address)) {
    throw std::out_of_range("vu30: request address " + std::to_string(address) +
                            " is outside 1..30 and 33..62");
  }
  if (request == nullptr && requestLength > 0) {
    throw std::invalid_argument("vu30: a request of " + std::to_string(requestLength) +
                                " digits without a buffer");
  }

  // 1. The digits are coded on a private copy; the caller's bytes stay as they are.
  std::array<uint8_t, kRequestCopySize> copy{};
  if (request != nullptr) {
    for (std::size_t i = 0; i < requestLength; ++i) copy[i] = EncodeDigit(request[i]);
  }
  // 2, 3. The channel, and the reply check registered for it before any lock.
  const uint8_t channel = ChannelOf(address);
  dispatcher_.SetReplyChecker(channel, *this);
  // 4. ReplyType 0 stays 0.
  const uint8_t codedReplyType = replyType != 0 ? EncodeDigit(replyType) : uint8_t{0};

  // The reply, when one is awaited, is checked in the caller's buffer: the
  // buffer identifies this transaction's check among the channel's others.
  const bool awaitsReply = request != nullptr && replyLength > 0;
  if (awaitsReply) {
    std::lock_guard lock(awaitedMutex_);
    awaited_.push_back({request, Verdict::Awaited});
  }
  int32_t result = 0;
  try {
    // 6. Synchronous requests (line address below 32) hold the lock of their
    //    channel pair across the exchange and the pause after it.
    const uint8_t lineAddress = LineAddressOf(address);
    if (lineAddress < 32) {
      std::lock_guard lock(portLocks_[static_cast<std::size_t>(LockOf(channel))]);
      PauseOnExit pause;  // destroyed before the lock: the pause lies inside it
      result = dispatcher_.Transact(channel, lineAddress, copy.data(), requestLength, request,
                                    replyLength, codedReplyType);
    } else {
      result = dispatcher_.Transact(channel, lineAddress, copy.data(), requestLength, request,
                                    replyLength, codedReplyType);
    }
    // 9. The channel's status becomes the post's link status, unless this
    //    transaction's own reply check rejected the reply.
    uint8_t status = dispatcher_.GetChannelStatus(channel);
    if (awaitsReply && TakeVerdict(request) == Verdict::Rejected) status = kLinkFailed;
    linkStatus_[channel].store(status);
  } catch (...) {
    // 10. The exception goes no further; LinkStatus keeps its former value.
    if (awaitsReply) TakeVerdict(request);
    result = dispatcher_.GetChannelError(channel);
  }
  return result;
}

RequestLink::Verdict RequestLink::TakeVerdict(const uint8_t* buffer) {
  std::lock_guard lock(awaitedMutex_);
  for (auto it = awaited_.begin(); it != awaited_.end(); ++it) {
    if (it->buffer == buffer) {
      const Verdict verdict = it->verdict;
      awaited_.erase(it);
      return verdict;
    }
  }
  return Verdict::Awaited;
}

bool RequestLink::CheckReply(uint8_t channel, uint8_t* buffer, int32_t /*reserved*/, uint8_t& count,
                             uint8_t& expected) {
  const bool accepted = CheckReplyFrame(&dispatcher_, channel, buffer, count, expected);
  std::lock_guard lock(awaitedMutex_);
  for (auto& awaited : awaited_) {
    if (awaited.buffer == buffer)
      awaited.verdict = accepted ? Verdict::Accepted : Verdict::Rejected;
  }
  return accepted;
}

uint8_t RequestLink::LinkStatus(int post) const {
  CheckPost(post);
  return linkStatus_[static_cast<std::size_t>(post)].load();
}

void RequestLink::SetLinkStatus(int post, uint8_t value) {
  CheckPost(post);
  linkStatus_[static_cast<std::size_t>(post)].store(value);
}

}  // namespace vu30::link
