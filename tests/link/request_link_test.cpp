// SPDX-License-Identifier: MIT
// The request transaction, through HostDispatcher over the recording
// host dispatcher (a C-style Vu30Dispatcher, as a host provides it).
#include "link/request_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "link/host_dispatcher.h"
#include "support/host_threads.h"
#include "support/recording_dispatcher.h"

namespace vu30::link {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::DispatcherOp;
using test::RecordedCall;
using test::RecordingDispatcher;
using test::ScriptedReply;
using test::TransactRequest;

constexpr auto kPause = 30ms;

class RequestLinkTest : public ::testing::Test {
 protected:
  RequestLinkTest() {
    for (uint8_t post = 1; post <= kPostCount; ++post) {
      channels_[post].Attach(dispatcher_, post, channels_[post]);
    }
  }

  // A request on address (a post, or post + 32 for its worker) as the driver
  // makes it, in a frame: the caller's bytes go into the frame, and as many
  // come back after the exchange.
  Exchange SendEx(uint8_t address, uint8_t* buffer, uint8_t requestLength, uint8_t replyLength,
                  uint8_t replyType) {
    const bool worker = address > kWorkerAddressOffset;
    Channel& channel = channels_[ChannelOf(address)];
    const Origin origin = worker ? Origin::Worker : Origin::Host;
    if (buffer == nullptr) {
      return link_.SendRequest(channel, origin, nullptr, requestLength, replyLength, replyType);
    }
    const std::size_t n = std::max(requestLength, replyLength);
    Frame frame{};
    std::copy_n(buffer, n, frame.begin());
    const Exchange exchange =
        link_.SendRequest(channel, origin, &frame, requestLength, replyLength, replyType);
    std::copy_n(frame.begin(), n, buffer);
    return exchange;
  }
  int32_t Send(uint8_t address, uint8_t* buffer, uint8_t requestLength, uint8_t replyLength,
               uint8_t replyType) {
    return SendEx(address, buffer, requestLength, replyLength, replyType).result;
  }
  int32_t SendBareFrame(uint8_t address) { return Send(address, nullptr, 0, 0, 0); }
  uint8_t LinkStatus(int post) { return channels_[static_cast<std::size_t>(post)].LinkStatus(); }
  void SetLinkStatus(int post, uint8_t value) {
    channels_[static_cast<std::size_t>(post)].SetLinkStatus(value);
  }

  // A one-digit request awaiting an acknowledgement, as a function of the address.
  std::function<void(uint8_t)> SendAck() {
    return [this](uint8_t address) {
      uint8_t buffer[1] = {0};
      Send(address, buffer, 1, 1, 0);
    };
  }

