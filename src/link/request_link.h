/* SPDX-License-Identifier: MIT */
// The request transaction: one request frame to one post through the port
// dispatcher and at most one reply, checked and decoded in the caller's
// frame; and the reply check that the dispatcher calls for every reply.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "link/frame.h"
#include "link/port_dispatcher.h"

namespace vu30::link {

// Tests a received frame and decodes it in place. report may be null, and a
// channel of 0 reports nothing either; otherwise the channel's status and
// error are set on report. A count of 0 is rejected with kErrReplyLength.
bool CheckReplyFrame(PortDispatcher* report, uint8_t channel, uint8_t* buffer, uint8_t& count,
                     uint8_t expected);

// Who makes a request: the host (on the post's own address, under the
// channel-pair lock, with the pause after it) or the post's worker (on the
// worker address, without lock or pause).
enum class Origin : uint8_t { Host, Worker };

// The link state of one post's channel: its link status and the verdicts of
// the reply checks of the transactions in progress on it. At most one host
// request (they hold the channel-pair lock) and one worker request (a post
// has one worker) are in progress on a channel at a time; each has its own
// slot, so a transaction learns the verdict of its own reply, whatever
// another exchange on the channel reports meanwhile, and nothing in it is
// shared with another post.
class alignas(64) Channel final : public ReplyChecker {
 public:
  // Binds the channel to its number (1..kPostCount) and to the object
  // registered as its reply checker (which passes checks on to this one).
  void Attach(PortDispatcher& dispatcher, uint8_t number, ReplyChecker& registration);

  uint8_t Number() const { return number_; }
  uint8_t LinkStatus() const { return linkStatus_.load(std::memory_order_relaxed); }
  void SetLinkStatus(uint8_t value) { linkStatus_.store(value, std::memory_order_relaxed); }

  // Checks a reply on behalf of the dispatcher, reporting on channel, and
  // records the verdict for the transaction whose frame buffer is.
  bool CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved, uint8_t& count,
                  uint8_t& expected) override;

 private:
  friend class RequestLink;

 public:
  // A transaction's slot: its frame while it awaits the check of its reply,
  // and the check's verdict.
  enum Verdict : uint8_t { kAwaited, kAccepted, kRejected };
  struct Awaited {
    std::atomic<const uint8_t*> frame{nullptr};
    std::atomic<uint8_t> verdict{kAwaited};
  };

 private:
  PortDispatcher* dispatcher_ = nullptr;
  ReplyChecker* registration_ = nullptr;
  uint8_t number_ = 0;
  std::atomic<uint8_t> linkStatus_{0};
  std::array<Awaited, 2> awaited_{};  // by Origin
};

// What a transaction ends with: the dispatcher's result (0 when the exchange
// was made) and the link status it recorded for the post, which decides
// whether the reply's digits may be used.
struct Exchange {
  int32_t result = 0;
  uint8_t status = 0;
  bool Good() const { return status == kLinkGood; }
};

class RequestLink final {
 public:
  explicit RequestLink(PortDispatcher& dispatcher) : dispatcher_(dispatcher) {}

  // Sends requestLength digits of request (coded on a private copy) to the
  // channel's post, or to its worker address, and lets the dispatcher put the
  // reply into request itself. request may be null only with requestLength
  // 0; without it no reply is received. Records the post's link status
  // unless the dispatcher's exchange raised (the result is then the
  // channel's error and the status handed back is failed).
  Exchange SendRequest(Channel& channel, Origin origin, Frame* request, uint8_t requestLength,
                       uint8_t replyLength, uint8_t replyType);
  // A request with no digits that awaits no reply.
  Exchange SendBareFrame(Channel& channel, Origin origin) {
    return SendRequest(channel, origin, nullptr, 0, 0, 0);
  }

 private:
  struct alignas(64) PairLock {
    std::mutex mutex;
  };
  PortDispatcher& dispatcher_;
  std::array<PairLock, kPostCount / 2 + 1> pairLocks_{};  // [0] unused
};

}  // namespace vu30::link
