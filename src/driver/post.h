/* SPDX-License-Identifier: MIT */
// The state the driver keeps for one post, in one record: the link state of
// its channel, its state code, prices, pending sale, the dispense
// bookkeeping, the dose record and its worker. Each post's record starts on
// a cache line of its own, so that one post's traffic never contends with
// another's.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "link/frame.h"
#include "link/request_link.h"

namespace vu30::driver {

class TTrkRequest;

inline constexpr int kPosts = link::kPostCount;
inline constexpr int kNozzles = 8;

// State codes (PumpState).
inline constexpr uint8_t kStateIdle = 0xC0;        // idle; dose requests refused
inline constexpr uint8_t kStateStarted = 0xC8;     // started, no dose released yet
inline constexpr uint8_t kStateStoppedFas = 0xD8;  // stopped on a FAS port; + n: dose released
inline constexpr uint8_t kStateRestarted = 0xE8;   // + n: started after a refusal
inline constexpr uint8_t kStateRefused = 0xF0;     // + n: dose refused, pump stopped
inline constexpr uint8_t kStateReported = 0xE0;    // + n: a FAS dispenser reports nozzle n

// The dose record: the nozzle of the preset dose (0 while none was preset)
// and the dose in litres, as the dispenser receives it (whole hundredths).
// Presets write it from the host's threads while the worker and the
// readings read it: both parts travel in one atomic word, so a reader never
// pairs a new nozzle with an old amount.
class DoseRecord {
 public:
  struct Value {
    uint8_t nozzle = 0;
    uint64_t hundredths = 0;  // the dose in whole hundredths of a litre
    double Amount() const { return static_cast<double>(hundredths) / 100; }
  };
  // amount must fit the dose's digits (FitsDigits).
  void Set(uint8_t nozzle, double amount);
  Value Get() const;

 private:
  std::atomic<uint64_t> word_{0};  // hundredths << 8 | nozzle
};

struct alignas(64) Post {
  link::Channel channel;  // the link status and the transactions' verdicts
  std::atomic<uint8_t> pumpState{kStateIdle};
  // A price answered or a dose released, and not yet read back by a good
  // final reading. Kept per post, so that the final read of one post cannot
  // wipe out the pending sale of another.
  std::atomic<bool> pricePending{false};
  std::atomic<int32_t> overDoseCount{0};
  std::atomic<double> lastVolume{0};
  DoseRecord dose;
  // Each nozzle's price as the dispenser receives it, in whole hundredths
  // (at most four digits): the worker writes its answers' digits from it.
  std::array<std::atomic<uint32_t>, kNozzles + 1> priceHundredths{};  // [0] unused
  // The worker, created once and published for the router and the readings;
  // its owner changes only under the driver's worker lock.
  std::atomic<TTrkRequest*> worker{nullptr};
  std::unique_ptr<TTrkRequest> workerOwner;

  Post();
  ~Post();
  Post(const Post&) = delete;
  Post& operator=(const Post&) = delete;

  uint8_t Number() const { return channel.Number(); }
  uint32_t PriceHundredths(int nozzle) const {
    return priceHundredths[static_cast<std::size_t>(nozzle)].load(relaxed);
  }
  double Price(int nozzle) const { return PriceHundredths(nozzle) / 100.0; }
  uint8_t State() const { return pumpState.load(relaxed); }
  void SetState(uint8_t code) { pumpState.store(code, relaxed); }

  static constexpr auto relaxed = std::memory_order_relaxed;
};

}  // namespace vu30::driver
