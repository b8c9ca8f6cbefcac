// SPDX-License-Identifier: MIT
// What 30 open posts cost while nothing happens: CPU time of the process over
// an idle spell, heap in use, and the time to destroy the driver object.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "cv_baseline.h"
#include "instant_host.h"
#include "result_table.h"

namespace vu30::bench {

// The idle spell, in seconds; main may change it.
int& IdleSeconds() {
  static int seconds = 10;
  return seconds;
}

namespace {

using namespace std::chrono_literals;

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double HeapInUseKiB() { return static_cast<double>(mallinfo2().uordblks) / 1024.0; }

void IdleCpu(benchmark::State& state) {
  const auto idle = std::chrono::seconds(IdleSeconds());
  double driverMs = 0;
  double baselineMs = 0;
  for (auto _ : state) {
    {
      // Baseline: the same spell with no driver at all.
      const double start = ProcessCpuMs();
      std::this_thread::sleep_for(idle);
      baselineMs = ProcessCpuMs() - start;
    }
    InstantDispatcher dispatcher;
    Driver driver(dispatcher);
    driver.OpenPosts(kPosts);
    std::this_thread::sleep_for(100ms);  // opening is done, the workers wait
    const double start = ProcessCpuMs();
    std::this_thread::sleep_for(idle);
    driverMs = ProcessCpuMs() - start;
  }
  state.counters["cpu_ms"] = driverMs;
  state.counters["baseline_cpu_ms"] = baselineMs;
  AddResult({"idle CPU of 30 open posts over " + std::to_string(IdleSeconds()) + " s (ms)",
             driverMs, baselineMs, "no driver", "≤ baseline + 1 ms", driverMs <= baselineMs + 1.0});
}
BENCHMARK(IdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void HeapFor30Posts(benchmark::State& state) {
  double driverKiB = 0;
  double baselineKiB = 0;
  for (auto _ : state) {
    InstantDispatcher dispatcher;
    {
      // Baseline: 30 plain worker threads with a message buffer each.
      const double before = HeapInUseKiB();
      CvBaseline baseline(dispatcher.Dispatcher(), kPosts, 0);
      std::this_thread::sleep_for(50ms);
      baselineKiB = HeapInUseKiB() - before;
    }
    const double before = HeapInUseKiB();
    Driver driver(dispatcher);
    driver.OpenPosts(kPosts);
    std::this_thread::sleep_for(50ms);
    driverKiB = HeapInUseKiB() - before;
  }
  state.counters["heap_KiB"] = driverKiB;
  state.counters["baseline_heap_KiB"] = baselineKiB;
  AddResult({"heap in use for 30 posts (KiB)", driverKiB, baselineKiB, "30 cv threads", "≤ 32 KiB",
             driverKiB <= 32.0});
}
BENCHMARK(HeapFor30Posts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Destruction(benchmark::State& state) {
  constexpr int kRounds = 20;
  std::vector<double> driverUs;
  std::vector<double> baselineUs;
  for (auto _ : state) {
    InstantDispatcher dispatcher;
    for (int r = 0; r < kRounds; ++r) {
      {
        Driver driver(dispatcher);
        driver.OpenPosts(kPosts);
        std::this_thread::sleep_for(20ms);
        const auto start = Clock::now();
        driver.Destroy();
        driverUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
      {
        CvBaseline baseline(dispatcher.Dispatcher(), kPosts, 0);
        std::this_thread::sleep_for(20ms);
        const auto start = Clock::now();
        baseline.Stop();
        baselineUs.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
    }
  }
  const double d50 = Percentile(driverUs, 50);
  const double b50 = Percentile(baselineUs, 50);
  state.counters["destroy_p50_us"] = d50;
  state.counters["baseline_join_p50_us"] = b50;
  AddResult({"destruction with 30 posts, p50 (µs)", d50, b50, "joining 30 threads",
             "≤ 1.5× baseline", d50 <= 1.5 * b50});
}
BENCHMARK(Destruction)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vu30::bench
