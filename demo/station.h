/* SPDX-License-Identifier: MIT */
// The station: the host side of the demo. It loads the driver library, hands
// it the simulator as its port dispatcher, and runs sales on several posts at
// once, one host thread per post, checking each sale against what the
// simulated dispenser really dispensed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "vu30.h"
#include "vu30_sim.h"

namespace vu30::demo {

struct StationOptions {
  std::string library;       // path of the driver library (libvu30.so, vu30.dll)
  std::string trace;         // a line trace into this file; empty: none
  std::string traceLibrary;  // path of the trace library (libvu30-trace.so, vu30-trace.dll)
  int posts = 4;
  int sales = 3;    // per post
  int baud = 1200;  // 0: instant line
  double faultRate = 0.0;
  uint64_t seed = 1;
  // A post whose sale shows nothing new (state, running volume, the
  // dispenser's phase) for this long has stopped answering: its sale is
  // given up and the post reported in StationResult::errors.
  std::chrono::milliseconds stallTimeout{15000};
  // Called from the post's thread as each sale starts to dispense: what the
  // line does to the post from then on (for trying out failures).
  std::function<void(Vu30Sim* sim, int post)> whileDispensing;
};

// What the view shows of one post.
struct PostView {
  int post = 0;
  uint8_t portType = 0;  // the post's dispenser type in cnf.INI
  uint8_t impulses = 0;  // its impulses per litre (used by "FAS" and "ER112")
  int nozzle = 0;
  int sale = 0;  // 1-based number of the sale under way
  uint32_t state = 0xC0;
  double volume = 0.0;
  double money = 0.0;
  double dose = 0.0;
  std::string note;
  bool finished = false;
};

// One sale as the host read it, beside what the dispenser recorded.
struct SaleCheck {
  int post = 0;
  int nozzle = 0;
  std::string preset;
  bool moneyPreset = false;
  int64_t doseHundredths = 0;  // the volume preset, or the one the money buys
  double price = 0.0;
  double hostVolume = 0.0;
  double hostMoney = 0.0;
  double counterBefore = 0.0;
  double counterAfter = 0.0;
  Vu30SimSale dispensed{};
  int retries = 0;      // operations repeated after link faults
  std::string problem;  // empty when every figure agrees
};

struct StationResult {
  std::vector<SaleCheck> sales;
  std::vector<std::string> errors;  // posts that could not finish
  int refusedByFaults = 0;          // sales repeated because a fault cost the dose
  bool Ok() const;
};

class Station {
 public:
  explicit Station(StationOptions options);

  // Runs every sale; onChange is called (from post threads) whenever a post's
  // view changes. Throws std::runtime_error when the library cannot be loaded.
  StationResult Run(const std::function<void(const PostView&)>& onChange);

  // The port type of a post in this station's configuration.
  static Vu30SimPostConfig PostSetup(int post);
  static constexpr int kNozzles = 4;  // on every post

 private:
  StationOptions options_;
};

}  // namespace vu30::demo
