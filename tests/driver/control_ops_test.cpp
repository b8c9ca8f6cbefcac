// SPDX-License-Identifier: MIT
// Prices, presets, start and stop: the frames sent and the state codes moved.
#include <cmath>

#include "driver_fixture.h"
#include "vu30.h"

namespace vu30::test {
namespace {

using Digits = std::vector<uint8_t>;

TEST_F(DriverTest, CreationLeavesEveryPostIdleWithAGoodLink) {
  for (int post = 1; post <= 30; ++post) {
    EXPECT_EQ(driver_->GetLinkStatus(post), 1);
    EXPECT_EQ(State(post), 0xC0);
    EXPECT_THROW(driver_->PresetVolume(post, 1, 1.0), EVu30Refused);  // no worker
  }
}

TEST_F(DriverTest, PostsOutsideTheRangeAreRefusedBeforeAnythingIsSent) {
  for (int post : {0, 31, -1, 256}) {
    EXPECT_THROW(driver_->StartPump(post), EVu30Refused);
    EXPECT_THROW(driver_->SetPrice(post, 1, 1.0), EVu30Refused);
    EXPECT_THROW(driver_->OpenPost(post), EVu30Refused);
    EXPECT_THROW(driver_->SetLinkStatus(post, 3), EVu30Refused);
  }
  EXPECT_TRUE(dispenser_->Frames().empty());
}

TEST_F(DriverTest, SetPriceSendsFourPriceDigitsAndKeepsThePrice) {
  Open(4);
  driver_->SetPrice(4, 3, 41.3);
  const auto frames = dispenser_->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].digits, (Digits{2, 2, 4, 1, 3, 0}));
  EXPECT_EQ(frames[0].lineAddress, 4);
  EXPECT_EQ(frames[0].replyLength, 1);
  EXPECT_EQ(PriceAnswered(4, 3), 4130);
  // Halves go to the even neighbour: 0.125 -> 12 hundredths, 0.135 -> 14.
  driver_->SetPrice(4, 1, 0.125);
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{2, 0, 0, 0, 1, 2}));
}

TEST_F(DriverTest, SetPriceRefusesAPriceThatLosesDigitsAndAnyBadNozzle) {
  Open(1);
  driver_->SetPrice(1, 1, 10.0);
  dispenser_->ClearFrames();
  for (double bad : {123.45, 99.995, -0.5, std::nan(""), HUGE_VAL}) {
    EXPECT_THROW(driver_->SetPrice(1, 1, bad), EVu30Refused) << bad;
  }
  EXPECT_THROW(driver_->SetPrice(1, 0, 10.0), EVu30Refused);
  EXPECT_THROW(driver_->SetPrice(1, 9, 10.0), EVu30Refused);
  EXPECT_TRUE(dispenser_->Frames().empty());
  EXPECT_EQ(PriceAnswered(1, 1), 1000);
  driver_->SetPrice(1, 1, 99.99);  // the largest price that fits
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{2, 0, 9, 9, 9, 9}));
}

TEST_F(DriverTest, AFailedSetPriceKeepsTheNewPriceAndRaisesItsMessage) {
  Open(2);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 7}; });
  try {
    driver_->SetPrice(2, 1, 45.5);
    FAIL() << "no exception";
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(),
                 "\xCD\xE5\xE2\xEE\xE7\xEC\xEE\xE6\xED\xEE \xE2\xFB\xEF\xEE\xEB\xED\xE8\xF2\xFC "
                 "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xF3 \xF6\xE5\xED\xFB");
  }
  dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
  EXPECT_EQ(PriceAnswered(2, 1), 4550);
}

TEST_F(DriverTest, StartPumpMovesTheStateByTheTable) {
  Open(5);
  struct Case {
    uint8_t before, after;
  };
  for (Case c :
       {Case{0xF3, 0xEB}, Case{0xF1, 0xE9}, Case{0xF7, 0xEF}, Case{0xDA, 0xDA}, Case{0xDF, 0xDF},
        Case{0xC0, 0xC8}, Case{0xF8, 0xC8}, Case{0xE0, 0xC8}, Case{0xE9, 0xC8}}) {
    Reach(5, c.before);
    driver_->StartPump(5);
    EXPECT_EQ(State(5), c.after) << std::hex << int(c.before);
  }
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{0}));
  Open(6, config::kTypeFAS);
  driver_->StopPump(6, 1);  // a FAS port stops in 0xD8
  driver_->StartPump(6);
  EXPECT_EQ(State(6), 0xC8);
}

TEST_F(DriverTest, StartAndStopLeaveTheStateWhenTheReplyIsRejected) {
  Open(6);
  Reach(6, 0xF3);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{1}}; });  // two bytes: wrong length
  driver_->StartPump(6);
  EXPECT_EQ(driver_->GetLinkStatus(6), 3);
  EXPECT_EQ(State(6), 0xF3);
  driver_->StopPump(6, 1);
  EXPECT_EQ(State(6), 0xF3);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 5}; });
  EXPECT_THROW(driver_->StartPump(6), ESerialIO);
  EXPECT_THROW(driver_->StopPump(6, 1), ESerialIO);
  EXPECT_EQ(State(6), 0xF3);
}

