// SPDX-License-Identifier: MIT
#include "driver/trk_request.h"

#include <cstring>
#include <string>

#include "driver/amounts.h"
#include "driver/post.h"
#include "driver/protocol.h"
#include "platform/hot_path.h"
#include "platform/sleep.h"

namespace vu30::driver {

namespace {
using namespace protocol;
using link::Origin;

// The pause between refusing a dose on the worker address and stopping the
// pump on the post's own address.
constexpr unsigned kRefusalPauseMs = 20;
constexpr uint8_t kMaxNozzleIndex = kNozzles - 1;

// "vu30-post-NN": under this name an operator or a host finds the post's
// worker among the process's threads, with the priority it got.
std::string WorkerThreadName(int post) {
  return std::string("vu30-post-") + static_cast<char>('0' + post / 10 % 10) +
         static_cast<char>('0' + post % 10);
}
}  // namespace

TTrkRequest::TTrkRequest(Post& post, link::RequestLink& link)
    : post_(post),
      link_(link),
      thread_(
          platform::ThreadPriority::TimeCritical, [this] { Execute(); },
          WorkerThreadName(post.Number())) {}

TTrkRequest::~TTrkRequest() {
  RequestTermination();
  thread_.WaitFor();
}

void TTrkRequest::RequestTermination() {
  thread_.Terminate();
  wakeEvent_.Signal();
}

VU30_HOT_PATH void TTrkRequest::Deliver(const uint8_t* message, int32_t length) {
  if (length < 0 || length > link::kMessageCapacity) return;
  {
    std::lock_guard lock(messageMutex_);
    std::memcpy(message_.data(), message, static_cast<size_t>(length));
  }
  wakeEvent_.Signal();
}

VU30_HOT_PATH void TTrkRequest::Execute() {
  while (!thread_.Terminated()) {
    // Whatever a pass raises is dropped; the worker waits for the next message.
    try {
      if (!wakeEvent_.Wait() || thread_.Terminated()) continue;
      Message message;
      {
        std::lock_guard lock(messageMutex_);
        message = message_;
      }
      RunJob(message);
    } catch (...) {
    }
  }
}

VU30_HOT_PATH void TTrkRequest::RunJob(const Message& message) {
  const uint8_t code = message[0];
  const bool namesNozzle =
      code == kMsgPriceRequest || code == kMsgPriceRequestKeep || code == kMsgDoseRequest;
  if (namesNozzle && message[kMsgNozzleAt] > kMaxNozzleIndex) {
    // No such nozzle: acknowledged, nothing changes.
    link_.SendBareFrame(post_.channel, Origin::Worker);
    return;
  }
  const auto nozzle = static_cast<uint8_t>(message[kMsgNozzleAt] + 1);
  switch (code) {
    case kMsgPriceRequest:
      AnswerPriceRequest(nozzle, false);
      break;
    case kMsgPriceRequestKeep:
      AnswerPriceRequest(nozzle, true);
      break;
    case kMsgDoseRequest:
      AnswerDoseRequest(nozzle);
      break;
    case kMsgReport:
      AcceptReport();
      break;
    case kMsgAskNine: {
      link::Frame frame{kCmdAnswerNine};
      link_.SendRequest(post_.channel, Origin::Worker, &frame, kAnswerNine.length,
                        kAnswerNine.replyLength, kAnswerNine.replyType);
      break;
    }
    default:
      link_.SendBareFrame(post_.channel, Origin::Worker);
      break;
  }
}

VU30_HOT_PATH void TTrkRequest::AnswerPriceRequest(uint8_t nozzle, bool keepState) {
  link::Frame frame{kCmdAnswer};
  WriteHundredths(post_.PriceHundredths(nozzle), kPriceDigits, frame.data() + kAnswerPriceAt);
  post_.pricePending.store(true, Post::relaxed);
  if (!keepState) post_.SetState(kStateIdle);
  link_.SendRequest(post_.channel, Origin::Worker, &frame, kAnswer.length, kAnswer.replyLength,
                    kAnswer.replyType);
}

VU30_HOT_PATH void TTrkRequest::AnswerDoseRequest(uint8_t nozzle) {
  const DoseRecord::Value dose = post_.dose.Get();
  if (dose.nozzle == nozzle && post_.State() != kStateIdle) {
    link::Frame frame{kCmdAnswer};
    WriteHundredths(dose.hundredths, kDoseDigits, frame.data() + kAnswerDoseAt);
    WriteHundredths(post_.PriceHundredths(nozzle), kPriceDigits, frame.data() + kAnswerPriceAt);
    post_.pricePending.store(true, Post::relaxed);
    post_.SetState(static_cast<uint8_t>(kStateStoppedFas + nozzle));
    link_.SendRequest(post_.channel, Origin::Worker, &frame, kAnswer.length, kAnswer.replyLength,
                      kAnswer.replyType);
    return;
  }
  // Refused: acknowledged on the worker address, then the pump is stopped
  // through the post's own address, like the host's stop command.
  link_.SendBareFrame(post_.channel, Origin::Worker);
  platform::SleepMs(kRefusalPauseMs);
  link::Frame stop{kCmdStop};
  link_.SendRequest(post_.channel, Origin::Host, &stop, kStop.length, kStop.replyLength,
                    kStop.replyType);
  if (post_.State() != kStateIdle) post_.SetState(static_cast<uint8_t>(kStateRefused + nozzle));
}

VU30_HOT_PATH void TTrkRequest::AcceptReport() {
  post_.SetState(kStateIdle);
  link_.SendBareFrame(post_.channel, Origin::Worker);
}

}  // namespace vu30::driver
