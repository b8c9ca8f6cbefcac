// SPDX-License-Identifier: MIT
#include "platform/auto_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vu30::platform {
namespace {

using namespace std::chrono_literals;

// Waits until counter reaches at least wanted, for at most the given time.
bool Reaches(const std::atomic<int>& counter, int wanted,
             std::chrono::steady_clock::duration limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (counter.load() < wanted) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(AutoResetEvent, SignalsGivenWhileNobodyWaitsCollapseIntoOne) {
  AutoResetEvent event;
  event.Signal();
  event.Signal();
  std::atomic<int> woken{0};
  std::thread waiter([&] {
    for (int i = 0; i < 2; ++i) {
      event.Wait();
      ++woken;
    }
  });
  ASSERT_TRUE(Reaches(woken, 1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(woken.load(), 1) << "the second signal was kept as a second wake-up";
  event.Signal();
  EXPECT_TRUE(Reaches(woken, 2));
  waiter.join();
}

TEST(AutoResetEvent, EachSignalWakesOneOfSeveralSleepingWaiters) {
  // A waiter that has slept consumes a signal without knowing whether the
  // others still sleep: the next signal must still reach one of them.
  AutoResetEvent event;
  constexpr int kWaiters = 3;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      event.Wait();
      ++woken;
    });
  }
  std::this_thread::sleep_for(20ms);  // all three asleep in the wait
  for (int i = 1; i <= kWaiters; ++i) {
    event.Signal();
    ASSERT_TRUE(Reaches(woken, i)) << "signal " << i << " woke nobody";
  }
  for (std::thread& waiter : waiters) waiter.join();
}

TEST(AutoResetEvent, NoWakeUpIsLostWhenSignalAndWaitRace) {
  // Ping-pong between two threads: each signal comes while the other thread
  // is anywhere between its last wake-up and its next sleep. A lost wake-up
  // leaves both waiting.
  AutoResetEvent ping;
  AutoResetEvent pong;
  constexpr int kRounds = 20000;
  std::atomic<int> rounds{0};
  std::atomic<bool> stop{false};
  std::thread answerer([&] {
    while (!stop.load()) {
      ping.Wait();
      pong.Signal();
    }
  });
  std::thread caller([&] {
    for (int i = 0; i < kRounds && !stop.load(); ++i) {
      ping.Signal();
      pong.Wait();
      ++rounds;
    }
  });
  EXPECT_TRUE(Reaches(rounds, kRounds, 60s)) << "stuck after " << rounds.load() << " rounds";
  // Release a stuck pair, so that both threads can be joined.
  stop.store(true);
  pong.Signal();
  caller.join();
  ping.Signal();
  answerer.join();
}

}  // namespace
}  // namespace vu30::platform
