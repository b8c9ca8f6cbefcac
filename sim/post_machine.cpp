// SPDX-License-Identifier: MIT
#include "post_machine.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "line.h"
#include "line_code.h"

namespace vu30::sim {

namespace {

// Digits of the driver's requests.
constexpr uint8_t kCmdStart = 0;
constexpr uint8_t kCmdStop = 5;
constexpr uint8_t kCmdSetPrice = 2;
constexpr uint8_t kCmdRunning = 8;
constexpr uint8_t kCmdFinal = 4;
constexpr uint8_t kCmdCounter = 3;
constexpr uint8_t kCmdState = 11;
// Digits of the worker's answers.
constexpr uint8_t kAnswerFigures = 1;  // 1, 0, dose, price
constexpr uint8_t kAnswerCode2 = 9;    // answer to message code 2
// Digits of the dispenser's own messages.
constexpr uint8_t kMsgPriceRequest = 0;
constexpr uint8_t kMsgPriceRepeat = 9;  // price request that leaves the post's state alone
constexpr uint8_t kMsgDoseRequest = 8;
constexpr uint8_t kMsgReport = 1;

bool CountsImpulses(const PostConfig& config) {
  return config.portType == 1 || config.portType == 3;
}

}  // namespace

void PostMachine::Attach(int post, MessageTiming timing) {
  post_ = post;
  timing_ = timing;
}

void PostMachine::Lift(int nozzle) {
  phase_ = Phase::PriceRequested;
  nozzle_ = nozzle;
  started_ = false;
  latePriceAnswers_ = 0;
  Expect(Await::Price, {kMsgPriceRequest, static_cast<uint8_t>(nozzle - 1), 0}, Clock::now());
}

bool PostMachine::StopFlow(std::vector<Sale>& sales) {
  if (phase_ != Phase::Flowing) return false;
  FinishSale(RunningVolume(Clock::now()), false, sales);
  return true;
}

void PostMachine::HangUpBeforeDose() {
  if (phase_ != Phase::PriceRequested && phase_ != Phase::AwaitingStart) return;
  phase_ = Phase::Idle;
  started_ = false;
  await_ = Await::None;
}

bool PostMachine::OnHostRequest(const std::vector<uint8_t>& digits,
                                std::vector<uint8_t>& replyDigits, uint8_t& expectedType,
                                std::vector<Sale>& sales) {
  if (digits.empty()) return false;
  const auto now = Clock::now();
  expectedType = 0;
  switch (digits[0]) {
    case kCmdStart:
      if (digits.size() != 1) return false;
      if (phase_ == Phase::AwaitingStart) {
        phase_ = Phase::DoseRequested;
        Expect(Await::Dose, {kMsgDoseRequest, static_cast<uint8_t>(nozzle_ - 1), 0},
               now + timing_.doseRequestDelay);
      } else if (phase_ == Phase::PriceRequested) {
        started_ = true;  // the dose is asked for once the price is known
      }
      return true;
    case kCmdStop:
      if (digits.size() != 1) return false;
      if (phase_ == Phase::Flowing) {
        FinishSale(RunningVolume(now), false, sales);
      } else if (phase_ == Phase::DoseRequested) {
        FinishSale(0, true, sales);
      } else if (phase_ == Phase::PriceRequested || phase_ == Phase::AwaitingStart) {
        started_ = false;
      }
      return true;
    case kCmdSetPrice: {
      if (digits.size() != 6) return false;
      int64_t price = 0;
      if (digits[1] >= kNozzleCount || !ReadNumber(digits, 2, 4, price)) return true;
      prices[digits[1]] = static_cast<int>(price);
      return true;
    }
    case kCmdRunning: {
      if (digits.size() != 1) return false;
      expectedType = EncodeDigit(4);
      int64_t volume = phase_ == Phase::Flowing ? RunningVolume(now) : figureVolume_;
      if (CountsImpulses(config)) volume = volume * config.impulsesPerLitre / 100;
      AppendNumber(replyDigits, volume, 5);
      replyDigits.push_back(static_cast<uint8_t>(figureNozzle_));
      return true;
    }
    case kCmdFinal: {
      if (digits.size() != 1) return false;
      expectedType = EncodeDigit(1);
      int64_t volume = figureVolume_;
      int64_t money = figureMoney_;
      if (phase_ == Phase::Flowing) {
        volume = RunningVolume(now);
        money = (volume * salePrice_ + 50) / 100;
      }
      AppendNumber(replyDigits, volume, 5);
      AppendNumber(replyDigits, money, 5);
      replyDigits.push_back(static_cast<uint8_t>(figureNozzle_));
      replyDigits.push_back(0);
      replyDigits.push_back(0);
      return true;
    }
    case kCmdCounter:
      if (digits.size() != 2 || digits[1] >= kNozzleCount) return false;
      expectedType = EncodeDigit(3);
      AppendNumber(replyDigits, counters[digits[1]], 10);
      replyDigits.push_back(digits[1]);
      return true;
    case kCmdState: {
      if (digits.size() != 2) return false;
      expectedType = EncodeDigit(11);
      const bool lifted = phase_ != Phase::Idle && phase_ != Phase::Reporting;
      replyDigits.push_back(lifted ? 0 : 1);
      replyDigits.push_back(static_cast<uint8_t>(lifted ? nozzle_ - 1 : 0));
      return true;
    }
    default:
      return false;
  }
}

bool PostMachine::OnWorkerFrame(const std::vector<uint8_t>& digits, std::vector<Sale>& sales) {
  if (digits.empty()) {
    // A bare frame: acknowledges the report, or refuses the dose.
    if (await_ == Await::Report) {
      await_ = Await::None;
      phase_ = Phase::Idle;
    } else if (await_ == Await::Dose) {
      FinishSale(0, true, sales);
    }
    return false;  // no reply to a bare frame
  }
  if (digits[0] == kAnswerCode2) return digits.size() == 1;
  if (digits[0] != kAnswerFigures || digits.size() != 11 || digits[1] != 0) return false;
  int64_t dose = 0;
  int64_t price = 0;
  if (!ReadNumber(digits, 2, 5, dose) || !ReadNumber(digits, 7, 4, price)) return true;
  if (await_ == Await::Price) {
    latePriceAnswers_ = sends_ - 1;
    prices[nozzle_ - 1] = static_cast<int>(price);
    salePrice_ = static_cast<int>(price);
    if (started_) {
      phase_ = Phase::DoseRequested;
      Expect(Await::Dose, {kMsgDoseRequest, static_cast<uint8_t>(nozzle_ - 1), 0},
             Clock::now() + timing_.doseRequestDelay);
    } else {
      phase_ = Phase::AwaitingStart;
      await_ = Await::None;
    }
  } else if (await_ == Await::Dose) {
    if (dose == 0 && latePriceAnswers_ > 0) {
      --latePriceAnswers_;  // a repeated price request answered late, not the dose
      return true;
    }
    StartFlow(dose, static_cast<int>(price), sales);
  }
  // Any other answer is a late duplicate: acknowledged and ignored.
  return true;
}

bool PostMachine::Advance(Clock::time_point now, std::vector<Outgoing>& due,
                          Clock::time_point& wake, std::vector<Sale>& sales) {
  bool completed = false;
  if (phase_ == Phase::Flowing) {
    const auto end =
        flowStart_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                         static_cast<double>(dose_) / (config.flowRate * 100.0)));
    if (now >= end) {
      FinishSale(dose_, false, sales);
      completed = true;
    } else {
      wake = std::min(wake, end);
    }
  }
  if (await_ != Await::None) {
    if (now >= nextSend_) {
      if (await_ == Await::Price && sends_ > 0) message_[0] = kMsgPriceRepeat;
      due.push_back({post_, message_});
      ++sends_;
      nextSend_ = now + timing_.repeatTimeout;
    }
    wake = std::min(wake, nextSend_);
  }
  return completed;
}

