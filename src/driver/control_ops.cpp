// The host's commands: prices, presets, start and stop.
#include <cmath>
#include <string>

#include "config/port_type_table.h"
#include "driver/amounts.h"
#include "driver/messages.h"
#include "driver/protocol.h"
#include "driver/trk_request.h"
#include "driver/zud30.h"
#include "vu30.h"

namespace vu30::driver {

namespace {
using namespace protocol;

void RefuseAmount(const char* what, double x, const char* range) {
  throw EVu30Refused(std::string("vu30: ") + what + " " + std::to_string(x) +
                     " does not fit the line (" + range + ")");
}
}  // namespace

void ZUD30::SetPrice(int32_t post, int32_t nozzle, double price) {
  const int p = CheckedPost(post);
  const int n = CheckedNozzle(nozzle);
  // A price whose hundredths do not fit four digits would reach the
  // dispenser with its leading digits lost; it is refused before it is stored.
  if (!FitsDigits(price, kPriceDigits)) RefuseAmount("price", price, "0..99.99");
  prices_[p][n].store(price, relaxed);
  uint8_t request[6] = {kCmdSetPrice, static_cast<uint8_t>(n - 1)};
  WriteDigits(price, kPriceDigits, request + 2);
  link_.SetLinkStatus(p, link::kLinkGood);
  if (link_.SendRequest(static_cast<uint8_t>(p), request, 6, 1, 0) != 0) {
    throw ESerialIO(messages::kSetPriceFailed);
  }
}

void ZUD30::PresetVolume(int32_t post, int32_t nozzle, double volume) {
  const int p = CheckedPost(post);
  // The nozzle's low byte is what the dose record keeps.
  const int n = CheckedNozzle(static_cast<uint8_t>(nozzle));
  TTrkRequest& worker = OpenedWorker(p);
  if (!FitsDigits(volume, kDoseDigits)) RefuseAmount("dose", volume, "0..999.99 litres");
  worker.SetDose(static_cast<uint8_t>(n), volume);
}

void ZUD30::PresetMoney(int32_t post, int32_t nozzle, double money) {
  const int p = CheckedPost(post);
  const int n = CheckedNozzle(nozzle);
  TTrkRequest& worker = OpenedWorker(p);
  const double price = prices_[p][n].load(relaxed);
  if (price == 0) {
    throw EVu30Refused("vu30: nozzle " + std::to_string(n) + " of post " + std::to_string(p) +
                       " has no price; a money preset needs one");
  }
  if (!std::isfinite(money) || money < 0) RefuseAmount("money", money, "a finite amount >= 0");
  // The volume the money buys at the nozzle's price, in whole hundredths.
  const double volume = RoundToHundredths(money / price);
  if (!FitsDigits(volume, kDoseDigits)) RefuseAmount("dose", volume, "0..999.99 litres");
  worker.SetDose(static_cast<uint8_t>(n), volume);
}

void ZUD30::StartPump(int32_t post) {
  const int p = CheckedPost(post);
  uint8_t request[1] = {kCmdStart};
  if (link_.SendRequest(static_cast<uint8_t>(p), request, 1, 1, 0) != 0) {
    throw ESerialIO(messages::kStartFailed);
  }
  if (link_.LinkStatus(p) != link::kLinkGood) return;
  const uint8_t state = pumpState_[p].load(relaxed);
  if (state >= kStateRefused + 1 && state <= kStateRefused + 7) {
    pumpState_[p].store(static_cast<uint8_t>(state - 8), relaxed);  // 0xF0+n -> 0xE8+n
  } else if (state >= kStateStoppedFas + 1 && state <= kStateStoppedFas + 7) {
    // a released dose stays released
  } else {
    pumpState_[p].store(kStateStarted, relaxed);
  }
}

uint8_t ZUD30::StopPump(int32_t post, int32_t exchange) {
  const int p = CheckedPost(post);
  if (static_cast<uint8_t>(exchange) == 0) {
    pumpState_[p].store(kStateIdle, relaxed);
    return 0;
  }
  uint8_t request[1] = {kCmdStop};
  if (link_.SendRequest(static_cast<uint8_t>(p), request, 1, 1, 0) != 0) {
    throw ESerialIO(messages::kStopFailed);
  }
  if (link_.LinkStatus(p) == link::kLinkGood) {
    const bool fas = config::PortTypes().GetPortType(static_cast<uint8_t>(p)) == config::kTypeFAS;
    pumpState_[p].store(fas ? kStateStoppedFas : kStateIdle, relaxed);
  }
  return 0;
}

}  // namespace vu30::driver
