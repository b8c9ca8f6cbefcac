// The request transaction: one request frame to one post through the port
// dispatcher and at most one reply, checked and decoded in the caller's
// buffer; and the reply check that the dispatcher calls for every reply.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/port_dispatcher.h"

namespace vu30::link {

inline constexpr uint8_t kLinkGood = 1;
inline constexpr uint8_t kLinkFailed = 3;
inline constexpr int32_t kErrReplyLength = 0xDB;
inline constexpr int32_t kErrReplyFormat = 0xDE;
inline constexpr int kPostCount = 30;
// A worker's address is its post number plus this.
inline constexpr uint8_t kWorkerAddressOffset = 32;

// Channel ((address - 1) mod 32) + 1: the post number for both kinds of request.
constexpr uint8_t ChannelOf(uint8_t address) {
  return static_cast<uint8_t>((address - 1) % 32 + 1);
}
// Line address ((address - 1) mod 8) + 1 + 32 * ((address - 1) div 32).
constexpr uint8_t LineAddressOf(uint8_t address) {
  return static_cast<uint8_t>((address - 1) % 8 + 1 + 32 * ((address - 1) / 32));
}
// The channel-pair lock of a channel: (channel + 1) div 2, 1..15.
constexpr int LockOf(uint8_t channel) { return (channel + 1) / 2; }
// True for addresses SendRequest accepts: posts 1..30 and workers 33..62.
constexpr bool IsValidAddress(uint8_t address) {
  return (address >= 1 && address <= kPostCount) ||
         (address >= 1 + kWorkerAddressOffset && address <= kPostCount + kWorkerAddressOffset);
}

// Tests a received frame and decodes it in place. report may be null, and a
// channel of 0 reports nothing either; otherwise the channel's status and
// error are set on report. A count of 0 is rejected with kErrReplyLength.
bool CheckReplyFrame(PortDispatcher* report, uint8_t channel, uint8_t* buffer, uint8_t& count,
                     uint8_t expected);

class RequestLink final : public ReplyChecker {
 public:
  explicit RequestLink(PortDispatcher& dispatcher);

  // Sends RequestLength digits of request (coded on a private copy) to
  // address and lets the dispatcher put the reply into request itself.
  // Returns 0 on success, else the dispatcher's failure code. request may be
  // null only with requestLength 0; a non-null request must hold at least
  // max(requestLength, replyLength) bytes. An address outside 1..30 and
  // 33..62 throws std::out_of_range before anything is sent.
  int32_t SendRequest(uint8_t address, uint8_t* request, uint8_t requestLength, uint8_t replyLength,
                      uint8_t replyType);
  // A request with no digits that awaits no reply.
  int32_t SendBareFrame(uint8_t address) { return SendRequest(address, nullptr, 0, 0, 0); }

  bool CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved, uint8_t& count,
                  uint8_t& expected) override;

  // The post's link status (1 good, 3 failed). Posts 1..30; others throw
  // std::out_of_range.
  uint8_t LinkStatus(int post) const;
  void SetLinkStatus(int post, uint8_t value);

  PortDispatcher& Dispatcher() { return dispatcher_; }

 private:
  PortDispatcher& dispatcher_;
  std::array<std::atomic<uint8_t>, kPostCount + 1> linkStatus_{};  // [0] unused
  std::array<std::mutex, kPostCount / 2 + 1> portLocks_{};         // [0] unused

  // The replies awaited by transactions in progress, by their buffers, with
  // the verdict of their own reply check once the dispatcher has called it. A
  // worker's exchange on the same channel can set the channel's status between
  // a host request's check and its reading of the status; a reply this link
  // itself rejected is then still recorded as failed.
  enum class Verdict : uint8_t { Awaited, Accepted, Rejected };
  struct AwaitedReply {
    const uint8_t* buffer;
    Verdict verdict;
  };
  Verdict TakeVerdict(const uint8_t* buffer);
  std::mutex awaitedMutex_;
  std::vector<AwaitedReply> awaited_;
};

}  // namespace vu30::link
