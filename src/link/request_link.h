/* SPDX-License-Identifier: MIT */
// The request transaction: one request frame to one post through the port
// dispatcher and at most one reply, checked and decoded in the caller's
// frame; and the reply check that the dispatcher calls for every reply.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

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

// How many host exchanges one thread may have in progress on one channel
// pair at once: its outermost one and those it makes from inside it (a
// dispatcher function that calls the driver's table in Transact). A deeper
// one is refused.
inline constexpr int kPairDepth = 4;

// The link state of one post's channel: its link status and the verdicts of
// the reply checks of the transactions in progress on it. One worker request
// (a post has one worker) and the host requests of the one thread that holds
// the channel-pair lock (one, or several nested in each other) are in
// progress on a channel at a time; each has its own slot, so a transaction
// learns the verdict of its own reply, whatever another exchange on the
// channel reports meanwhile, and nothing in it is shared with another post.
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
  // The host's exchanges on the channel, counted by the thread that holds
  // the channel-pair lock: how many have begun, and how many are in progress.
  uint32_t hostBegun_ = 0;
  int hostInProgress_ = 0;
  // [0] the worker's request; [1 + d] the host's at depth d on the pair.
  std::array<Awaited, 1 + kPairDepth> awaited_{};
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
  // A host request made by the thread that already holds the channel pair's
  // lock (from inside its own Transact) enters the lock again and makes its
  // own exchange; deeper than kPairDepth it is refused with EVu30Refused
  // before anything is sent. The cancellation of the calling thread passes
  // through, with the lock left after the pause.
  Exchange SendRequest(Channel& channel, Origin origin, Frame* request, uint8_t requestLength,
                       uint8_t replyLength, uint8_t replyType);
  // A request with no digits that awaits no reply.
  Exchange SendBareFrame(Channel& channel, Origin origin) {
    return SendRequest(channel, origin, nullptr, 0, 0, 0);
  }

 private:
  // A channel pair's lock, which the thread that holds it may enter again,
  // as a critical section lets it.
  struct alignas(64) PairLock {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
    int depth = 0;  // the owner's entries; read and written by the owner only
  };
  class PairEntry;
  PortDispatcher& dispatcher_;
  std::array<PairLock, kPostCount / 2 + 1> pairLocks_{};  // [0] unused
};

}  // namespace vu30::link
