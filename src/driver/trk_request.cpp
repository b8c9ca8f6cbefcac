#include "driver/trk_request.h"

#include <cstring>
#include <string>

#include "driver/amounts.h"
#include "driver/protocol.h"
#include "driver/zud30.h"
#include "platform/sleep.h"

namespace vu30::driver {

namespace {
using namespace protocol;
// Message codes of the dispenser.
constexpr uint8_t kMsgPriceRequest = 0;      // price asked; the post becomes idle
constexpr uint8_t kMsgReport = 1;            // end-of-dispense figures
constexpr uint8_t kMsgAskNine = 2;           // answered with the one digit 9
constexpr uint8_t kMsgDoseRequest = 8;       // dose asked for a nozzle
constexpr uint8_t kMsgPriceRequestKeep = 9;  // price asked; the state stays

constexpr uint8_t kAnswerLength = 11;
constexpr unsigned kRefusalPauseMs = 20;
constexpr uint8_t kMaxNozzleIndex = kNozzles - 1;

// "vu30-post-NN": under this name an operator or a host finds the post's
// worker among the process's threads, with the priority it got.
std::string WorkerThreadName(uint8_t address) {
  const int post = address - link::kWorkerAddressOffset;
  return std::string("vu30-post-") + static_cast<char>('0' + post / 10 % 10) +
         static_cast<char>('0' + post % 10);
}
}  // namespace

TTrkRequest::TTrkRequest(ZUD30& driver, uint8_t address)
    : driver_(driver),
      address_(address),
      thread_(
          platform::ThreadPriority::TimeCritical, [this] { Execute(); },
          WorkerThreadName(address)) {}

TTrkRequest::~TTrkRequest() {
  RequestTermination();
  thread_.WaitFor();
}

void TTrkRequest::RequestTermination() {
  thread_.Terminate();
  wakeEvent_.Signal();
}

void TTrkRequest::Deliver(const uint8_t* message, int32_t length) {
  if (length < 0 || length > link::kMessageCapacity) return;
  {
    std::lock_guard lock(messageMutex_);
    messageLength_ = length;
    std::memcpy(message_.data(), message, static_cast<size_t>(length));
  }
  wakeEvent_.Signal();
}

void TTrkRequest::Execute() {
  while (!thread_.Terminated()) {
    // Whatever a pass raises is dropped; the worker waits for the next message.
    try {
      if (!wakeEvent_.Wait() || thread_.Terminated()) continue;
      std::array<uint8_t, link::kMessageCapacity> message;
      {
        std::lock_guard lock(messageMutex_);
        message = message_;
      }
      RunJob(message);
    } catch (...) {
    }
  }
}

void TTrkRequest::RunJob(const std::array<uint8_t, link::kMessageCapacity>& message) {
  const uint8_t code = message[0];
  const bool namesNozzle =
      code == kMsgPriceRequest || code == kMsgPriceRequestKeep || code == kMsgDoseRequest;
  if (namesNozzle && message[1] > kMaxNozzleIndex) {
    // No such nozzle: acknowledged, nothing changes.
    driver_.Link().SendBareFrame(address_);
    return;
  }
  const auto nozzle = static_cast<uint8_t>(message[1] + 1);
  switch (code) {
    case kMsgPriceRequest:
      driver_.AnswerPriceRequest(address_, nozzle, false);
      break;
    case kMsgPriceRequestKeep:
      driver_.AnswerPriceRequest(address_, nozzle, true);
      break;
    case kMsgDoseRequest: {
      const uint8_t doseNozzle = DoseNozzle();
      driver_.AnswerDoseRequest(address_, nozzle, doseNozzle, DoseAmount());
      break;
    }
    case kMsgReport:
      driver_.AcceptReport(address_);
      break;
    case kMsgAskNine: {
      uint8_t request[1] = {kCmdAnswerNine};
      driver_.Link().SendRequest(address_, request, 1, 1, 0);
      break;
    }
    default:
      driver_.Link().SendBareFrame(address_);
      break;
  }
}

void ZUD30::AnswerPriceRequest(uint8_t a, uint8_t nozzle, bool keepState) {
  const int p = CheckedPost(a - link::kWorkerAddressOffset);
  uint8_t request[kAnswerLength] = {kCmdAnswer, 0, 0, 0, 0, 0, 0};
  WriteDigits(Price(p, nozzle), kPriceDigits, request + 7);
  pricePending_[p].store(true, relaxed);
  if (!keepState) pumpState_[p].store(kStateIdle, relaxed);
  link_.SendRequest(a, request, kAnswerLength, 1, 0);
}

void ZUD30::AnswerDoseRequest(uint8_t a, uint8_t nozzle, uint8_t doseNozzle, double doseAmount) {
  const int p = CheckedPost(a - link::kWorkerAddressOffset);
  if (doseNozzle == nozzle && pumpState_[p].load(relaxed) != kStateIdle) {
    uint8_t request[kAnswerLength] = {kCmdAnswer, 0};
    WriteDigits(doseAmount, kDoseDigits, request + 2);
    WriteDigits(Price(p, nozzle), kPriceDigits, request + 7);
    pricePending_[p].store(true, relaxed);
    pumpState_[p].store(static_cast<uint8_t>(kStateStoppedFas + nozzle), relaxed);
    link_.SendRequest(a, request, kAnswerLength, 1, 0);
    return;
  }
  link_.SendBareFrame(a);
  platform::SleepMs(kRefusalPauseMs);
  uint8_t stop[1] = {kCmdStop};
  link_.SendRequest(static_cast<uint8_t>(p), stop, 1, 1, 0);
  if (pumpState_[p].load(relaxed) != kStateIdle) {
    pumpState_[p].store(static_cast<uint8_t>(kStateRefused + nozzle), relaxed);
  }
}

void ZUD30::AcceptReport(uint8_t a) {
  const int p = CheckedPost(a - link::kWorkerAddressOffset);
  pumpState_[p].store(kStateIdle, relaxed);
  link_.SendBareFrame(a);
}

}  // namespace vu30::driver
