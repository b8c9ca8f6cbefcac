/* SPDX-License-Identifier: MIT */
// A driver object on the recording host dispatcher, reached through the same
// adapter and thunks as in the library, with its own Windows directory. The
// dispenser's side is told in decoded digits: the requests the driver made
// and the answers the test chooses.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "config/port_type_table.h"
#include "driver/zud30.h"
#include "link/host_dispatcher.h"
#include "support/recording_dispatcher.h"
#include "temp_windir.h"

namespace vu30::test {

// One request as the dispenser received it.
struct Frame {
  uint8_t channel = 0;
  uint8_t lineAddress = 0;
  std::vector<uint8_t> digits;  // decoded request digits
  uint8_t replyLength = 0;
  uint8_t replyType = 0;  // decoded; 0 when none
};

// What the dispenser does with one request.
struct Answer {
  std::vector<uint8_t> digits;  // reply digits from position 0; coded and closed by 0
  int32_t result = 0;           // Transact's result; not 0: no reply is received
  bool corrupt = false;         // send a malformed byte instead of the first digit
  bool raise = false;           // throw from Transact
  uint8_t statusAfter = 0;      // when set, the channel's status after the check, as
                                // another exchange on the channel would leave it
};

// The dispenser as the driver tests see it, over the recording dispatcher.
class Dispenser {
 public:
  explicit Dispenser(RecordingDispatcher& recorder) : recorder_(recorder) {
    SetAnswer([](const Frame&) { return Answer{}; });
  }

  void SetAnswer(std::function<Answer(const Frame&)> chooser) {
    recorder_.SetResponder([chooser = std::move(chooser)](const TransactRequest& request) {
      const Answer a = chooser(ToFrame(request));
      ScriptedReply reply = ScriptedReply::Digits(a.digits);
      if (a.corrupt && reply.bytes.size() > 1) reply.bytes[0] = 0x6B;
      reply.result = a.result;
      reply.callChecker = a.result == 0;
      reply.throwError = a.raise;
      if (a.statusAfter != 0) reply.statusAfter = a.statusAfter;
      return std::optional<ScriptedReply>(reply);
    });
  }

  // Sends a dispenser message through post's message hook, coded and closed
  // by a zero byte, under workerAddress (post + 32 unless given).
  void SendMessage(uint8_t post, const std::vector<uint8_t>& digits, uint8_t workerAddress = 0) {
    std::vector<uint8_t> bytes;
    for (uint8_t d : digits) bytes.push_back(CodeDigit(d));
    bytes.push_back(0);
    recorder_.DeliverMessage(post, bytes,
                             workerAddress != 0 ? std::optional(workerAddress) : std::nullopt);
  }

  std::vector<Frame> Frames() const {
    std::vector<Frame> frames;
    for (const RecordedCall& call : recorder_.Transacts()) {
      frames.push_back(ToFrame(TransactRequest{call.channel, call.lineAddress, call.request,
                                               call.replyLength, call.replyType}));
    }
    return frames;
  }
  // Forgets the frames; the channel configurations are kept.
  void ClearFrames() {
    const auto configured = recorder_.Calls(DispatcherOp::ConfigureChannel);
    configured_.insert(configured_.end(), configured.begin(), configured.end());
    recorder_.ClearCalls();
  }
  bool WaitForFrames(size_t n) const { return recorder_.WaitForCalls(DispatcherOp::Transact, n); }
  std::vector<RecordedCall> Configurations() const {
    std::vector<RecordedCall> all = configured_;
    const auto configured = recorder_.Calls(DispatcherOp::ConfigureChannel);
    all.insert(all.end(), configured.begin(), configured.end());
    return all;
  }
  bool HasPostInit(uint8_t post) const { return recorder_.PostInit(post).has_value(); }

 private:
  static Frame ToFrame(const TransactRequest& request) {
    Frame frame{request.channel, request.lineAddress, {}, request.replyLength,
                static_cast<uint8_t>(request.replyType != 0 ? DecodeByte(request.replyType) : 0)};
    for (uint8_t byte : request.request) frame.digits.push_back(DecodeByte(byte));
    return frame;
  }
  RecordingDispatcher& recorder_;
  std::vector<RecordedCall> configured_;
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windir_.emplace();
    config::PortTypes().Reset();
    driver_ = std::make_unique<driver::ZUD30>(
        std::make_unique<link::HostDispatcher>(recorder_.Host()));
  }
  void TearDown() override {
    driver_.reset();
    windir_.reset();
  }

