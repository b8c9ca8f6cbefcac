// The host's readings: the running and final figures of a dispense, the
// nozzle counters, the post's state code and the capability table.
#include <string>

#include "config/port_type_table.h"
#include "driver/amounts.h"
#include "driver/messages.h"
#include "driver/protocol.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
#include "platform/sleep.h"
#include "vu30.h"

namespace vu30::driver {

namespace {
using namespace protocol;

constexpr int kVolumeDigits = 5;
constexpr int kCounterDigits = 10;

// Once this many polls in a row found the dose reached, every poll first
// waits a second; past the second limit the post is forced idle.
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
}  // namespace

double ZUD30::GuardVolume(int post, double volume, double doseAmount) const {
  const double last = lastVolume_[post].load(relaxed);
  if (volume > last + kMaxJump && volume > doseAmount + kDoseMargin) return last;
  return volume;
}

void ZUD30::CountOverDose(int post, double volume, double doseAmount) {
  if (volume >= doseAmount) {
    overDoseCount_[post].fetch_add(1, relaxed);
  } else {
    overDoseCount_[post].store(0, relaxed);
  }
  if (overDoseCount_[post].load(relaxed) > kForceIdleCount)
    pumpState_[post].store(kStateIdle, relaxed);
}

double ZUD30::DoseNozzlePrice(int post, const TTrkRequest& worker) const {
  // A reading without a preset (dose nozzle 0) has no price to apply.
  const uint8_t nozzle = worker.DoseNozzle();
  if (nozzle < 1 || nozzle > kNozzles) return 0;
  return prices_[post][nozzle].load(relaxed);
}

double ZUD30::PollDispense(int32_t post, int32_t mode, double* money) {
  const int p = CheckedPost(post);
  RequireOutput(money, "money figure");
  const TTrkRequest& worker = OpenedWorker(p);
  const uint8_t type = config::PortTypes().GetPortType(static_cast<uint8_t>(p));
  const bool impulses = type == config::kTypeFAS || type == config::kTypeER112;
  const uint8_t impl = config::PortTypes().Impl(p);
  if (mode == 1 && impulses && impl == 0) {
    throw EVu30Refused("vu30: post " + std::to_string(p) +
                       " counts impulses but its impulses factor is 0");
  }

  double volume = 0;
  *money = 0;
  if (overDoseCount_[p].load(relaxed) > kSlowPollCount) platform::SleepMs(kSlowPollMs);

  const double dose = worker.DoseAmount();
  const double price = DoseNozzlePrice(p, worker);
  uint8_t buffer[kBufferSize] = {};
  if (mode == 1) {
    buffer[0] = kCmdRunning;
    if (link_.SendRequest(static_cast<uint8_t>(p), buffer, 1, kRunningReplyLength,
                          kRunningReplyType) != 0) {
      throw ESerialIO(messages::kPollFailed);
    }
    if (link_.LinkStatus(p) != link::kLinkGood) {
      // A rejected reply: no figures, and the last accepted volume stays.
      link_.SetLinkStatus(p, link::kLinkFailed);
    } else {
      volume = NumberFromDigits(buffer + 1, kVolumeDigits);
      volume = impulses ? volume / impl : volume / 100;
      volume = GuardVolume(p, volume, dose);
      lastVolume_[p].store(volume, relaxed);
      *money = volume * price;
    }
  } else {
    buffer[0] = kCmdFinal;
    if (link_.SendRequest(static_cast<uint8_t>(p), buffer, 1, kFinalReplyLength, kFinalReplyType) !=
        0) {
      throw ESerialIO(messages::kFinalFailed);
    }
    volume = 0;
    *money = 0;
    if (link_.LinkStatus(p) == link::kLinkGood) {
      volume = GuardVolume(p, NumberFromDigits(buffer + 1, kVolumeDigits) / 100, dose);
    }
    *money = volume * price;
  }

  if (link_.LinkStatus(p) == link::kLinkGood) CountOverDose(p, volume, dose);
  return volume;
}

void ZUD30::ReadFinalDispense(int32_t post, double* volume, double* money) {
  const int p = CheckedPost(post);
  RequireOutput(volume, "volume figure");
  RequireOutput(money, "money figure");
  const TTrkRequest& worker = OpenedWorker(p);
  *volume = 0;
  *money = 0;
  if (!pricePending_[p].load(relaxed)) {
    pumpState_[p].store(kStateIdle, relaxed);
    overDoseCount_[p].store(0, relaxed);
    return;
  }
  if (config::PortTypes().GetPortType(static_cast<uint8_t>(p)) == config::kTypeFAS &&
      pumpState_[p].load(relaxed) != kStateIdle) {
    return;
  }
  uint8_t buffer[kBufferSize] = {kCmdFinal};
  if (link_.SendRequest(static_cast<uint8_t>(p), buffer, 1, kFinalReplyLength, kFinalReplyType) !=
      0) {
    throw ESerialIO(messages::kFinalFailed);
  }
  if (link_.LinkStatus(p) != link::kLinkGood) return;
  const double v =
      GuardVolume(p, NumberFromDigits(buffer + 1, kVolumeDigits) / 100, worker.DoseAmount());
  *volume = v;
  *money = v * DoseNozzlePrice(p, worker);
  pricePending_[p].store(false, relaxed);
  pumpState_[p].store(kStateIdle, relaxed);
  overDoseCount_[p].store(0, relaxed);
}

void ZUD30::ReadCounter(int32_t post, int32_t nozzle, double* counter, double* second) {
  const int p = CheckedPost(post);
  const int n = CheckedNozzle(nozzle);
  RequireOutput(counter, "counter");
  RequireOutput(second, "second counter");
  uint8_t buffer[kBufferSize] = {kCmdCounter, static_cast<uint8_t>(n - 1)};
  if (link_.SendRequest(static_cast<uint8_t>(p), buffer, 2, kCounterReplyLength,
                        kCounterReplyType) != 0) {
    throw ESerialIO(messages::kCounterFailed);
  }
  *counter = 0;
  *second = 0;
  if (link_.LinkStatus(p) != link::kLinkGood) return;
  if (buffer[11] + 1 != nozzle) {
    link_.SetLinkStatus(p, link::kLinkFailed);
    return;
  }
  *counter = NumberFromDigits(buffer + 1, kCounterDigits) / 100;
  platform::SleepMs(kCounterPauseMs);
}

uint8_t ZUD30::GetPumpState(uint8_t post) {
  const int p = CheckedPost(post);
  const uint8_t stored = pumpState_[p].load(relaxed);
  const bool asks = config::PortTypes().GetPortType(post) == config::kTypeFAS &&
                    (stored == kStateIdle || stored == kStateReported + 1);
  if (!asks) {
    link_.SetLinkStatus(p, link::kLinkGood);
    return stored;
  }
  uint8_t buffer[kBufferSize] = {kCmdState, kStateQuery};
  if (link_.SendRequest(post, buffer, 2, kStateReplyLength, kStateReplyType) != 0) {
    throw ESerialIO(messages::kStateFailed);
  }
  if (link_.LinkStatus(p) != link::kLinkGood) return 0;
  const uint8_t state = buffer[1];
  const uint8_t nozzleIndex = buffer[2];
  if (state == 0) return static_cast<uint8_t>(kStateReported + 1 + nozzleIndex);
  // Digit 1 is idle. Any other digit names no state; the stored code is the
  // best the host can be told.
  if (state == 1) return kStateIdle;
  return stored;
}

}  // namespace vu30::driver
