// SPDX-License-Identifier: MIT
// Message to answer: the time from the host's dispatcher calling the driver's
// registered RouteMessage to the post worker's Transact on the worker
// address, at 1, 10 and 30 posts, with messages one at a time to random posts
// ("random") or to every post at once ("burst"). The same run measures the
// same hand-off done by plain condition-variable workers at the same nice
// value; driver and baseline rounds alternate, so that the load of the
// machine falls on both alike. The rounds are spread over several sessions,
// each with a new driver object and new baseline threads: where the
// scheduler places a set of threads sticks for a while, and one placement
// must not decide the figure.
#include <benchmark/benchmark.h>

#include <bit>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cv_baseline.h"
#include "instant_host.h"
#include "result_table.h"

namespace vu30::bench {
bool& BaselineAgainstItself();  // main.cpp: --baseline-against-itself
namespace {

using namespace std::chrono_literals;

enum class Pattern { Random, Burst };

struct Samples {
  std::vector<double> driver;    // microseconds
  std::vector<double> baseline;  // microseconds
};

// Sends one round of messages (one post, or all posts at once) and collects
// each post's latency. route is either the driver's hook or the baseline.
template <typename Route>
bool Round(InstantDispatcher& dispatcher, const std::vector<int>& posts, Route route,
           std::vector<double>& out) {
  std::vector<int64_t> sent(posts.size());
  dispatcher.ExpectAnswers(static_cast<int>(posts.size()));
  for (size_t i = 0; i < posts.size(); ++i) {
    auto message = PriceRequestMessage(posts[i]);  // decoded in place: a fresh copy each time
    sent[i] = NowNs();
    route(posts[i], message.data(), static_cast<int>(message.size()));
  }
  if (!dispatcher.WaitForAnswers(2s)) return false;
  for (size_t i = 0; i < posts.size(); ++i) {
    out.push_back(static_cast<double>(dispatcher.AnswerTimeNs(posts[i]) - sent[i]) / 1000.0);
  }
  return true;
}

void MessageLatency(benchmark::State& state, Pattern pattern) {
  const int postCount = static_cast<int>(state.range(0));
  constexpr int kSessions = 24;
  // Enough samples that the p99 rests on some 60 of them or more, and for
  // bursts, which are quick, on enough rounds that a rare interruption of a
  // whole burst weighs as little as it does on single messages.
  const int rounds =
      (pattern == Pattern::Random || postCount == 1 ? 6000 : 36000 / postCount) / kSessions;
  Samples samples;
  int nice = 0;
  for (auto _ : state) {
    for (int session = 0; session < kSessions; ++session) {
      InstantDispatcher dispatcher;
      Driver driver(dispatcher);
      driver.OpenPosts(postCount);
      std::this_thread::sleep_for(50ms);  // the workers take their priority
      if (!WorkerNice(1, nice)) {
        state.SkipWithError("no worker thread named vu30-post-01");
        return;
      }
      CvBaseline baseline(dispatcher.Dispatcher(), postCount, nice);
      // Both sets settle into their wait: the first rounds must not race the
      // baseline threads' own start.
      std::this_thread::sleep_for(50ms);
      std::vector<Vu30BoundMethod> hooks(static_cast<size_t>(postCount) + 1);
      for (int post = 1; post <= postCount; ++post)
        hooks[static_cast<size_t>(post)] = dispatcher.Hook(post);

      const auto toDriver = [&](int post, uint8_t* message, int length) {
        const Vu30BoundMethod& hook = hooks[static_cast<size_t>(post)];
        std::bit_cast<Vu30RouteMessageFn>(hook.code)(hook.data, static_cast<uint8_t>(post + 32),
                                                     message, 0, static_cast<uint8_t>(length));
      };
      const auto toBaseline = [&](int post, uint8_t* message, int length) {
        baseline.Route(post, message, length);
      };
      // With --baseline-against-itself a second baseline set takes the
      // driver's place: the spread of its figures against the first set's is
      // what the machine's own noise makes of the ratios.
      std::optional<CvBaseline> twin;
      if (BaselineAgainstItself()) twin.emplace(dispatcher.Dispatcher(), postCount, nice);
      const auto toTwin = [&](int post, uint8_t* message, int length) {
        twin->Route(post, message, length);
      };
      const auto measured = [&](const std::vector<int>& posts, std::vector<double>& out) {
        return twin ? Round(dispatcher, posts, toTwin, out)
                    : Round(dispatcher, posts, toDriver, out);
      };
      if (twin) std::this_thread::sleep_for(50ms);

      std::mt19937 rng(static_cast<unsigned>(42 + session));
      std::uniform_int_distribution<int> pickPost(1, postCount);
      std::uniform_int_distribution<int> pickGapUs(100, 1000);
      std::vector<int> all;
      for (int post = 1; post <= postCount; ++post) all.push_back(post);
      // One message to every worker of both sets, not counted: a thread's first
      // pass after its start touches its stack and code for the first time,
      // which a post pays once in its life, not per message.
      std::vector<double> firstPass;
      if (!measured(all, firstPass) || !Round(dispatcher, all, toBaseline, firstPass)) {
        state.SkipWithError("a worker did not answer its first message");
        return;
      }
      std::this_thread::sleep_for(1ms);
      for (int r = 0; r < rounds; ++r) {
        const std::vector<int> posts =
            pattern == Pattern::Burst ? all : std::vector<int>{pickPost(rng)};
        // Alternate which goes first, so that neither always meets a cold cache.
        const bool driverFirst = r % 2 == 0;
        for (int k = 0; k < 2; ++k) {
          const bool driverTurn = (k == 0) == driverFirst;
          const bool ok = driverTurn ? measured(posts, samples.driver)
                                     : Round(dispatcher, posts, toBaseline, samples.baseline);
          if (!ok) {
            state.SkipWithError(driverTurn ? "a driver worker did not answer"
                                           : "a baseline worker did not answer");
            return;
          }
          // A random pause: every worker is back in its wait before the next round.
          std::this_thread::sleep_for(std::chrono::microseconds(pickGapUs(rng)));
        }
      }
      baseline.Stop();
      if (twin) twin->Stop();
    }
  }

  const double p50 = Percentile(samples.driver, 50);
  const double p99 = Percentile(samples.driver, 99);
  const double b50 = Percentile(samples.baseline, 50);
  const double b99 = Percentile(samples.baseline, 99);
  state.counters["p50_us"] = p50;
  state.counters["p99_us"] = p99;
  state.counters["baseline_p50_us"] = b50;
  state.counters["baseline_p99_us"] = b99;
  state.counters["worker_nice"] = nice;
  state.counters["samples"] = static_cast<double>(samples.driver.size());

  const std::string what =
      std::string(pattern == Pattern::Burst ? "burst" : "random") + ", " +
      std::to_string(postCount) + (postCount == 1 ? " post" : " posts") +
      (BaselineAgainstItself() ? ", a second cv worker set in the driver's place" : "");
  const std::string cv = "cv worker, nice " + std::to_string(nice);
  AddResult({"message→answer " + what + ", p50 (µs)", p50, b50, cv, "—", true});
  AddResult(
      {"message→answer " + what + ", p99 (µs)", p99, b99, cv, "≤ 1.5× baseline", p99 <= 1.5 * b99});
}

BENCHMARK_CAPTURE(MessageLatency, random, Pattern::Random)
    ->Arg(1)
    ->Arg(10)
    ->Arg(30)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(MessageLatency, burst, Pattern::Burst)
    ->Arg(1)
    ->Arg(10)
    ->Arg(30)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vu30::bench
