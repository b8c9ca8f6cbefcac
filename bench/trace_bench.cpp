// SPDX-License-Identifier: MIT
// The line trace's cost, each figure beside the same work without the trace
// in the same run: a host request's dispatcher calls (the reply check's
// registration, Transact with its check, the status read), and a message's
// way from RouteMessage to the worker's answer on 10 posts. Rounds with and
// without the trace alternate.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "instant_host.h"
#include "result_table.h"
#include "vu30_trace.h"

namespace vu30::bench {
namespace {

using namespace std::chrono_literals;

// A trace file of the run's own, removed with the trace.
class TraceAround {
 public:
  explicit TraceAround(Vu30Dispatcher* inner)
      : path_(std::filesystem::temp_directory_path() / ("vu30-bench-" + std::to_string(getpid()) +
                                                        "-" + std::to_string(++count_) + ".trace")),
        traced_(vu30_trace_open(inner, path_.string().c_str(), VU30_TRACE_DEFAULTS)) {}
  ~TraceAround() {
    vu30_trace_close(traced_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TraceAround(const TraceAround&) = delete;
  TraceAround& operator=(const TraceAround&) = delete;
  Vu30Dispatcher* Get() const { return traced_; }

 private:
  static inline int count_ = 0;
  std::filesystem::path path_;
  Vu30Dispatcher* traced_;
};

// A reply check that does what the driver's does with the dispatcher: it
// reports the status and the error of the channel.
bool VU30_CALL CheckAsTheDriver(void* dispatcher, uint8_t channel, uint8_t*, int32_t, uint8_t*,
                                uint8_t*) {
  auto* d = static_cast<Vu30Dispatcher*>(dispatcher);
  d->table->SetChannelStatus(d, channel, VU30_LINK_GOOD);
  d->table->SetChannelError(d, channel, 0);
  return true;
}

// The dispatcher calls of one host request, as the driver makes them.
double RequestUs(Vu30Dispatcher* d, uint8_t channel) {
  uint8_t request[1] = {0xAA};
  uint8_t reply[256];
  const int64_t start = NowNs();
  d->table->SetReplyChecker(d, channel, {reinterpret_cast<void*>(&CheckAsTheDriver), d});
  d->table->Transact(d, channel, channel, request, 1, reply, 1, 0);
  d->table->GetChannelStatus(d, channel);
  return static_cast<double>(NowNs() - start) / 1000.0;
}

void TraceRequestCost(benchmark::State& state) {
  std::vector<double> plain;
  std::vector<double> traced;
  for (auto _ : state) {
    InstantDispatcher dispatcher;
    TraceAround trace(dispatcher.Dispatcher());
    if (trace.Get() == nullptr) {
      state.SkipWithError("no trace file");
      return;
    }
    for (int i = 0; i < 20000; ++i) {
      const bool tracedFirst = i % 2 == 0;
      for (int k = 0; k < 2; ++k) {
        if ((k == 0) == tracedFirst) {
          traced.push_back(RequestUs(trace.Get(), 2));
        } else {
          plain.push_back(RequestUs(dispatcher.Dispatcher(), 1));
        }
      }
      // Spaced as a station's requests are, so that the writer keeps up.
      if (i % 4 == 3) std::this_thread::sleep_for(1ms);
    }
  }
  const double t50 = Percentile(traced, 50);
  const double p50 = Percentile(plain, 50);
  state.counters["traced_p50_us"] = t50;
  state.counters["plain_p50_us"] = p50;
  AddResult({"a request's dispatcher calls through the trace, p50 (µs)", t50, p50,
             "the same calls without it", "≤ baseline + 1 µs", t50 - p50 <= 1.0});
}
BENCHMARK(TraceRequestCost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One message to post, through the hook the dispatcher holds; the time to
// the worker's answer, or a negative value when none came.
double AnswerUs(InstantDispatcher& d, const Vu30BoundMethod& hook, int post) {
  auto message = PriceRequestMessage(post);
  d.ExpectAnswers(1);
  const int64_t sent = NowNs();
  std::bit_cast<Vu30RouteMessageFn>(hook.code)(hook.data, static_cast<uint8_t>(post + 32),
                                               message.data(), 0,
                                               static_cast<uint8_t>(message.size()));
  if (!d.WaitForAnswers(2s)) return -1;
  return static_cast<double>(d.AnswerTimeNs(post) - sent) / 1000.0;
}

void TraceMessageLatency(benchmark::State& state) {
  constexpr int kPostCount = 10;
  constexpr int kSessions = 8;
  constexpr int kRounds = 750;
  std::vector<double> plain;
  std::vector<double> traced;
  for (auto _ : state) {
    for (int session = 0; session < kSessions; ++session) {
      InstantDispatcher plainDispatcher;
      InstantDispatcher innerDispatcher;
      TraceAround trace(innerDispatcher.Dispatcher());
      if (trace.Get() == nullptr) {
        state.SkipWithError("no trace file");
        return;
      }
      Driver plainDriver(plainDispatcher);
      Driver tracedDriver(trace.Get());
      plainDriver.OpenPosts(kPostCount);
      tracedDriver.OpenPosts(kPostCount);
      std::this_thread::sleep_for(50ms);  // the workers take their priority
      std::mt19937 rng(static_cast<unsigned>(7 + session));
      std::uniform_int_distribution<int> pickPost(1, kPostCount);
      std::uniform_int_distribution<int> pickGapUs(100, 1000);
      for (int r = -1; r < kRounds; ++r) {
        const int post = pickPost(rng);
        const bool tracedFirst = r % 2 == 0;
        for (int k = 0; k < 2; ++k) {
          const bool tracedTurn = (k == 0) == tracedFirst;
          InstantDispatcher& d = tracedTurn ? innerDispatcher : plainDispatcher;
          const double us = AnswerUs(d, d.Hook(post), post);
          if (us < 0) {
            state.SkipWithError("a worker did not answer");
            return;
          }
          if (r >= 0) (tracedTurn ? traced : plain).push_back(us);  // round -1 warms up
          std::this_thread::sleep_for(std::chrono::microseconds(pickGapUs(rng)));
        }
      }
      tracedDriver.Destroy();  // before its trace closes
    }
  }
  const double t50 = Percentile(traced, 50);
  const double t99 = Percentile(traced, 99);
  const double p50 = Percentile(plain, 50);
  const double p99 = Percentile(plain, 99);
  state.counters["traced_p99_us"] = t99;
  state.counters["plain_p99_us"] = p99;
  const std::string baseline = "the driver without the trace";
  AddResult({"message→answer through the trace, random, 10 posts, p50 (µs)", t50, p50, baseline,
             "—", true});
  AddResult({"message→answer through the trace, random, 10 posts, p99 (µs)", t99, p99, baseline,
             "≤ 1.2× baseline", t99 <= 1.2 * p99});
}
BENCHMARK(TraceMessageLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vu30::bench
