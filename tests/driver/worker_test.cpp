// SPDX-License-Identifier: MIT
// The post worker's answers to the dispenser's own messages, and post opening.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "driver_fixture.h"
#include "vu30.h"

namespace vu30::test {
namespace {

using Digits = std::vector<uint8_t>;

class WorkerTest : public DriverTest {
 protected:
  // Sends a message and waits for the worker's frames.
  std::vector<Frame> Exchange(uint8_t post, const Digits& message, size_t frames) {
    dispenser_->ClearFrames();
    dispenser_->SendMessage(post, message);
    EXPECT_TRUE(dispenser_->WaitForFrames(frames));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // no further frame follows
    return dispenser_->Frames();
  }
};

TEST_F(WorkerTest, OpeningRegistersAWorkerAndConfiguresTheLineByType) {
  Open(1);
  Open(2, config::kTypeFAS);
  Open(3, config::kTypeER32);
  Open(4, config::kTypeER112);
  const auto configured = dispenser_->Configurations();
  ASSERT_EQ(configured.size(), 4u);
  EXPECT_EQ(configured[0].lineSettings, 0x030004B0u);
  EXPECT_EQ(configured[1].lineSettings, 0x040004B0u);
  EXPECT_EQ(configured[2].lineSettings, 0x050004B0u);
  EXPECT_EQ(configured[3].lineSettings, 0x040004B0u);
  EXPECT_EQ(configured[0].value, 3);
  for (int post = 1; post <= 4; ++post) {
    EXPECT_TRUE(dispenser_->HasPostInit(static_cast<uint8_t>(post)));
    EXPECT_NO_THROW(driver_->PresetVolume(post, 1, 1.0));  // the post has its worker
  }
  // Opening again keeps the worker; an ЕС-2000 post is asked its state again.
  driver_->OpenPost(1);
  const auto frames = dispenser_->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].digits, (Digits{11, 1}));
  EXPECT_EQ(frames[0].replyLength, 4);
  EXPECT_EQ(dispenser_->Configurations().size(), 5u);
}

TEST_F(WorkerTest, OpeningDropsAFailedStateRequestAndSkipsUnknownTypes) {
  dispenser_->SetAnswer([](const Frame&) { return Answer{{}, 0, false, true}; });
  EXPECT_NO_THROW(driver_->OpenPost(5));
  EXPECT_NO_THROW(driver_->PresetVolume(5, 1, 1.0));
  config::PortTypes().SetTrkType(6, 255);
  driver_->OpenPost(6);
  EXPECT_EQ(dispenser_->Configurations().size(), 1u);  // post 6 not configured
}

TEST_F(WorkerTest, PriceRequestsAreAnsweredWithThePrice) {
  Open(1);
  driver_->SetPrice(1, 3, 38.9);
  Reach(1, 0xC8);
  auto frames = Exchange(1, {0, 2, 0}, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].digits, (Digits{1, 0, 0, 0, 0, 0, 0, 3, 8, 9, 0}));
  EXPECT_EQ(frames[0].lineAddress, 33);
  EXPECT_EQ(State(1), 0xC0);
  Reach(1, 0xC8);
  frames = Exchange(1, {9, 2, 0}, 1);
  EXPECT_EQ(frames[0].digits, (Digits{1, 0, 0, 0, 0, 0, 0, 3, 8, 9, 0}));
  EXPECT_EQ(State(1), 0xC8);  // code 9 keeps the state
  EXPECT_TRUE(SalePending(1));
}

TEST_F(WorkerTest, ADoseRequestForThePresetNozzleReleasesTheDose) {
  Open(9);
  driver_->SetPrice(9, 2, 41.3);
  Reach(9, 0xC8);
  driver_->PresetVolume(9, 2, 25.5);
  const auto frames = Exchange(9, {8, 1, 0}, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].digits, (Digits{1, 0, 0, 2, 5, 5, 0, 4, 1, 3, 0}));
  EXPECT_EQ(frames[0].lineAddress, 33);  // post 9 shares line address 1
  EXPECT_EQ(frames[0].channel, 9);
  EXPECT_EQ(State(9), 0xDA);
  EXPECT_TRUE(SalePending(9));
}

