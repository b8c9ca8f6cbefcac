/* SPDX-License-Identifier: MIT */
// The baseline of the message benchmarks: plain worker threads, one per post,
// each waiting on a condition variable of its own, doing the same hand-off as
// the driver's workers (copy the message, wake, make the answer exchange
// through the dispatcher's table) at the same nice value.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "vu30.h"

namespace vu30::bench {

class CvBaseline {
 public:
  CvBaseline(Vu30Dispatcher* dispatcher, int posts, int nice);
  ~CvBaseline();
  CvBaseline(const CvBaseline&) = delete;
  CvBaseline& operator=(const CvBaseline&) = delete;

  // The counterpart of RouteMessage: copies the message into the post's
  // worker and wakes it.
  void Route(int post, const uint8_t* message, int length);
  // Stops and joins every worker (the destructor does it too).
  void Stop();

 private:
  struct Worker {
    std::mutex mu;
    std::condition_variable cv;
    bool pending = false;
    bool stop = false;
    int length = 0;
    std::array<uint8_t, 100> message{};
    std::thread thread;
  };
  void Run(int post, Worker& worker);

  Vu30Dispatcher* dispatcher_;
  int nice_;
  std::vector<std::unique_ptr<Worker>> workers_;  // [post - 1]
};

}  // namespace vu30::bench
