// SPDX-License-Identifier: MIT
// The host's readings: the running and final figures of a dispense, the
// nozzle counters, the post's state code and the capability table.
#include <string>

#include "config/port_type_table.h"
#include "driver/amounts.h"
#include "driver/messages.h"
#include "driver/protocol.h"
#include "driver/zud30.h"
#include "platform/hot_path.h"
#include "platform/sleep.h"
#include "vu30.h"

namespace vu30::driver {

namespace {
using namespace protocol;

// Once more than this many polls in a row found the dose reached, every poll
// first waits a second; past the second limit the post is forced idle.
constexpr int32_t kSlowPollCount = 2;
constexpr int32_t kForceIdleCount = 1000;
constexpr unsigned kSlowPollMs = 1000;
constexpr unsigned kCounterPauseMs = 100;

// The plausibility guard's margins, in litres.
constexpr double kMaxJump = 2.0;
constexpr double kDoseMargin = 0.02;

void RequireOutput(const void* p, const char* what) {
  if (p == nullptr) throw EVu30Refused(std::string("vu30: no place for the ") + what);
}

double Hundredths(const link::Frame& frame, int at, int digits) {
  return NumberFromDigits(frame.data() + at, digits) / 100;
}
}  // namespace

VU30_HOT_PATH double ZUD30::GuardVolume(const Post& post, double volume, double doseAmount) {
  const double last = post.lastVolume.load(Post::relaxed);
  if (volume > last + kMaxJump && volume > doseAmount + kDoseMargin) return last;
  return volume;
}

VU30_HOT_PATH void ZUD30::CountOverDose(Post& post, double volume, double doseAmount) {
  if (volume >= doseAmount) {
    post.overDoseCount.fetch_add(1, Post::relaxed);
  } else {
    post.overDoseCount.store(0, Post::relaxed);
  }
  if (post.overDoseCount.load(Post::relaxed) > kForceIdleCount) post.SetState(kStateIdle);
}

VU30_HOT_PATH double ZUD30::DoseNozzlePrice(const Post& post, const DoseRecord::Value& dose) {
  // A reading without a preset (dose nozzle 0) has no price to apply.
  if (dose.nozzle < 1 || dose.nozzle > kNozzles) return 0;
  return post.Price(dose.nozzle);
}

VU30_HOT_PATH double ZUD30::PollDispense(int32_t post, int32_t mode, double* money) {
  Post& record = OpenedPost(post);
  RequireOutput(money, "money figure");
  const uint8_t type = config::PortTypes().GetPortType(record.Number());
  const bool impulses = config::CountsImpulses(type);
  const uint8_t impl = config::PortTypes().Impl(record.Number());
  if (mode == 1 && impulses && impl == 0) {
    throw EVu30Refused("vu30: post " + std::to_string(post) +
                       " counts impulses but its impulses factor is 0");
  }

  double volume = 0;
  *money = 0;
  if (record.overDoseCount.load(Post::relaxed) > kSlowPollCount) platform::SleepMs(kSlowPollMs);

  const DoseRecord::Value dose = record.dose.Get();
  const double price = DoseNozzlePrice(record, dose);
  link::Exchange exchange;
  if (mode == 1) {
    link::Frame frame{kCmdRunning};
    exchange = HostExchange(record, frame, kRunning, messages::kPollFailed);
    if (!exchange.Good()) {
      // A rejected reply: no figures, and the last accepted volume stays.
      record.channel.SetLinkStatus(link::kLinkFailed);
    } else {
      volume = NumberFromDigits(frame.data() + kVolumeAt, kVolumeDigits);
      volume = impulses ? volume / impl : volume / 100;
      volume = GuardVolume(record, volume, dose.Amount());
      record.lastVolume.store(volume, Post::relaxed);
      *money = volume * price;
    }
  } else {
    link::Frame frame{kCmdFinal};
    exchange = HostExchange(record, frame, kFinal, messages::kFinalFailed);
    if (exchange.Good()) {
      volume = GuardVolume(record, Hundredths(frame, kVolumeAt, kVolumeDigits), dose.Amount());
    }
    *money = volume * price;
  }

  if (exchange.Good()) CountOverDose(record, volume, dose.Amount());
  return volume;
}

VU30_HOT_PATH void ZUD30::ReadFinalDispense(int32_t post, double* volume, double* money) {
  Post& record = OpenedPost(post);
  RequireOutput(volume, "volume figure");
  RequireOutput(money, "money figure");
  *volume = 0;
  *money = 0;
  if (!record.pricePending.load(Post::relaxed)) {
    record.SetState(kStateIdle);
    record.overDoseCount.store(0, Post::relaxed);
    return;
  }
  if (config::PortTypes().GetPortType(record.Number()) == config::kTypeFAS &&
      record.State() != kStateIdle) {
    return;
  }
  link::Frame frame{kCmdFinal};
  if (!HostExchange(record, frame, kFinal, messages::kFinalFailed).Good()) return;
  const DoseRecord::Value dose = record.dose.Get();
  const double v = GuardVolume(record, Hundredths(frame, kVolumeAt, kVolumeDigits), dose.Amount());
  *volume = v;
  *money = v * DoseNozzlePrice(record, dose);
  record.pricePending.store(false, Post::relaxed);
  record.SetState(kStateIdle);
  record.overDoseCount.store(0, Post::relaxed);
}

VU30_HOT_PATH void ZUD30::ReadCounter(int32_t post, int32_t nozzle, double* counter,
                                      double* second) {
  Post& record = PostAt(post);
  const int n = CheckedNozzle(nozzle);
  RequireOutput(counter, "counter");
  RequireOutput(second, "second counter");
  link::Frame frame{kCmdCounter, static_cast<uint8_t>(n - 1)};
  const link::Exchange exchange = HostExchange(record, frame, kCounter, messages::kCounterFailed);
  *counter = 0;
  *second = 0;
  if (!exchange.Good()) return;
  if (frame[kCounterNozzleAt] + 1 != n) {
    record.channel.SetLinkStatus(link::kLinkFailed);
    return;
  }
  *counter = Hundredths(frame, kCounterAt, kCounterDigits);
  platform::SleepMs(kCounterPauseMs);
}

uint8_t ZUD30::GetPumpState(uint8_t post) {
  Post& record = PostAt(post);
  const uint8_t stored = record.State();
  const bool asks = config::PortTypes().GetPortType(post) == config::kTypeFAS &&
                    (stored == kStateIdle || stored == kStateReported + 1);
  if (!asks) {
    record.channel.SetLinkStatus(link::kLinkGood);
    return stored;
  }
  link::Frame frame{kCmdState, kStateQuery};
  if (!HostExchange(record, frame, kState, messages::kStateFailed).Good()) return 0;
  const uint8_t state = frame[kStateDigitAt];
  const uint8_t nozzleIndex = frame[kStateNozzleAt];
  if (state == 0) return static_cast<uint8_t>(kStateReported + 1 + nozzleIndex);
  // Digit 1 is idle. Any other digit names no state; the stored code is the
  // best the host can be told.
  if (state == 1) return kStateIdle;
  return stored;
}

}  // namespace vu30::driver