TEST_F(WorkerTest, ADoseRequestIsRefusedWithoutAPresetOrOnAnIdlePost) {
  Open(2);
  Reach(2, 0xC8);
  auto frames = Exchange(2, {8, 3, 0}, 2);  // nothing preset
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0].digits.empty());
  EXPECT_EQ(frames[0].lineAddress, 34);
  EXPECT_EQ(frames[0].replyLength, 0);
  EXPECT_EQ(frames[1].digits, (Digits{5}));
  EXPECT_EQ(frames[1].lineAddress, 2);
  EXPECT_EQ(StateOnceSettled(2, 0xF4), 0xF4);

  driver_->PresetVolume(2, 4, 10);
  Reach(2, 0xC0);
  frames = Exchange(2, {8, 3, 0}, 2);  // the preset nozzle, but the post is idle
  EXPECT_EQ(frames[1].digits, (Digits{5}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past the stop's pause
  EXPECT_EQ(State(2), 0xC0);
  EXPECT_FALSE(SalePending(2));
}

TEST_F(WorkerTest, ReportsAndOtherCodesAreAcknowledged) {
  Open(3);
  Reach(3, 0xDA);
  auto frames = Exchange(3, {1, 0, 1, 0, 0, 0, 0, 0, 4, 0, 0, 1}, 1);
  EXPECT_TRUE(frames[0].digits.empty());
  EXPECT_EQ(State(3), 0xC0);
  Reach(3, 0xC8);
  frames = Exchange(3, {2, 7, 7}, 1);
  EXPECT_EQ(frames[0].digits, (Digits{9}));
  EXPECT_EQ(frames[0].replyLength, 1);
  frames = Exchange(3, {11, 1, 1}, 1);
  EXPECT_TRUE(frames[0].digits.empty());
  EXPECT_EQ(State(3), 0xC8);
}

TEST_F(WorkerTest, AMessageNamingANozzleBeyondEightChangesNothing) {
  Open(4);
  Reach(4, 0xC8);
  for (int code : {0, 8, 9}) {
    const auto frames = Exchange(4, {static_cast<uint8_t>(code), 8, 0}, 1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].digits.empty());
    EXPECT_EQ(State(4), 0xC8);
  }
  EXPECT_FALSE(SalePending(4));
}

TEST_F(WorkerTest, RoutingFiltersMessagesBeforeTheyReachTheWorker) {
  Open(5);
  Reach(5, 0xC8);
  // Short and malformed messages: message_router_test. Addresses of a post
  // never opened, or of no post at all, are dropped.
  for (int address : {38, 32, 63, 5}) {
    dispenser_->SendMessage(5, {0, 1, 0}, static_cast<uint8_t>(address));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(dispenser_->Frames().empty());
  EXPECT_EQ(State(5), 0xC8);
  EXPECT_THROW(driver_->PresetVolume(6, 1, 1.0), EVu30Refused);
}

TEST_F(WorkerTest, DestructionStopsBusyWorkers) {
  for (int post = 1; post <= 30; ++post) Open(post);
  // Every worker is answering a price request on a slow line when the driver goes.
  auto inside = std::make_shared<std::atomic<int>>(0);
  auto answered = std::make_shared<std::atomic<int>>(0);
  dispenser_->SetAnswer([inside, answered](const Frame&) {
    inside->fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    answered->fetch_add(1);
    inside->fetch_sub(1);
    return Answer{};
  });
  for (uint8_t post = 1; post <= 30; ++post) dispenser_->SendMessage(post, {0, 0, 0});
  while (answered->load() == 0) std::this_thread::yield();
  driver_.reset();
  // No worker is left inside a transaction once the driver is gone.
  EXPECT_EQ(inside->load(), 0);
  EXPECT_GE(answered->load(), 1);
}

}  // namespace
}  // namespace vu30::test
