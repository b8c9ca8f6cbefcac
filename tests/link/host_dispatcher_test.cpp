// SPDX-License-Identifier: MIT
// The adapter from the link layer's PortDispatcher to the host's
// C-style dispatcher table, and its bound-method thunks.
#include "link/host_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host_failure.h"
#include "platform/call_into_host.h"
#include "support/host_threads.h"
#include "support/recording_dispatcher.h"

namespace vu30::link {
namespace {

using test::DispatcherOp;
using test::RecordingDispatcher;

// One object with all three callback interfaces, as the driver object has:
// the thunks must reach the right base of it.
class AllCallbacks final : public ReplyChecker, public MessageHook, public PostInitHandler {
 public:
  bool CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved, uint8_t& count,
                  uint8_t& expected) override {
    checks.push_back({channel, buffer[0], reserved, count, expected});
    if (blocking) {
      entered = true;  // waits, as for a dispatcher function of the host
      std::this_thread::sleep_for(std::chrono::seconds(10));
    }
    count = static_cast<uint8_t>(count - 1);
    if (throwing) throw std::runtime_error("check failed");
    return accept;
  }
  void RouteMessage(uint8_t workerAddress, uint8_t* buffer, int32_t reserved,
                    uint8_t length) override {
    messages.push_back({workerAddress, buffer[0], reserved, length, 0});
    buffer[0] = 0x77;
    if (throwing) throw std::runtime_error("hook failed");
  }
  void PreparePost(uint8_t post) override {
    posts.push_back(post);
    if (throwing) throw 42;  // not even a std::exception
  }

  struct Seen {
    int a, b, c, d, e;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> checks, messages;
  std::vector<uint8_t> posts;
  bool accept = true;
  bool throwing = false;
  bool blocking = false;
  std::atomic<bool> entered{false};
};

class HostDispatcherTest : public ::testing::Test {
 protected:
  RecordingDispatcher recorder_;
  HostDispatcher dispatcher_{recorder_.Host()};
  AllCallbacks callbacks_;
};

TEST_F(HostDispatcherTest, ChannelOperationsReachTheHostTable) {
  dispatcher_.SetChannelStatus(3, 1);
  dispatcher_.SetChannelError(3, 0xDB);
  EXPECT_EQ(dispatcher_.GetChannelStatus(3), 1);
  EXPECT_EQ(dispatcher_.GetChannelError(3), 0xDB);
  EXPECT_EQ(dispatcher_.ConfigureChannel(7, 3, 0x050004B0u), 0);
  const auto calls = recorder_.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].op, DispatcherOp::SetChannelStatus);
  EXPECT_EQ(calls[1].op, DispatcherOp::SetChannelError);
  EXPECT_EQ(calls[2].op, DispatcherOp::GetChannelStatus);
  EXPECT_EQ(calls[3].op, DispatcherOp::GetChannelError);
  EXPECT_EQ(calls[4].op, DispatcherOp::ConfigureChannel);
  EXPECT_EQ(calls[4].channel, 7);
  EXPECT_EQ(calls[4].value, 3);
  EXPECT_EQ(calls[4].lineSettings, 0x050004B0u);
}

TEST_F(HostDispatcherTest, TransactPassesEveryArgument) {
  const uint8_t request[2] = {0x59, 0x9A};
  uint8_t reply[4] = {1, 2, 3, 4};
  recorder_.QueueReply(9, test::ScriptedReply::Failure(17));
  EXPECT_EQ(dispatcher_.Transact(9, 1, request, 2, reply, 4, 0x59), 17);
  const auto t = recorder_.Transacts();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].channel, 9);
  EXPECT_EQ(t[0].lineAddress, 1);
  EXPECT_EQ(t[0].request, (std::vector<uint8_t>{0x59, 0x9A}));
  EXPECT_TRUE(t[0].replyPresent);
  EXPECT_EQ(t[0].replyLength, 4);
  EXPECT_EQ(t[0].replyType, 0x59);
}

TEST_F(HostDispatcherTest, TransactExceptionsPassThrough) {
  recorder_.QueueReply(9, test::ScriptedReply::Throw(5));
#if defined(_WIN32)
  // The host's structured exception, caught by the guard, with its record.
  try {
    dispatcher_.Transact(9, 1, nullptr, 0, nullptr, 0, 0);
    ADD_FAILURE() << "Transact returned";
  } catch (const platform::HostFault& fault) {
    EXPECT_EQ(fault.Record().code, host::kHostFailureCode);
    EXPECT_EQ(fault.Record().flags & 1u, 1u);  // non-continuable
  }
#else
  EXPECT_THROW(dispatcher_.Transact(9, 1, nullptr, 0, nullptr, 0, 0), std::runtime_error);
#endif
}

