// SPDX-License-Identifier: MIT
// A sale at the line's speed: one post of the dispenser simulator at 1200
// baud, a host that does each step as soon as the one before it is done, and
// the time of the whole sale against the least it can take: every byte on
// the wire (10 bit times a byte) plus the pauses the driver must make.
//
// The sale, step by step, with its bytes on the line (a request frame is the
// line address, the request digits and the awaited reply; a message is the
// address byte, its digits and the closing zero) and the driver's pauses:
//
//   ReadCounter            1 + 2 + 13 = 16 bytes, 30 ms, then 100 ms
//   SetPrice               1 + 6 + 1  =  8 bytes, 30 ms
//   PresetVolume           no exchange
//   nozzle lifted: price request message 5 bytes, worker's answer 1 + 11 + 1 = 13
//   StartPump              1 + 1 + 1  =  3 bytes; its 30 ms pause runs while the
//                          dispenser's next messages are on the line, so it
//                          adds nothing to the bound
//   dose request message 5 bytes, worker's answer 13 bytes, (fuel flows at
//   once), report message 1 + 1 + 5 + 5 + 1 + 1 = 14 bytes, acknowledgement 1
//   ReadFinalDispense      1 + 1 + 15 = 17 bytes, 30 ms
//   ReadCounter            16 bytes, 30 ms, then 100 ms
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dispenser_simulator.h"
#include "instant_host.h"
#include "result_table.h"

namespace vu30::bench {

int& SalesToMeasure();

namespace {

using namespace std::chrono_literals;

constexpr int kBaud = 1200;
constexpr int kPost = 1;
constexpr int kNozzle = 2;
constexpr int kWireBytes = 16 + 8 + (5 + 13) + 3 + (5 + 13 + 14 + 1) + 17 + 16;
constexpr double kPausesMs = (30 + 100) + 30 + 30 + (30 + 100);

double BoundMs() { return kWireBytes * 10.0 * 1000.0 / kBaud + kPausesMs; }

void SaleAtLineSpeed(benchmark::State& state) {
  std::vector<double> saleMs;
  for (auto _ : state) {
    sim::SimOptions options;
    options.baud = kBaud;
    options.doseRequestDelay = 0ms;  // the dispenser asks for the dose at once
    options.repeatTimeout = 5s;      // and never needs to ask twice
    sim::Simulator simulator(options);
    sim::PostConfig config;
    config.flowRate = 1e6;  // the fuel flows at once: only the line's time is measured
    simulator.ConfigurePost(kPost, config);
    simulator.SetCounter(kPost, kNozzle, 123456);
    {
      Driver driver(simulator.Dispatcher());
      const Vu30DriverTable& t = driver.Table();
      Vu30Driver* const d = driver.Get();
      driver.OpenPosts(1);
      for (int sale = 0; sale < SalesToMeasure(); ++sale) {
        double counter = 0;
        double second = 0;
        double volume = 0;
        double money = 0;
        const size_t before = simulator.SalesOf(kPost).size();
        const auto start = Clock::now();
        t.ReadCounter(d, kPost, 0, kNozzle, &counter, &second, 0, 0);
        t.SetPrice(d, kPost, 0, kNozzle, 0, 0, 45.67);
        t.PresetVolume(d, kPost, 0, kNozzle, 0, 10.0);
        simulator.LiftNozzle(kPost, kNozzle);
        const bool priced = simulator.WaitForPhase(kPost, sim::Phase::AwaitingStart, 5s);
        t.StartPump(d, kPost, 0, 0);
        const bool sold = simulator.WaitForSales(kPost, before + 1, 5s) &&
                          simulator.WaitForPhase(kPost, sim::Phase::Idle, 5s);
        t.ReadFinalDispense(d, kPost, 0, &volume, &money);
        t.ReadCounter(d, kPost, 0, kNozzle, &counter, &second, 0, 0);
        saleMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!priced || !sold || volume != 10.0) {
          state.SkipWithError("the sale did not go through");
          simulator.ForgetCallbacks();
          return;
        }
      }
      simulator.ForgetCallbacks();
    }
  }
  const double p50 = Percentile(saleMs, 50);
  const double bound = BoundMs();
  state.counters["sale_ms"] = p50;
  state.counters["bound_ms"] = bound;
  AddResult({"sale at 1200 baud, p50 of " + std::to_string(saleMs.size()) + " (ms)", p50, bound,
             "wire + pauses", "≤ 1.02× bound", p50 <= 1.02 * bound});
}
BENCHMARK(SaleAtLineSpeed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vu30::bench