TEST_F(DriverTest, StopPumpWithoutExchangeSendsNothingEvenOnAFasPort) {
  Open(7, config::kTypeFAS);
  driver_->StartPump(7);
  dispenser_->ClearFrames();
  EXPECT_EQ(driver_->StopPump(7, 0x100), 0);  // only the low byte of the flag counts
  EXPECT_TRUE(dispenser_->Frames().empty());
  // An idle FAS post asks its dispenser for the state: the stored code 0xC0.
  dispenser_->SetAnswer([](const Frame&) { return Answer{{0, 1, 0}}; });
  EXPECT_EQ(State(7), 0xC0);
  dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
  driver_->StopPump(7, 1);
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{5}));
  EXPECT_EQ(State(7), 0xD8);  // a FAS port stops in 0xD8
  Open(8);
  Reach(8, 0xDA);
  driver_->StopPump(8, 1);
  EXPECT_EQ(State(8), 0xC0);
}

TEST_F(DriverTest, PresetsWriteTheDoseRecordOfAnOpenedPost) {
  EXPECT_THROW(driver_->PresetVolume(3, 1, 10.0), EVu30Refused);  // no worker yet
  Open(3);
  driver_->SetPrice(3, 2, 41.3);
  driver_->PresetVolume(3, 2, 25.5);
  EXPECT_EQ(DoseAnswered(3, 2), (Digits{1, 0, 0, 2, 5, 5, 0, 4, 1, 3, 0}));
  driver_->SetPrice(3, 3, 41.3);
  driver_->PresetMoney(3, 3, 500);  // 500 / 41.3 = 12.1065... -> 12.11 litres
  EXPECT_EQ(DoseAnswered(3, 3), (Digits{1, 0, 0, 1, 2, 1, 1, 4, 1, 3, 0}));
}

// The volume a money preset buys is money * 100 / price, rounded with halves
// to the even neighbour, / 100, in that order: the dispenser is told its
// five digits in the dose answer.
TEST_F(DriverTest, MoneyPresetsRoundTheHundredthsOfTheVolumeHalvesToEven) {
  Open(3);
  struct Case {
    double money, price;
    Digits dose;
  };
  for (const Case& c : {Case{349.95, 10.0, {0, 3, 5, 0, 0}},  // 3499.5 -> 3500
                        Case{0.15, 2.0, {0, 0, 0, 0, 8}},     // 7.5 -> 8
                        Case{0.25, 2.0, {0, 0, 0, 1, 2}}}) {  // 12.5 -> 12
    driver_->SetPrice(3, 1, c.price);
    driver_->PresetMoney(3, 1, c.money);
    const Digits answer = DoseAnswered(3, 1);
    ASSERT_EQ(answer.size(), 11u);
    EXPECT_EQ(Digits(answer.begin() + 2, answer.begin() + 7), c.dose) << c.money;
  }
}

// The price kept is the one the dispenser received: the money figures use it.
TEST_F(DriverTest, SetPriceKeepsThePriceItsDigitsCarry) {
  Open(2);
  driver_->SetPrice(2, 1, 41.305);  // sent as 4130
  EXPECT_EQ(dispenser_->Frames().back().digits, (Digits{2, 0, 4, 1, 3, 0}));
  driver_->PresetVolume(2, 1, 10);
  dispenser_->SetAnswer([](const Frame&) { return Answer{{0, 0, 0, 1, 0, 0, 0}}; });
  double money = 0;
  EXPECT_DOUBLE_EQ(driver_->PollDispense(2, 1, &money), 1.0);
  EXPECT_DOUBLE_EQ(money, 41.30);
}

TEST_F(DriverTest, PresetsThatCannotBeSentLeaveTheDoseRecordAlone) {
  Open(3);
  driver_->PresetVolume(3, 2, 25.5);
  EXPECT_THROW(driver_->PresetMoney(3, 4, 100), EVu30Refused);  // nozzle 4 has no price
  EXPECT_THROW(driver_->PresetVolume(3, 2, 1234.56), EVu30Refused);
  EXPECT_THROW(driver_->PresetVolume(3, 2, -1), EVu30Refused);
  EXPECT_THROW(driver_->PresetVolume(3, 9, 1), EVu30Refused);
  driver_->SetPrice(3, 1, 0.5);
  EXPECT_THROW(driver_->PresetMoney(3, 1, 600), EVu30Refused);  // 1200 litres
  EXPECT_THROW(driver_->PresetMoney(3, 1, std::nan("")), EVu30Refused);
  EXPECT_EQ(DoseAnswered(3, 2), (Digits{1, 0, 0, 2, 5, 5, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace vu30::test
