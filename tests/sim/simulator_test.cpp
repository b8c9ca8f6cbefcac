// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispenser_simulator.h"
#include "line_code.h"
#include "sim_test_driver.h"

namespace vu30::sim {
namespace {

using namespace std::chrono_literals;
using testing::Exchange;
using testing::SimFailure;
using testing::TestDriver;
using Digits = std::vector<uint8_t>;

SimOptions Instant() {
  SimOptions o;
  o.baud = 0;
  o.repeatTimeout = 100ms;
  o.doseRequestDelay = 0ms;
  return o;
}

// 1, 0, five dose digits, four price digits: the worker's figures answer.
Digits Figures(int dose, int price) {
  Digits d{1, 0};
  for (int div = 10000; div > 0; div /= 10) d.push_back(static_cast<uint8_t>(dose / div % 10));
  for (int div = 1000; div > 0; div /= 10) d.push_back(static_cast<uint8_t>(price / div % 10));
  return d;
}

int64_t Number(const Digits& d, size_t from, size_t k) {
  int64_t n = 0;
  for (size_t i = 0; i < k; ++i) n = n * 10 + d.at(from + i);
  return n;
}

TEST(SimRequests, RepliesAreLaidOutAsTheDriverReadsThem) {
  Simulator sim(Instant());
  TestDriver drv(sim);
  sim.SetCounter(9, 3, 1234567);

  // Counter of nozzle 3 on post 9 (line address 1): 10 digits, then the index.
  Exchange ex = drv.Send(9, false, {3, 2}, 13, 3);
  EXPECT_EQ(ex.result, 0);
  ASSERT_TRUE(ex.accepted);
  ASSERT_EQ(ex.reply.size(), 12u);
  EXPECT_EQ(ex.reply[0], 1) << "position 0 carries the line address";
  EXPECT_EQ(Number(ex.reply, 1, 10), 1234567);
  EXPECT_EQ(ex.reply[11], 2);
  EXPECT_EQ(sim.ChannelStatus(9), VU30_LINK_GOOD);

  // Price for nozzle 2: acknowledged with the single zero byte, and kept.
  ex = drv.Send(9, false, {2, 1, 4, 1, 3, 0}, 1, 0);
  EXPECT_EQ(ex.result, 0);
  EXPECT_TRUE(ex.accepted);
  EXPECT_EQ(ex.count, 1);
  EXPECT_EQ(sim.Price(9, 2), 4130);

  // State of an idle post: digit 1; final figures before any sale: zeros.
  ex = drv.Send(9, false, {11, 2}, 4, 11);
  ASSERT_TRUE(ex.accepted);
  EXPECT_EQ(ex.reply[1], 1);
  ex = drv.Send(9, false, {4}, 15, 1);
  ASSERT_TRUE(ex.accepted);
  EXPECT_EQ(Number(ex.reply, 1, 10), 0);
}

TEST(SimRequests, MalformedRequestsGetNoAnswerAndChangeNothing) {
  Simulator sim(Instant());
  TestDriver drv(sim);
  const Vu30DispatcherTable& t = drv.Table();
  Vu30Dispatcher* d = sim.Dispatcher();

  // A reply length the dispenser does not give (counter asked with 4 bytes).
  EXPECT_EQ(drv.Send(1, false, {3, 0}, 4, 3).result, kResultNoReply);
  EXPECT_EQ(sim.ChannelStatus(1), VU30_LINK_FAILED);
  // The wrong reply type for the command.
  EXPECT_EQ(drv.Send(1, false, {3, 0}, 13, 4).result, kResultNoReply);
  // An unknown command, and a price request of the wrong length.
  EXPECT_EQ(drv.Send(1, false, {7}, 1, 0).result, kResultNoReply);
  EXPECT_EQ(drv.Send(1, false, {2, 0, 1, 2, 3}, 1, 0).result, kResultNoReply);
  EXPECT_EQ(sim.Price(1, 1), 0);

  // A garbled request byte.
  const uint8_t garbled[] = {EncodeDigit(2), 0x6B,           EncodeDigit(1),
                             EncodeDigit(2), EncodeDigit(3), EncodeDigit(4)};
  uint8_t reply[1] = {0xEE};
  EXPECT_EQ(t.Transact(d, 1, 1, garbled, 6, reply, 1, 0), kResultNoReply);
  EXPECT_EQ(sim.Price(1, 1), 0);
  EXPECT_EQ(reply[0], 0xEE) << "nothing written without an answer";

  // A line address of another dispenser on the channel, and malformed calls.
  const uint8_t price[] = {EncodeDigit(2), EncodeDigit(0), EncodeDigit(1),
                           EncodeDigit(2), EncodeDigit(3), EncodeDigit(4)};
  EXPECT_EQ(t.Transact(d, 1, 2, price, 6, reply, 1, 0), kResultNoReply);
  EXPECT_EQ(t.Transact(d, 1, 1, price, 6, nullptr, 1, 0), kResultBadArguments);
  EXPECT_EQ(t.Transact(d, 0, 1, price, 6, reply, 1, 0), kResultBadArguments);
  EXPECT_EQ(t.Transact(d, 31, 7, price, 6, reply, 1, 0), kResultBadArguments);
  EXPECT_EQ(sim.Price(1, 1), 0);

  EXPECT_THROW(sim.LiftNozzle(0, 1), std::invalid_argument);
  EXPECT_THROW(sim.LiftNozzle(1, 9), std::invalid_argument);
  EXPECT_THROW(sim.LiftNozzle(1, 5), std::invalid_argument) << "the post has 4 nozzles";
  EXPECT_THROW(sim.ConfigurePost(1, PostConfig{1, 0, 4, 1.0}), std::invalid_argument);
  EXPECT_EQ(sim.PhaseOf(1), Phase::Idle);
}

TEST(SimRequests, ConfigureChannelAndPostInitAreKept) {
  Simulator sim(Instant());
  Vu30Dispatcher* d = sim.Dispatcher();
  EXPECT_EQ(d->table->ConfigureChannel(d, 4, VU30_CONFIGURE_MODE, 0x040004B0u), 0);
  EXPECT_EQ(sim.LineSettings(4), 0x040004B0u);
  EXPECT_NE(d->table->ConfigureChannel(d, 31, VU30_CONFIGURE_MODE, 1), 0);

  struct Seen {
    int post = 0;
  } seen;
  auto init = +[](void* data, uint8_t post) { static_cast<Seen*>(data)->post = post; };
  EXPECT_FALSE(sim.InitPost(4));
  d->table->SetPostInit(d, 4, Vu30BoundMethod{std::bit_cast<void*>(init), &seen});
  EXPECT_TRUE(sim.InitPost(4));
  EXPECT_EQ(seen.post, 4);
}

// A whole sale, the driver's answers given by hand: the messages as the
// dispenser sends them.
TEST(SimSale, FlowsTheReleasedDoseAndReportsIt) {
  Simulator sim(Instant());
  TestDriver drv(sim);
  drv.RegisterHook(3);

  sim.LiftNozzle(3, 2);
  auto msg = drv.NextMessage(3);
  ASSERT_TRUE(msg);
  EXPECT_EQ(*msg, (Digits{0, 1, 0})) << "price request for nozzle index 1";
  const Digits raw = drv.RawOfLastMessage();
  ASSERT_EQ(raw.size(), 5u);
  EXPECT_EQ(raw[0], 0x23) << "uncoded address byte of line address 3";
  EXPECT_EQ(raw.back(), 0);
  EXPECT_EQ(sim.PhaseOf(3), Phase::PriceRequested);

  EXPECT_EQ(drv.Send(3, true, Figures(0, 4130), 1, 0).result, 0);
  EXPECT_EQ(sim.PhaseOf(3), Phase::AwaitingStart);
  EXPECT_EQ(sim.Price(3, 2), 4130);
  // While the nozzle is lifted the state reply says so.
  Exchange st = drv.Send(3, false, {11, 2}, 4, 11);
  ASSERT_TRUE(st.accepted);
  EXPECT_EQ(st.reply[1], 0);
  EXPECT_EQ(st.reply[2], 1);

  ASSERT_TRUE(drv.Send(3, false, {0}, 1, 0).accepted);  // start
  msg = drv.NextMessage(3);
  ASSERT_TRUE(msg);
  EXPECT_EQ(*msg, (Digits{8, 1, 0})) << "dose request for the lifted nozzle";

  EXPECT_EQ(drv.Send(3, true, Figures(1211, 4130), 1, 0).result, 0);
  ASSERT_TRUE(sim.WaitForSales(3, 1, 5s));
  msg = drv.NextMessage(3);
  ASSERT_TRUE(msg);
  ASSERT_EQ(msg->size(), 12u);
  EXPECT_EQ((*msg)[0], 1);
  EXPECT_EQ(Number(*msg, 1, 5), 1211);
  EXPECT_EQ(Number(*msg, 6, 5), 50014) << "12.11 L at 41.30 is 500.14";
  EXPECT_EQ((*msg)[11], 1);
  EXPECT_EQ(sim.PhaseOf(3), Phase::Reporting);

  drv.Send(3, true, {}, 0, 0);  // acknowledgement
  EXPECT_EQ(sim.PhaseOf(3), Phase::Idle);

  // The sale's record, final and running figures as the host reads them:
  // e2e VolumePresetSaleOnOnePost.
  EXPECT_EQ(drv.NextMessage(3, 300ms), std::nullopt) << "no report after its acknowledgement";
}

TEST(SimSale, StopEndsTheFlowAndCountsWhatFlowed) {
  Simulator sim(Instant());
  TestDriver drv(sim);
  sim.ConfigurePost(7, PostConfig{0, 100, 4, 2.0});
  drv.RegisterHook(7);
  sim.LiftNozzle(7, 4);
  ASSERT_TRUE(drv.NextMessage(7));
  drv.Send(7, true, Figures(0, 5000), 1, 0);
  drv.Send(7, false, {0}, 1, 0);
  ASSERT_TRUE(drv.NextMessage(7));
  drv.Send(7, true, Figures(99999, 5000), 1, 0);  // 999.99 L: far more than will flow
  ASSERT_EQ(sim.PhaseOf(7), Phase::Flowing);
  std::this_thread::sleep_for(100ms);
  Exchange run = drv.Send(7, false, {8}, 8, 4);
  ASSERT_TRUE(run.accepted);
  const int64_t seen = Number(run.reply, 1, 5);
  EXPECT_EQ(run.reply[6], 3);

  ASSERT_TRUE(drv.Send(7, false, {5}, 1, 0).accepted);
  const auto sales = sim.SalesOf(7);
  ASSERT_EQ(sales.size(), 1u);
  EXPECT_GE(sales[0].volume, seen);
  EXPECT_LT(sales[0].volume, 99999);
  EXPECT_EQ(sim.Counter(7, 4), sales[0].volume);
  EXPECT_EQ(sales[0].money, (sales[0].volume * 5000 + 50) / 100);
  const auto report = drv.NextMessage(7);
  ASSERT_TRUE(report);
  EXPECT_EQ(Number(*report, 1, 5), sales[0].volume);
}

TEST(SimMessages, UnansweredMessagesAreRepeatedAndLateAnswersIgnored) {
  SimOptions o = Instant();
  o.addressByteInMessages = false;
  Simulator sim(o);
  TestDriver drv(sim);
  drv.RegisterHook(1);
  sim.LiftNozzle(1, 3);
  auto first = drv.NextMessage(1);
  auto second = drv.NextMessage(1);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, (Digits{0, 2, 0}));
  EXPECT_EQ(*second, (Digits{9, 2, 0})) << "a repeat leaves the post's state alone";
  EXPECT_EQ(drv.RawOfLastMessage().size(), 4u) << "no address byte when switched off";