  RecordingDispatcher recorder_;
  HostDispatcher dispatcher_{recorder_.Host()};
  RequestLink link_{dispatcher_};
  std::array<Channel, kPostCount + 1> channels_;
};

// A meeting point for two Transacts: each waits (with a time-out) until the
// other has arrived. Both arrive only if neither excludes the other.
class Rendezvous {
 public:
  // Returns true when the other party arrived within the time-out.
  bool Arrive() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    cv_.notify_all();
    return cv_.wait_for(lock, 3s, [this] { return arrived_ >= 2; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int arrived_ = 0;
};

// ---- Addresses, channels, line addresses and locks ---------------------------

TEST_F(RequestLinkTest, ExamplesOfAddresses) {
  struct Case {
    uint8_t address, channel, line;
  };
  for (const Case c : {Case{1, 1, 1}, Case{9, 9, 1}, Case{30, 30, 6}, Case{33, 1, 33},
                       Case{62, 30, 38}, Case{17, 17, 1}, Case{25, 25, 1}, Case{40, 8, 40}}) {
    recorder_.ClearCalls();
    SendBareFrame(c.address);
    const auto transacts = recorder_.Transacts();
    const auto checkers = recorder_.Calls(DispatcherOp::SetReplyChecker);
    ASSERT_EQ(transacts.size(), 1u);
    ASSERT_EQ(checkers.size(), 1u);
    EXPECT_EQ(transacts[0].channel, c.channel);
    EXPECT_EQ(transacts[0].lineAddress, c.line);
    EXPECT_EQ(checkers[0].channel, c.channel);
  }
}

// ---- Refusals ----------------------------------------------------------------

TEST_F(RequestLinkTest, RefusesDigitsWithoutABuffer) {
  EXPECT_THROW(Send(1, nullptr, 2, 0, 0), std::invalid_argument);
  EXPECT_TRUE(recorder_.Calls().empty());
}

// ---- Coding --------------------------------------------------------------------

TEST_F(RequestLinkTest, CodesTheRequestOnAPrivateCopyAndPassesTheCallersBuffer) {
  uint8_t buffer[4] = {11, 2, 0xEE, 0xEE};
  recorder_.QueueReply(1, ScriptedReply::NoReply());
  EXPECT_EQ(Send(1, buffer, 2, 4, 11), 0);
  const auto transacts = recorder_.Transacts();
  ASSERT_EQ(transacts.size(), 1u);
  const RecordedCall& t = transacts[0];
  EXPECT_EQ(t.request, (std::vector<uint8_t>{0x59, 0x9A}));
  EXPECT_EQ(t.requestLength, 2);
  EXPECT_TRUE(t.replyPresent);
  EXPECT_EQ(t.replyLength, 4);
  EXPECT_EQ(t.replyType, 0x59);
  // The reply buffer the dispatcher saw is the caller's, still uncoded.
  EXPECT_EQ(t.replyAfterCheck, (std::vector<uint8_t>{11, 2, 0xEE, 0xEE}));
  EXPECT_EQ(buffer[0], 11);
  EXPECT_EQ(buffer[1], 2);
}

TEST_F(RequestLinkTest, CodesEveryDigitOfALongRequest) {
  std::vector<uint8_t> digits(255);
  for (std::size_t i = 0; i < digits.size(); ++i) digits[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> original = digits;
  Send(40, digits.data(), 255, 0, 0);
  const auto transacts = recorder_.Transacts();
  ASSERT_EQ(transacts.size(), 1u);
  ASSERT_EQ(transacts[0].request.size(), 255u);
  for (std::size_t i = 0; i < 255; ++i) {
    EXPECT_EQ(transacts[0].request[i], test::CodeDigit(static_cast<uint8_t>(i & 0x0F)));
  }
  EXPECT_EQ(digits, original);
}

TEST_F(RequestLinkTest, ReplyTypeZeroStaysZeroOthersAreCoded) {
  struct Case {
    uint8_t type, coded;
  };
  for (const Case c : {Case{0, 0}, Case{11, 0x59}, Case{1, 0x6A}, Case{3, 0x5A}, Case{4, 0xA6}}) {
    recorder_.ClearCalls();
    uint8_t buffer[15] = {8};
    Send(33, buffer, 1, 8, c.type);
    const auto transacts = recorder_.Transacts();
    ASSERT_EQ(transacts.size(), 1u);
    EXPECT_EQ(transacts[0].replyType, c.coded) << int{c.type};
  }
}

TEST_F(RequestLinkTest, BareFrameHasNoDigitsAndNoReplyBuffer) {
  EXPECT_EQ(SendBareFrame(35), 0);
  const auto transacts = recorder_.Transacts();
  ASSERT_EQ(transacts.size(), 1u);
  EXPECT_EQ(transacts[0].requestLength, 0);
  EXPECT_TRUE(transacts[0].request.empty());
  EXPECT_FALSE(transacts[0].replyPresent);
  EXPECT_EQ(transacts[0].replyLength, 0);
  EXPECT_EQ(transacts[0].replyType, 0);
}

// ---- The exchange ----------------------------------------------------------------

TEST_F(RequestLinkTest, GoodReplyIsDecodedInTheCallersBufferAndRecorded) {
  recorder_.QueueReply(3, ScriptedReply::Digits({11, 5}, 0x23));
  uint8_t buffer[4] = {11, 2, 0, 0};
  EXPECT_EQ(Send(3, buffer, 2, 4, 11), 0);
  EXPECT_EQ(buffer[0], 11);
  EXPECT_EQ(buffer[1], 5);
  EXPECT_EQ(buffer[2], 0);
  EXPECT_EQ(LinkStatus(3), kLinkGood);
  EXPECT_EQ(recorder_.Status(3), kLinkGood);
  EXPECT_EQ(recorder_.Error(3), 0);

  // The order of the calls: SetReplyChecker, Transact (during which the
  // checker reports status then error), then GetChannelStatus.
  const auto ops = recorder_.Ops();
  EXPECT_EQ(
      ops, (std::vector<DispatcherOp>{DispatcherOp::SetReplyChecker, DispatcherOp::Transact,
                                      DispatcherOp::SetChannelStatus, DispatcherOp::SetChannelError,
                                      DispatcherOp::GetChannelStatus}));
  const auto transacts = recorder_.Transacts();
  ASSERT_EQ(transacts.size(), 1u);
  EXPECT_TRUE(transacts[0].checkerCalled);
  EXPECT_TRUE(transacts[0].checkerResult);
  EXPECT_EQ(transacts[0].countAfterCheck, 3);
}

TEST_F(RequestLinkTest, TheRegisteredCheckerIsTheChannelsRegistration) {
  SendBareFrame(12);
  const auto checker = recorder_.ReplyChecker(12);
  ASSERT_TRUE(checker.has_value());
  EXPECT_NE(checker->code, nullptr);
  EXPECT_EQ(checker->data, static_cast<void*>(static_cast<ReplyChecker*>(&channels_[12])));
  // Calling it as a dispatcher does checks and reports on the channel.
  uint8_t bytes[3] = {0x59, 0x66, 0x00};
  uint8_t count = 3;
  uint8_t expected = 3;
  EXPECT_TRUE(recorder_.CallReplyChecker(12, bytes, count, expected));
  EXPECT_EQ(bytes[0], 11);
  EXPECT_EQ(recorder_.Status(12), kLinkGood);
}

TEST_F(RequestLinkTest, WrongLengthReplyGivesLinkFailedAndLengthError) {
  recorder_.QueueReply(4, ScriptedReply::Digits({11}));  // 2 bytes, 4 expected
  uint8_t buffer[4] = {11, 2, 0, 0};
  EXPECT_EQ(Send(4, buffer, 2, 4, 11), 0);
  EXPECT_EQ(LinkStatus(4), kLinkFailed);
  EXPECT_EQ(recorder_.Error(4), kErrReplyLength);
}

TEST_F(RequestLinkTest, NonZeroResultIsReturnedAndLinkStatusStillRecorded) {
  SetLinkStatus(6, kLinkGood);
  recorder_.SetStatus(6, kLinkFailed);
  recorder_.QueueReply(6, ScriptedReply::Failure(-7));
  uint8_t buffer[1] = {0};
  EXPECT_EQ(Send(6, buffer, 1, 1, 0), -7);
  EXPECT_EQ(LinkStatus(6), kLinkFailed);
  EXPECT_TRUE(recorder_.Calls(DispatcherOp::GetChannelError).empty());
}

TEST_F(RequestLinkTest, ExceptionInTransactGivesTheChannelErrorAndKeepsLinkStatus) {
  SetLinkStatus(8, kLinkGood);
  recorder_.SetStatus(8, kLinkFailed);
  recorder_.QueueReply(8, ScriptedReply::Throw(1234));
  uint8_t buffer[1] = {0};
  const auto begin = Clock::now();
  EXPECT_EQ(Send(8, buffer, 1, 1, 0), 1234);
  const auto elapsed = Clock::now() - begin;
  EXPECT_EQ(LinkStatus(8), kLinkGood);  // unchanged
  EXPECT_GE(elapsed, kPause);           // the pause is taken when Transact throws
  EXPECT_EQ(recorder_.Ops(),
            (std::vector<DispatcherOp>{DispatcherOp::SetReplyChecker, DispatcherOp::Transact,
                                       DispatcherOp::GetChannelError}));
  // The lock was left: the next request on the pair goes through.
  recorder_.QueueReply(7, ScriptedReply::Ack());
  EXPECT_EQ(Send(7, buffer, 1, 1, 0), 0);
  EXPECT_EQ(LinkStatus(7), kLinkGood);
}

TEST_F(RequestLinkTest, ExceptionInAWorkerTransactIsKeptToo) {
  recorder_.QueueReply(2, ScriptedReply::Throw(55));
  EXPECT_EQ(SendBareFrame(34), 55);
  EXPECT_EQ(LinkStatus(2), 0);
}

// A dispatcher whose SetReplyChecker throws: the exception reaches the caller
// and nothing is sent.
class ThrowingRegistration final : public PortDispatcher {
 public:
  int32_t GetChannelError(uint8_t) override { return 0; }
  void SetChannelError(uint8_t, int32_t) override {}
  void SetChannelStatus(uint8_t, uint8_t) override {}
  uint8_t GetChannelStatus(uint8_t) override { return 1; }
  int32_t ConfigureChannel(uint8_t, int32_t, uint32_t) override { return 0; }
  int32_t Transact(uint8_t, uint8_t, const uint8_t*, uint8_t, uint8_t*, uint8_t, uint8_t) override {
    ++transacts;
    return 0;
  }
  void SetReplyChecker(uint8_t, ReplyChecker&) override { throw std::runtime_error("refused"); }
  void SetMessageHook(uint8_t, MessageHook&) override {}
  void SetPostInit(uint8_t, PostInitHandler&) override {}
  int transacts = 0;
};

TEST(RequestLinkRegistration, ExceptionFromSetReplyCheckerReachesTheCaller) {
  ThrowingRegistration dispatcher;
  RequestLink link(dispatcher);
  Channel channel;
  channel.Attach(dispatcher, 1, channel);
  Frame frame{};
  EXPECT_THROW(link.SendRequest(channel, Origin::Host, &frame, 1, 1, 0), std::runtime_error);
  EXPECT_EQ(dispatcher.transacts, 0);
  EXPECT_EQ(channel.LinkStatus(), 0);
}

// ---- Locks and pauses -------------------------------------------------------------

// Runs count synchronous requests on each of the given addresses, one thread
// per address, all at once.
void RunConcurrently(const std::function<void(uint8_t)>& send,
                     const std::vector<uint8_t>& addresses, int count) {
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (const uint8_t address : addresses) {
    threads.emplace_back([&send, &go, address, count] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < count; ++i) send(address);
    });
  }
  go.store(true);
  for (auto& t : threads) t.join();
}

// Transacts sorted by start; each must begin at least 30 ms after the previous
// one ended (the lock is held across the pause).
void ExpectSerialisedWithPause(std::vector<RecordedCall> transacts) {
  std::sort(transacts.begin(), transacts.end(),
            [](const RecordedCall& a, const RecordedCall& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < transacts.size(); ++i) {
    const auto gap = transacts[i].start - transacts[i - 1].end;
    EXPECT_GE(gap, kPause) << "transact " << i << " on channel " << int{transacts[i].channel}
                           << " began "
                           << std::chrono::duration_cast<std::chrono::microseconds>(gap).count()
                           << " us after the previous one on channel "
                           << int{transacts[i - 1].channel};
  }
}

TEST_F(RequestLinkTest, SynchronousRequestsOnOneChannelArePaused) {
  for (int i = 0; i < 3; ++i) {
    uint8_t buffer[1] = {0};
    const auto begin = Clock::now();
    Send(5, buffer, 1, 1, 0);
    EXPECT_GE(Clock::now() - begin, kPause);
  }
  ExpectSerialisedWithPause(recorder_.Transacts());
}

TEST_F(RequestLinkTest, TheTwoChannelsOfALockPairAreSerialisedWithThePause) {
  recorder_.SetDefaultReply([] {
    ScriptedReply r = ScriptedReply::Ack();
    r.delay = 5ms;
    return r;
  }());
  for (const auto& pair : std::vector<std::vector<uint8_t>>{{1, 2}, {9, 10}, {29, 30}}) {
    recorder_.ClearCalls();
    RunConcurrently(SendAck(), pair, 4);
    const auto transacts = recorder_.Transacts();
    ASSERT_EQ(transacts.size(), 8u);
    ExpectSerialisedWithPause(transacts);
    // Each exchange was made on the calling host thread.
    for (const auto& t : transacts) EXPECT_NE(t.thread, std::this_thread::get_id());
  }
}

TEST_F(RequestLinkTest, ChannelsOfDifferentLocksOverlap) {
  // Channels 2 and 3 belong to locks 1 and 2: both Transacts can be inside the
  // dispatcher at once. Each waits for the other; with a shared lock they
  // could not meet.
  Rendezvous meeting;
  std::atomic<int> met{0};
  recorder_.SetResponder([&](const TransactRequest&) -> std::optional<ScriptedReply> {
    if (meeting.Arrive()) ++met;
    return ScriptedReply::Ack();
  });
  RunConcurrently(SendAck(), {2, 3}, 1);
  EXPECT_EQ(met.load(), 2);
}

TEST_F(RequestLinkTest, WorkerRequestsTakeNoLock) {
  // A worker request on channel 1 enters the dispatcher while a synchronous
  // request on the same channel holds the lock.
  Rendezvous meeting;
  std::atomic<int> met{0};
  recorder_.SetResponder([&](const TransactRequest&) -> std::optional<ScriptedReply> {
    if (meeting.Arrive()) ++met;
    return ScriptedReply::Ack();
  });
  std::thread host([this] {
    uint8_t buffer[1] = {0};
    Send(1, buffer, 1, 1, 0);
  });
  std::thread worker([this] {
    uint8_t buffer[1] = {0};
    Send(33, buffer, 1, 1, 0);
  });
  host.join();
  worker.join();
  EXPECT_EQ(met.load(), 2);
}

TEST_F(RequestLinkTest, ExchangesRunOnTheCallersThread) {
  std::thread::id callerThread;
  std::thread t([&] {
    callerThread = std::this_thread::get_id();
    SendBareFrame(15);
  });
  t.join();
  const auto calls = recorder_.Calls();
  ASSERT_FALSE(calls.empty());
  for (const auto& call : calls) EXPECT_EQ(call.thread, callerThread);
}

// ---- Requests from inside the dispatcher's exchange -----------------------------

// From inside the host's Transact for post 1, requests on post 2 (the pair's
// other channel) and on post 1 itself: the thread enters its pair's lock
// again, each request makes its own exchange with its pause, and each goes
// by its own reply, whichever check reports to the channel last.
TEST_F(RequestLinkTest, ARequestFromInsideTransactOnItsOwnPairMakesItsOwnExchange) {
  std::vector<Exchange> inner;
  recorder_.SetResponder([&](const TransactRequest& r) -> std::optional<ScriptedReply> {
    if (r.channel == 2) return ScriptedReply::Ack();
    if (!inner.empty()) return ScriptedReply::Raw({0, 0});  // post 1's nested reply: too long
    for (const uint8_t post : {uint8_t{2}, uint8_t{1}}) {
      uint8_t buffer[1] = {0};
      inner.push_back(SendEx(post, buffer, 1, 1, 0));
    }
    ScriptedReply own = ScriptedReply::Ack();
    own.statusAfter = kLinkFailed;  // as the nested check leaves it when it reports last
    return own;
  });
  Exchange outer;
  const auto begin = Clock::now();
  test::WithoutDeadlock([&] {
    uint8_t buffer[1] = {0};
    outer = SendEx(1, buffer, 1, 1, 0);
  });
  EXPECT_GE(Clock::now() - begin, 3 * kPause);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_TRUE(inner[0].Good());
  EXPECT_FALSE(inner[1].Good());
  EXPECT_TRUE(outer.Good());
  EXPECT_EQ(LinkStatus(1), kLinkGood);
}

// A Transact that asks again from inside every time: the request
// kPairDepth deep is refused before it is sent, and every one returns.
TEST_F(RequestLinkTest, RequestsNestedDeeperThanTheLimitAreRefused) {
  int refused = 0;
  recorder_.SetResponder([&](const TransactRequest&) -> std::optional<ScriptedReply> {
    try {
      uint8_t buffer[1] = {0};
      Send(1, buffer, 1, 1, 0);
    } catch (const EVu30Refused&) {
      ++refused;
    }
    return ScriptedReply::Ack();
  });
  uint8_t buffer[1] = {0};
  test::WithoutDeadlock([&] { EXPECT_EQ(Send(1, buffer, 1, 1, 0), 0); });
  EXPECT_EQ(recorder_.Transacts().size(), static_cast<std::size_t>(kPairDepth));
  EXPECT_EQ(refused, 1);
}

}  // namespace
}  // namespace vu30::link
