// SPDX-License-Identifier: MIT
// Running and final figures, the plausibility guard, the over-dose
// bookkeeping, counters, state codes, the capability table.
#include <algorithm>
#include <chrono>
#include <thread>

#include "driver_fixture.h"
#include "vu30.h"

namespace vu30::test {
namespace {

using Digits = std::vector<uint8_t>;

// A running-figure reply: position 0, five volume digits, one more digit.
// (Sized first and copied: GCC 12 at -O3 warns falsely on inserting into a
// one-digit vector.)
Digits Running(const Digits& volume) {
  Digits d(volume.size() + 2, 0);
  std::copy(volume.begin(), volume.end(), d.begin() + 1);
  return d;
}
// A final-figure reply: position 0, five volume digits, eight more digits.
Digits Final(const Digits& volume) {
  Digits d(std::max<size_t>(14, volume.size() + 1), 0);
  std::copy(volume.begin(), volume.end(), d.begin() + 1);
  return d;
}

TEST_F(DriverTest, RunningFiguresInHundredthsOrImpulses) {
  Open(1);
  driver_->SetPrice(1, 2, 45.5);
  driver_->PresetVolume(1, 2, 50);
  ReplyWith(Running({0, 1, 2, 3, 4}));
  double money = -1;
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 1, &money), 12.34);
  EXPECT_NEAR(money, 561.47, 1e-9);
  const Frame frame = dispenser_->Frames().back();
  EXPECT_EQ(frame.digits, (Digits{8}));
  EXPECT_EQ(frame.replyLength, 8);
  EXPECT_EQ(frame.replyType, 4);

  Open(2, config::kTypeFAS, 50);
  driver_->PresetVolume(2, 1, 50);
  ReplyWith(Running({0, 0, 5, 0, 0}));
  EXPECT_DOUBLE_EQ(driver_->PollDispense(2, 1, &money), 10.0);  // 500 impulses / 50
  // Final figures are hundredths on every port type.
  ReplyWith(Final({0, 0, 5, 0, 0}));
  EXPECT_DOUBLE_EQ(driver_->PollDispense(2, 2, &money), 5.0);
  EXPECT_EQ(dispenser_->Frames().back().replyType, 1);
}

// Creating another driver object reloads the port types, but a post this
// driver has opened stays opened: its readings are still counted in impulses.
// Once its driver is gone, the next load forgets the post.
TEST_F(DriverTest, ASecondDriverKeepsThePostsTheFirstOpened) {
  windir_->WriteIni("[COMTypeTRK]\nCOM_2_TYPE=1\nCOM_2_IMPL=50\n");
  Open(2, config::kTypeFAS, 50);
  driver_->PresetVolume(2, 1, 50);
  ReplyWith(Running({0, 0, 5, 0, 0}));
  double money = 0;
  {
    RecordingDispatcher other;
    driver::ZUD30 second(std::make_unique<link::HostDispatcher>(other.Host()));
    EXPECT_DOUBLE_EQ(driver_->PollDispense(2, 1, &money), 10.0);  // 500 impulses / 50
  }
  driver_.reset();
  RecordingDispatcher third;
  driver::ZUD30 next(std::make_unique<link::HostDispatcher>(third.Host()));
  EXPECT_EQ(config::PortTypes().GetPortType(2), config::kPortNotInUse);
}

TEST_F(DriverTest, ReadingsRefusedWithoutAWorkerOrWithAZeroImpulsesFactor) {
  double money = 0, volume = 0;
  EXPECT_THROW(driver_->PollDispense(9, 1, &money), EVu30Refused);
  EXPECT_THROW(driver_->ReadFinalDispense(9, &volume, &money), EVu30Refused);
  Open(9, config::kTypeER112, 0);
  EXPECT_THROW(driver_->PollDispense(9, 1, &money), EVu30Refused);
  EXPECT_TRUE(dispenser_->Frames().empty());
}

TEST_F(DriverTest, AReadingWithoutAPresetCostsNothing) {
  Open(1);
  driver_->SetPrice(1, 1, 40);
  ReplyWith(Running({0, 0, 1, 5, 0}));
  double money = -1;
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 1, &money), 1.5);
  EXPECT_EQ(money, 0.0);
  // With no dose to measure against, a jump of more than 2 litres is implausible.
  ReplyWith(Running({0, 0, 4, 0, 0}));
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 1, &money), 1.5);
}

