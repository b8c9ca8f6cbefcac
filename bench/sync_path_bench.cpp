// SPDX-License-Identifier: MIT
// SetPrice's own time: a synchronous request holds its channel-pair lock for
// the exchange and a 30 ms pause after it, so a call takes 30 ms plus the
// driver's own work. The driver's own work is measured at the dispatcher:
// from the host's call to the dispatcher's Transact, and from the driver's
// reading of the channel status (right after the pause) back to the host.
// The pause itself is compared with a plain 30 ms sleep made right before or
// after each call on the same thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "instant_host.h"
#include "result_table.h"

namespace vu30::bench {
namespace {

using namespace std::chrono_literals;
constexpr double kPauseUs = 30000.0;

void SetPriceOwnTime(benchmark::State& state) {
  constexpr int kPairs = 100;
  std::vector<double> call;    // microseconds beyond the pause
  std::vector<double> sleep;   // microseconds beyond 30 ms
  std::vector<double> own;     // the driver's own work around the exchange and the pause
  std::vector<double> before;  // of it: from the host's call to Transact
  std::vector<double> after;   // of it: from the end of the pause back to the host
  double shortestMs = 1e9;
  for (auto _ : state) {
    InstantDispatcher dispatcher;
    Driver driver(dispatcher);
    driver.OpenPosts(1);
    const Vu30DriverTable& t = driver.Table();
    for (int i = 0; i < kPairs; ++i) {
      const double price = 40.0 + (i % 100) / 100.0;
      double callUs = 0;
      double sleepUs = 0;
      for (int k = 0; k < 2; ++k) {
        if ((k == 0) == (i % 2 == 0)) {
          const auto start = Clock::now();
          const int64_t startNs = NowNs();
          t.SetPrice(driver.Get(), 1, 0, 1 + i % 8, 0, 0, price);
          const int64_t endNs = NowNs();
          callUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
          before.push_back(static_cast<double>(dispatcher.SyncTransactNs(1) - startNs) / 1000.0);
          after.push_back(static_cast<double>(endNs - dispatcher.StatusReadNs(1)) / 1000.0);
          own.push_back(before.back() + after.back());
        } else {
          const auto start = Clock::now();
          std::this_thread::sleep_for(30ms);
          sleepUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        }
      }
      call.push_back(callUs - kPauseUs);
      sleep.push_back(sleepUs - kPauseUs);
      shortestMs = std::min(shortestMs, callUs / 1000.0);
    }
  }
  const double call50 = Percentile(call, 50);
  const double sleep50 = Percentile(sleep, 50);
  const double own50 = Percentile(own, 50);
  state.counters["beyond_pause_p50_us"] = call50;
  state.counters["sleep_beyond_30ms_p50_us"] = sleep50;
  state.counters["own_p50_us"] = own50;
  state.counters["own_before_exchange_p50_us"] = Percentile(before, 50);
  state.counters["own_after_pause_p50_us"] = Percentile(after, 50);
  state.counters["shortest_ms"] = shortestMs;
  AddResult({"SetPrice beyond the 30 ms pause, p50 (µs)", call50, sleep50, "plain 30 ms sleep",
             "difference ≤ 3 µs", call50 - sleep50 <= 3.0});
  AddResult({"SetPrice own work: call to Transact, pause to return, p50 (µs)", own50, NAN, "",
             "≤ 3 µs", own50 <= 3.0});
  AddResult({"SetPrice shortest call (ms)", shortestMs, 30.0, "the pause", "≥ 30 ms, never early",
             shortestMs >= 30.0});
}
BENCHMARK(SetPriceOwnTime)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vu30::bench
