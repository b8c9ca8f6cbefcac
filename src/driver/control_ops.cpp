// SPDX-License-Identifier: MIT
// The host's commands: prices, presets, start and stop.
#include <cmath>
#include <string>

#include "config/port_type_table.h"
#include "driver/amounts.h"
#include "driver/messages.h"
#include "driver/protocol.h"
#include "driver/zud30.h"
#include "platform/hot_path.h"
#include "vu30.h"

namespace vu30::driver {

namespace {
using namespace protocol;

[[noreturn]] void RefuseAmount(const char* what, double x, const char* range) {
  throw EVu30Refused(std::string("vu30: ") + what + " " + std::to_string(x) +
                     " does not fit the line (" + range + ")");
}
}  // namespace

VU30_HOT_PATH void ZUD30::SetPrice(int32_t post, int32_t nozzle, double price) {
  Post& record = PostAt(post);
  const int n = CheckedNozzle(nozzle);
  // A price whose hundredths do not fit four digits would reach the
  // dispenser with its leading digits lost; it is refused before it is stored.
  if (!FitsDigits(price, kPriceDigits)) RefuseAmount("price", price, "0..99.99");
  // The price kept is the one the dispenser receives, so that money figures
  // use the dispenser's price.
  const auto hundredths = static_cast<uint32_t>(HundredthsOf(price));
  record.priceHundredths[static_cast<std::size_t>(n)].store(hundredths, Post::relaxed);
  link::Frame frame{kCmdSetPrice, static_cast<uint8_t>(n - 1)};
  WriteHundredths(hundredths, kPriceDigits, frame.data() + kPriceAt);
  record.channel.SetLinkStatus(link::kLinkGood);
  HostExchange(record, frame, kSetPrice, messages::kSetPriceFailed);
}

VU30_HOT_PATH void ZUD30::PresetVolume(int32_t post, int32_t nozzle, double volume) {
  Post& record = PostAt(post);
  // The nozzle's low byte is what the dose record keeps.
  const int n = CheckedNozzle(static_cast<uint8_t>(nozzle));
  OpenedPost(post);
  if (!FitsDigits(volume, kDoseDigits)) RefuseAmount("dose", volume, "0..999.99 litres");
  record.dose.Set(static_cast<uint8_t>(n), volume);
}

VU30_HOT_PATH void ZUD30::PresetMoney(int32_t post, int32_t nozzle, double money) {
  Post& record = PostAt(post);
  const int n = CheckedNozzle(nozzle);
  OpenedPost(post);
  const double price = record.Price(n);
  if (price == 0) {
    throw EVu30Refused("vu30: nozzle " + std::to_string(n) + " of post " + std::to_string(post) +
                       " has no price; a money preset needs one");
  }
  if (!std::isfinite(money) || money < 0) RefuseAmount("money", money, "a finite amount >= 0");
  const double volume = VolumeForMoney(money, price);
  if (!FitsDigits(volume, kDoseDigits)) RefuseAmount("dose", volume, "0..999.99 litres");
  record.dose.Set(static_cast<uint8_t>(n), volume);
}

VU30_HOT_PATH void ZUD30::StartPump(int32_t post) {
  Post& record = PostAt(post);
  link::Frame frame{kCmdStart};
  if (!HostExchange(record, frame, kStart, messages::kStartFailed).Good()) return;
  const uint8_t state = record.State();
  if (state >= kStateRefused + 1 && state <= kStateRefused + 7) {
    record.SetState(static_cast<uint8_t>(state - (kStateRefused - kStateRestarted)));
  } else if (state >= kStateStoppedFas + 1 && state <= kStateStoppedFas + 7) {
    // a released dose stays released
  } else {
    record.SetState(kStateStarted);
  }
}

VU30_HOT_PATH uint8_t ZUD30::StopPump(int32_t post, int32_t exchange) {
  Post& record = PostAt(post);
  if (static_cast<uint8_t>(exchange) == 0) {
    record.SetState(kStateIdle);
    return 0;
  }
  link::Frame frame{kCmdStop};
  if (HostExchange(record, frame, kStop, messages::kStopFailed).Good()) {
    const bool fas = config::PortTypes().GetPortType(record.Number()) == config::kTypeFAS;
    record.SetState(fas ? kStateStoppedFas : kStateIdle);
  }
  return 0;
}

}  // namespace vu30::driver