  // Opens post with the given type and factor and forgets the frames of the opening.
  void Open(int post, uint8_t type = config::kTypeEC2000, uint8_t impl = 100) {
    config::PortTypes().SetTrkType(post, type);
    config::PortTypes().SetImpl(post, impl);
    driver_->OpenPost(post);
    dispenser_->ClearFrames();
  }

  // The post's state code as the host reads it; on a post that is not FAS
  // no exchange is made (and the link status becomes good).
  uint8_t State(int post) { return driver_->GetPumpState(static_cast<uint8_t>(post)); }

  // Waits until the worker has moved the post to code (a refusal moves it
  // only after its stop request and pause); the code reached, or the last.
  uint8_t StateOnceSettled(int post, uint8_t code) {
    for (int i = 0; i < 400 && State(post) != code; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return State(post);
  }

  // Brings an opened post that is not FAS to a state code the way a station
  // does: idle, started, a dose released for nozzle n (0xD8 + n), a dose
  // refused for nozzle n (0xF0 + n), or restarted after it (0xE8 + n). A
  // release or refusal presets a dose of 1 litre for it. Forgets the frames.
  void Reach(int post, uint8_t code) {
    const auto p = static_cast<uint8_t>(post);
    driver_->StopPump(post, 0);
    if (code != 0xC0) driver_->StartPump(post);
    if (code > 0xD8 && code <= 0xE0) {
      const int n = code - 0xD8;
      driver_->PresetVolume(post, n, 1);
      dispenser_->ClearFrames();
      dispenser_->SendMessage(p, {8, static_cast<uint8_t>(n - 1), 0});
      // The worker sets the state before it sends its answer: the answer is
      // waited for, so that it is not recorded after the frames are forgotten.
      EXPECT_TRUE(dispenser_->WaitForFrames(1));
    } else if (code > 0xE8) {
      const int n8 = code > 0xF0 ? code - 0xF0 : code - 0xE8;
      driver_->PresetVolume(post, n8 == 1 ? 2 : 1, 1);
      dispenser_->SendMessage(p, {8, static_cast<uint8_t>(n8 - 1), 0});
      StateOnceSettled(post, static_cast<uint8_t>(0xF0 + n8));
      if (code <= 0xF0) driver_->StartPump(post);
    }
    EXPECT_EQ(StateOnceSettled(post, code), code) << "could not reach " << int{code};
    dispenser_->ClearFrames();
  }

  // The price the worker gives the dispenser for a nozzle (a price request
  // that keeps the state), as a number of hundredths.
  int PriceAnswered(int post, int nozzle) {
    dispenser_->ClearFrames();
    dispenser_->SendMessage(static_cast<uint8_t>(post), {9, static_cast<uint8_t>(nozzle - 1), 0});
    EXPECT_TRUE(dispenser_->WaitForFrames(1));
    const std::vector<uint8_t> digits = dispenser_->Frames()[0].digits;
    dispenser_->ClearFrames();
    if (digits.size() != 11) return -1;
    return digits[7] * 1000 + digits[8] * 100 + digits[9] * 10 + digits[10];
  }

  // The worker's answer to a dose request for the nozzle on the started post.
  std::vector<uint8_t> DoseAnswered(int post, int nozzle) {
    driver_->StartPump(post);
    dispenser_->ClearFrames();
    dispenser_->SendMessage(static_cast<uint8_t>(post), {8, static_cast<uint8_t>(nozzle - 1), 0});
    EXPECT_TRUE(dispenser_->WaitForFrames(1));
    const std::vector<uint8_t> digits = dispenser_->Frames()[0].digits;
    dispenser_->ClearFrames();
    return digits;
  }

  // Whether a sale is pending on a post that is not FAS: a final reading then
  // asks the dispenser (whose acknowledgement is rejected, so the sale stays
  // pending); without one it asks nothing and makes the post idle.
  bool SalePending(int post) {
    dispenser_->SetAnswer([](const Frame&) { return Answer{}; });
    dispenser_->ClearFrames();
    double volume = 0, money = 0;
    driver_->ReadFinalDispense(post, &volume, &money);
    const bool asked = !dispenser_->Frames().empty();
    dispenser_->ClearFrames();
    return asked;
  }

  // Answers every request with the given reply digits.
  void ReplyWith(std::vector<uint8_t> digits) {
    dispenser_->SetAnswer([digits](const Frame&) { return Answer{digits}; });
  }

  std::optional<TempWindir> windir_;
  RecordingDispatcher recorder_;
  std::unique_ptr<Dispenser> dispenserOwner_ = std::make_unique<Dispenser>(recorder_);
  Dispenser* dispenser_ = dispenserOwner_.get();
  std::unique_ptr<driver::ZUD30> driver_;
};

}  // namespace vu30::test