void PostMachine::StartFlow(int64_t dose, int price, std::vector<Sale>& sales) {
  prices[nozzle_ - 1] = price;
  salePrice_ = price;
  dose_ = dose;
  await_ = Await::None;
  figureVolume_ = 0;
  figureMoney_ = 0;
  figureNozzle_ = nozzle_ - 1;
  if (dose == 0) {
    FinishSale(0, false, sales);
    return;
  }
  phase_ = Phase::Flowing;
  flowStart_ = Clock::now();
}

int64_t PostMachine::RunningVolume(Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - flowStart_).count();
  const auto flowed = static_cast<int64_t>(std::floor(seconds * config.flowRate * 100.0));
  return std::clamp<int64_t>(flowed, 0, dose_);
}

void PostMachine::FinishSale(int64_t volume, bool refused, std::vector<Sale>& sales) {
  Sale sale;
  sale.post = post_;
  sale.nozzle = nozzle_;
  sale.volume = volume;
  sale.price = salePrice_;
  sale.money = (volume * salePrice_ + 50) / 100;
  int64_t& counter = counters[static_cast<size_t>(nozzle_ - 1)];
  sale.counterBefore = counter;
  counter = (counter + volume) % Pow10(10);
  sale.counterAfter = counter;
  sale.refused = refused;
  sales.push_back(sale);

  figureVolume_ = volume;
  figureMoney_ = sale.money;
  figureNozzle_ = nozzle_ - 1;
  phase_ = Phase::Reporting;  // the nozzle is hung up
  std::vector<uint8_t> report{kMsgReport};
  AppendNumber(report, volume, 5);
  AppendNumber(report, sale.money, 5);
  report.push_back(static_cast<uint8_t>(nozzle_ - 1));
  Expect(Await::Report, std::move(report), Clock::now());
}

void PostMachine::Expect(Await what, std::vector<uint8_t> digits, Clock::time_point when) {
  await_ = what;
  message_ = std::move(digits);
  sends_ = 0;
  nextSend_ = when;
}

}  // namespace vu30::sim