  drv.Send(1, true, Figures(0, 1000), 1, 0);
  drv.Send(1, true, Figures(0, 1000), 1, 0);  // duplicate answer to the repeat
  drv.Send(1, true, {}, 0, 0);                // a stray bare frame while nothing is outstanding
  EXPECT_EQ(sim.PhaseOf(1), Phase::AwaitingStart);
  EXPECT_EQ(sim.Price(1, 3), 1000);
  EXPECT_TRUE(sim.SalesOf(1).empty());
}

TEST(SimMessages, StartBeforeThePriceAnswerAsksForTheDoseAfterIt) {
  Simulator sim(Instant());
  TestDriver drv(sim);
  drv.RegisterHook(4);
  sim.LiftNozzle(4, 1);
  ASSERT_TRUE(drv.NextMessage(4));
  drv.Send(4, false, {0}, 1, 0);
  EXPECT_EQ(sim.PhaseOf(4), Phase::PriceRequested);
  drv.Send(4, true, Figures(0, 1000), 1, 0);
  EXPECT_EQ(sim.PhaseOf(4), Phase::DoseRequested);
  auto msg = drv.NextMessage(4);
  while (msg && (*msg)[0] != 8) msg = drv.NextMessage(4);  // skip price repeats
  ASSERT_TRUE(msg);
  EXPECT_EQ(*msg, (Digits{8, 0, 0}));
}

TEST(SimFaults, FramesNotReceivedAreNotActedOn) {
  SimOptions o = Instant();
  o.faultRate = 1.0;
  o.faultKinds = static_cast<unsigned>(Fault::FailedResult);
  Simulator sim(o);
  TestDriver drv(sim);
  Exchange ex = drv.Send(1, false, {2, 0, 1, 2, 3, 4}, 1, 0);
  EXPECT_EQ(ex.result, kResultLineFault);
  EXPECT_FALSE(ex.checked);
  EXPECT_EQ(sim.Price(1, 1), 0);
  EXPECT_EQ(sim.ChannelStatus(1), VU30_LINK_FAILED);
  EXPECT_EQ(sim.FaultCount(Fault::FailedResult), 1u);

  SimOptions e = o;
  e.faultKinds = static_cast<unsigned>(Fault::Exception);
  Simulator throwing(e);
  TestDriver drv2(throwing);
  EXPECT_THROW(drv2.Send(1, false, {2, 0, 1, 2, 3, 4}, 1, 0), SimFailure);
  EXPECT_EQ(throwing.Price(1, 1), 0);
  EXPECT_NE(throwing.ChannelError(1), 0) << "the driver turns the channel error into its result";
}

TEST(SimFaults, DamagedRepliesAreRejectedByTheCheckerButActedOn) {
  SimOptions o = Instant();
  o.faultRate = 1.0;
  o.faultKinds = static_cast<unsigned>(Fault::MalformedByte);
  Simulator sim(o);
  TestDriver drv(sim);
  for (int i = 0; i < 20; ++i) {
    Exchange ex = drv.Send(1, false, {2, 0, 1, 2, 3, 4}, 1, 0);
    EXPECT_EQ(ex.result, 0);
    ASSERT_TRUE(ex.checked);
    EXPECT_FALSE(ex.accepted);
    EXPECT_EQ(sim.ChannelError(1), VU30_ERR_REPLY_FORMAT);
    ex = drv.Send(1, false, {3, 0}, 13, 3);
    ASSERT_TRUE(ex.checked);
    EXPECT_FALSE(ex.accepted) << "damaged at any position of a long reply";
  }
  EXPECT_EQ(sim.Price(1, 1), 1234);

  o.faultKinds = static_cast<unsigned>(Fault::WrongLength);
  Simulator shortReplies(o);
  TestDriver drv2(shortReplies);
  Exchange ex = drv2.Send(1, false, {3, 0}, 13, 3);
  ASSERT_TRUE(ex.checked);
  EXPECT_FALSE(ex.accepted);
  EXPECT_EQ(ex.count, 12);
  EXPECT_EQ(shortReplies.ChannelError(1), VU30_ERR_REPLY_LENGTH);
}

TEST(SimFaults, LostMessagesAreRepeatedUntilOneArrives) {
  SimOptions o = Instant();
  o.faultRate = 0.5;
  o.faultKinds = static_cast<unsigned>(Fault::LostMessage);
  o.repeatTimeout = 20ms;
  o.seed = 7;
  Simulator sim(o);
  TestDriver drv(sim);
  drv.RegisterHook(1);
  sim.LiftNozzle(1, 1);
  int received = 0;
  while (received < 10) {
    ASSERT_TRUE(drv.NextMessage(1, 5s));
    ++received;
  }
  EXPECT_GT(sim.FaultCount(Fault::LostMessage), 0u);
  EXPECT_EQ(sim.MessagesSent(), received + sim.FaultCount(Fault::LostMessage));
}

}  // namespace
}  // namespace vu30::sim
