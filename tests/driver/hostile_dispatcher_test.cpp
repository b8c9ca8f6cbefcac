// SPDX-License-Identifier: MIT
// A legal but hostile dispatcher: overlong replies, a channel status that
// another exchange overwrites, callbacks that go on while the driver object
// is destroyed.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "driver_fixture.h"
#include "vu30.h"

namespace vu30::test {
namespace {

using Digits = std::vector<uint8_t>;

// A reply of count bytes where the driver awaits one: the dispatcher stores
// all of them in the driver's buffer.
ScriptedReply Overlong(std::size_t count) {
  ScriptedReply reply = ScriptedReply::Raw(Digits(count - 1, CodeDigit(7)));
  reply.bytes.push_back(0);
  return reply;
}

TEST_F(DriverTest, OverlongAcknowledgementsAreRejectedAndChangeNothing) {
  Open(1);
  for (std::size_t count : {2u, 16u, 255u}) {
    recorder_.SetDefaultReply(Overlong(count));
    dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
    Reach(1, 0xC0);
    recorder_.SetResponder(nullptr);  // every exchange gets the overlong reply
    driver_->StartPump(1);
    EXPECT_EQ(driver_->GetLinkStatus(1), 3) << count;
    EXPECT_EQ(recorder_.Error(1), VU30_ERR_REPLY_LENGTH) << count;
    EXPECT_EQ(State(1), 0xC0) << count;
    dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
    Reach(1, 0xC8);
    recorder_.SetResponder(nullptr);
    driver_->StopPump(1, 1);
    EXPECT_EQ(State(1), 0xC8) << count;
    driver_->SetPrice(1, 1, 12.5);
    EXPECT_EQ(driver_->GetLinkStatus(1), 3) << count;
    // The worker's answers await one byte too.
    recorder_.ClearCalls();
    dispenser_->SendMessage(1, {2, 0, 0});
    ASSERT_TRUE(dispenser_->WaitForFrames(1));
    EXPECT_EQ(recorder_.Transacts()[0].countAfterCheck, count) << count;
  }
}

// The host's reply is rejected by its own check, but another exchange on the
// channel leaves the channel's status good before the driver reads it: every
// operation decides on its own verdict.
TEST_F(DriverTest, EachRequestDecidesOnTheVerdictOfItsOwnReply) {
  Open(1, config::kTypeFAS, 50);
  driver_->SetPrice(1, 1, 2.0);
  driver_->PresetVolume(1, 1, 10.0);
  dispenser_->SendMessage(1, {9, 0, 0});  // a price answered: a sale is pending
  ASSERT_TRUE(dispenser_->WaitForFrames(1));
  dispenser_->SetAnswer([](const Frame& frame) {
    Answer rejected{Digits(frame.replyLength, 1)};  // one byte too many
    rejected.statusAfter = 1;
    return rejected;
  });
  double money = -1, volume = -1, second = -1;
  EXPECT_EQ(driver_->PollDispense(1, 1, &money), 0.0);
  EXPECT_EQ(money, 0.0);
  EXPECT_EQ(driver_->PollDispense(1, 2, &money), 0.0);
  driver_->ReadCounter(1, 1, &volume, &second);
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(driver_->GetPumpState(1), 0);  // an idle FAS post asks the dispenser
  driver_->ReadFinalDispense(1, &volume, &money);
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(driver_->GetLinkStatus(1), 3);
  EXPECT_TRUE(SalePending(1));
}

TEST_F(DriverTest, CommandsDecideOnTheVerdictOfTheirOwnReply) {
  Open(1);
  Reach(1, 0xF3);
  dispenser_->SetAnswer([](const Frame& frame) {
    Answer rejected{Digits(frame.replyLength, 1)};  // one byte too many
    rejected.statusAfter = 1;
    return rejected;
  });
  driver_->StartPump(1);
  driver_->StopPump(1, 1);
  EXPECT_EQ(driver_->GetLinkStatus(1), 3);
  EXPECT_EQ(State(1), 0xF3);
}

// The dispatcher goes on calling the registered reply check, message hook and
// post initialisation from its own threads while the driver object is
// destroyed, and after.
TEST(DriverDestruction, CallbacksDuringAndAfterDestructionAreHarmless) {
  TempWindir windir;
  for (int round = 0; round < 20; ++round) {
    config::PortTypes().Reset();
    RecordingDispatcher recorder;
    auto driver =
        std::make_unique<driver::ZUD30>(std::make_unique<link::HostDispatcher>(recorder.Host()));
    constexpr uint8_t kOpened = 4;
    for (uint8_t post = 1; post <= kOpened; ++post) {
      driver->OpenPost(post);
      driver->SetPrice(post, 1, 10.0);  // registers the reply check of the channel
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> storm;
    for (uint8_t post = 1; post <= kOpened; ++post) {
      storm.emplace_back([&recorder, &stop, post] {
        while (!stop.load()) {
          recorder.DeliverMessage(post, {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0});
          recorder.DeliverMessage(post, {CodeDigit(0), CodeDigit(0), CodeDigit(0), 0});
          recorder.CallPostInit(post);
        }
      });
      storm.emplace_back([&recorder, &stop, post] {
        while (!stop.load()) {
          uint8_t reply[2] = {0x59, 0x00};
          uint8_t count = 2;
          uint8_t expected = 2;
          recorder.CallReplyChecker(post, reply, count, expected);
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    driver.reset();
    // After destruction: the check accepts nothing and reports nothing, and a
    // message is not answered.
    recorder.SetStatus(1, 0);
    uint8_t reply[2] = {0x59, 0x00};
    uint8_t count = 2;
    uint8_t expected = 2;
    EXPECT_FALSE(recorder.CallReplyChecker(1, reply, count, expected));
    EXPECT_EQ(recorder.Status(1), 0);
    stop.store(true);
    for (auto& thread : storm) thread.join();
    recorder.ClearCalls();
    recorder.DeliverMessage(1, {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0});
    recorder.CallPostInit(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(recorder.Calls().empty());
  }
}

}  // namespace
}  // namespace vu30::test