TEST_F(DriverTest, ThePlausibilityGuardRejectsOnlyJumpsBeyondTheDose) {
  Open(1);
  driver_->SetPrice(1, 1, 2.0);
  driver_->PresetVolume(1, 1, 20.0);
  double money = 0;
  auto poll = [&](Digits volume) {
    ReplyWith(Running(volume));
    return driver_->PollDispense(1, 1, &money);
  };
  EXPECT_DOUBLE_EQ(poll({0, 1, 0, 0, 0}), 10.0);  // within 2 litres of 0? no, but within the dose
  EXPECT_DOUBLE_EQ(poll({0, 1, 2, 0, 0}), 12.0);
  EXPECT_DOUBLE_EQ(poll({0, 2, 0, 0, 2}), 20.02);  // the dose plus 0.02 stands
  EXPECT_DOUBLE_EQ(poll({0, 2, 5, 0, 0}), 20.02);  // beyond both: the last reading stays
  EXPECT_DOUBLE_EQ(money, 40.04);
  EXPECT_DOUBLE_EQ(poll({0, 0, 0, 5, 0}), 0.5);  // a falling reading always stands
  EXPECT_DOUBLE_EQ(poll({0, 2, 5, 0, 0}), 0.5);  // and is the last reading from then on
  ReplyWith(Final({0, 3, 0, 0, 0}));             // final figures are guarded too...
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 2, &money), 0.5);
  ReplyWith(Final({0, 1, 5, 0, 0}));
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 2, &money), 15.0);
  EXPECT_DOUBLE_EQ(poll({0, 2, 5, 0, 0}), 0.5);  // ...but never move the last reading
}

TEST_F(DriverTest, RejectedPollsReportThroughTheLinkStatusAndKeepTheBookkeeping) {
  Open(1);
  driver_->PresetVolume(1, 1, 10.0);
  double money = 0;
  ReplyWith(Running({0, 1, 0, 0, 0}));
  driver_->PollDispense(1, 1, &money);
  EXPECT_EQ(driver_->OverDoseCount(1), 1);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{1, 2}}; });  // wrong length
  EXPECT_EQ(driver_->PollDispense(1, 1, &money), 0.0);
  EXPECT_EQ(money, 0.0);
  EXPECT_EQ(driver_->GetLinkStatus(1), 3);
  EXPECT_EQ(driver_->OverDoseCount(1), 1);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 9}; });
  EXPECT_THROW(driver_->PollDispense(1, 1, &money), ESerialIO);
  EXPECT_THROW(driver_->PollDispense(1, 2, &money), ESerialIO);
  EXPECT_EQ(driver_->OverDoseCount(1), 1);
  ReplyWith(Running({0, 2, 5, 0, 0}));  // implausible: the last accepted reading stays
  EXPECT_DOUBLE_EQ(driver_->PollDispense(1, 1, &money), 10.0);
}

TEST_F(DriverTest, PollsSlowDownOnceTheDoseWasReachedThreeTimes) {
  Open(1);
  driver_->PresetVolume(1, 1, 10.0);
  double money = 0;
  ReplyWith(Running({0, 1, 0, 0, 0}));
  for (int i = 0; i < 3; ++i) driver_->PollDispense(1, 1, &money);
  EXPECT_EQ(driver_->OverDoseCount(1), 3);
  const auto start = std::chrono::steady_clock::now();
  driver_->PollDispense(1, 1, &money);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(driver_->OverDoseCount(1), 4);
  ReplyWith(Running({0, 0, 9, 9, 9}));
  driver_->PollDispense(1, 1, &money);  // below the dose: the count starts again
  EXPECT_EQ(driver_->OverDoseCount(1), 0);
}