TEST_F(HostDispatcherTest, ReplyCheckerIsBoundToTheCheckerBase) {
  dispatcher_.SetReplyChecker(4, callbacks_);
  const auto method = recorder_.ReplyChecker(4);
  ASSERT_TRUE(method.has_value());
  EXPECT_NE(method->code, nullptr);
  EXPECT_EQ(method->data, static_cast<void*>(static_cast<ReplyChecker*>(&callbacks_)));

  uint8_t buffer[3] = {0x59, 0x66, 0x00};
  uint8_t count = 3;
  uint8_t expected = 3;
  EXPECT_TRUE(recorder_.CallReplyChecker(4, buffer, count, expected));
  EXPECT_EQ(count, 2);  // changed through the pointer
  callbacks_.accept = false;
  count = 3;
  EXPECT_FALSE(recorder_.CallReplyChecker(4, buffer, count, expected));
  ASSERT_EQ(callbacks_.checks.size(), 2u);
  EXPECT_EQ(callbacks_.checks[0], (AllCallbacks::Seen{4, 0x59, 0, 3, 3}));
  // An exception in the check stays in the driver: the reply counts as rejected.
  callbacks_.accept = true;
  callbacks_.throwing = true;
  count = 3;
  EXPECT_FALSE(recorder_.CallReplyChecker(4, buffer, count, expected));
}

TEST_F(HostDispatcherTest, MessageHookIsCalledWithTheWorkerAddressAndCatchesEverything) {
  dispatcher_.SetMessageHook(5, callbacks_);
  const auto method = recorder_.MessageHook(5);
  ASSERT_TRUE(method.has_value());
  EXPECT_EQ(method->data, static_cast<void*>(static_cast<MessageHook*>(&callbacks_)));

  auto left = recorder_.DeliverMessage(5, {0xA9, 0x6A, 0x9A, 0x00});
  ASSERT_EQ(callbacks_.messages.size(), 1u);
  EXPECT_EQ(callbacks_.messages[0], (AllCallbacks::Seen{37, 0xA9, 0, 4, 0}));
  EXPECT_EQ(left[0], 0x77);  // the hook works on the dispatcher's buffer

  callbacks_.throwing = true;
  EXPECT_NO_THROW(recorder_.DeliverMessage(5, {0xA9, 0x6A, 0x9A, 0x00}));
  EXPECT_EQ(callbacks_.messages.size(), 2u);
}

TEST_F(HostDispatcherTest, PostInitIsCalledWithThePostAndCatchesEverything) {
  dispatcher_.SetPostInit(6, callbacks_);
  const auto method = recorder_.PostInit(6);
  ASSERT_TRUE(method.has_value());
  EXPECT_EQ(method->data, static_cast<void*>(static_cast<PostInitHandler*>(&callbacks_)));
  EXPECT_TRUE(recorder_.CallPostInit(6));
  callbacks_.throwing = true;
  EXPECT_NO_THROW(recorder_.CallPostInit(6));
  EXPECT_EQ(callbacks_.posts, (std::vector<uint8_t>{6, 6}));
}

#if !defined(_WIN32)
// A thread cancelled inside the reply check (here in a wait of its own, as
// in a dispatcher function of the host it calls) ends cancelled: the thunk
// keeps every exception of the driver from the dispatcher but that one.
TEST_F(HostDispatcherTest, AThreadCancelledInsideTheReplyCheckEndsCancelled) {
  dispatcher_.SetReplyChecker(4, callbacks_);
  callbacks_.blocking = true;
  EXPECT_EQ(test::CancelInside(
                [this] {
                  uint8_t buffer[3] = {0x59, 0x66, 0x00};
                  uint8_t count = 3;
                  uint8_t expected = 3;
                  recorder_.CallReplyChecker(4, buffer, count, expected);
                },
                [this] { return callbacks_.entered.load(); }),
            PTHREAD_CANCELED);
}
#endif

TEST(HostDispatcherMissingEntries, AMissingTableEntryIsAnError) {
  const Vu30DispatcherTable empty{};
  Vu30Dispatcher host{&empty};
  HostDispatcher dispatcher(&host);
  EXPECT_THROW(dispatcher.Transact(1, 1, nullptr, 0, nullptr, 0, 0), std::logic_error);
  EXPECT_THROW((void)dispatcher.GetChannelStatus(1), std::logic_error);
  AllCallbacks callbacks;
  EXPECT_THROW(dispatcher.SetReplyChecker(1, callbacks), std::logic_error);
}

}  // namespace
}  // namespace vu30::link