TEST_F(DriverTest, FinalReadNeedsAPendingSaleOfThatPost) {
  Open(1);
  Open(2);
  driver_->SetPrice(1, 1, 2.0);
  Reach(1, 0xC8);
  driver_->PresetVolume(1, 1, 20.0);
  double volume = -1, money = -1;
  driver_->ReadFinalDispense(1, &volume, &money);  // nothing pending: idle, no exchange
  EXPECT_EQ(volume, 0.0);
  EXPECT_TRUE(dispenser_->Frames().empty());
  EXPECT_EQ(State(1), 0xC0);

  // Both posts have answered a price request: both sales are pending.
  dispenser_->SendMessage(1, {0, 0, 0});
  dispenser_->SendMessage(2, {0, 0, 0});
  ASSERT_TRUE(dispenser_->WaitForFrames(2));
  ReplyWith(Final({0, 1, 5, 0, 0}));
  driver_->ReadFinalDispense(1, &volume, &money);
  EXPECT_DOUBLE_EQ(volume, 15.0);
  EXPECT_DOUBLE_EQ(money, 30.0);
  EXPECT_FALSE(SalePending(1));
  EXPECT_TRUE(SalePending(2));  // the other post's sale is still there
}

TEST_F(DriverTest, FinalReadOnABusyFasPostWaitsAndARejectedOneStaysPending) {
  Open(3, config::kTypeFAS, 50);
  Reach(3, 0xDA);  // a dose released: a sale is pending
  double volume = -1, money = -1;
  driver_->ReadFinalDispense(3, &volume, &money);
  EXPECT_TRUE(dispenser_->Frames().empty());
  EXPECT_EQ(State(3), 0xDA);
  driver_->StopPump(3, 0);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{1}}; });  // rejected reply
  driver_->ReadFinalDispense(3, &volume, &money);
  EXPECT_EQ(volume, 0.0);
  EXPECT_TRUE(SalePending(3));
  // A worker's good exchange on the same channel sets the channel's status
  // before the host reads it: the reply the host's check rejected still fails.
  dispenser_->SetAnswer([](const Frame&) {
    Answer rejected{{1}};
    rejected.statusAfter = 1;
    return rejected;
  });
  driver_->ReadFinalDispense(3, &volume, &money);
  EXPECT_EQ(driver_->GetLinkStatus(3), 3);
  EXPECT_TRUE(SalePending(3));
}

TEST_F(DriverTest, CounterOfANozzle) {
  ReplyWith({0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 2});
  double counter = -1, second = -1;
  driver_->ReadCounter(4, 3, &counter, &second);
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{3, 2}));
  EXPECT_EQ(dispenser_->Frames().back().replyType, 3);
  EXPECT_DOUBLE_EQ(counter, 1234.56);
  EXPECT_EQ(second, 0.0);
  EXPECT_EQ(driver_->GetLinkStatus(4), 1);
  // The reply names another nozzle: no figure and a failed link.
  ReplyWith({0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 1});
  driver_->ReadCounter(4, 3, &counter, &second);
  EXPECT_EQ(counter, 0.0);
  EXPECT_EQ(driver_->GetLinkStatus(4), 3);
  EXPECT_THROW(driver_->ReadCounter(4, 0, &counter, &second), EVu30Refused);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 1}; });
  counter = 7;
  EXPECT_THROW(driver_->ReadCounter(4, 3, &counter, &second), ESerialIO);
  EXPECT_EQ(counter, 7.0);  // untouched when the exchange fails
}

TEST_F(DriverTest, PumpStateAsksOnlyAnIdleFasDispenser) {
  driver_->SetLinkStatus(1, 3);
  EXPECT_EQ(driver_->GetPumpState(1), 0xC0);  // never opened: stored code, link good
  EXPECT_EQ(driver_->GetLinkStatus(1), 1);
  EXPECT_TRUE(dispenser_->Frames().empty());

  Open(2, config::kTypeFAS, 50);
  ReplyWith({0, 0, 2});
  EXPECT_EQ(driver_->GetPumpState(2), 0xE3);  // nozzle 3 reported
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{11, 2}));
  ReplyWith({0, 1, 5});
  EXPECT_EQ(driver_->GetPumpState(2), 0xC0);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{0, 0}}; });  // wrong length
  EXPECT_EQ(driver_->GetPumpState(2), 0);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 4}; });
  EXPECT_THROW(driver_->GetPumpState(2), ESerialIO);
  dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
  driver_->StartPump(2);
  dispenser_->ClearFrames();
  EXPECT_EQ(driver_->GetPumpState(2), 0xC8);
  EXPECT_TRUE(dispenser_->Frames().empty());
}

}  // namespace
}  // namespace vu30::test
