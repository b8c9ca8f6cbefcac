// SPDX-License-Identifier: MIT
#include "cv_baseline.h"

#include <algorithm>
#include <cstring>

#include "instant_host.h"

namespace vu30::bench {

CvBaseline::CvBaseline(Vu30Dispatcher* dispatcher, int posts, int nice)
    : dispatcher_(dispatcher), nice_(nice) {
  for (int post = 1; post <= posts; ++post) {
    workers_.push_back(std::make_unique<Worker>());
    Worker& worker = *workers_.back();
    worker.thread = std::thread([this, post, &worker] { Run(post, worker); });
  }
}

CvBaseline::~CvBaseline() { Stop(); }

void CvBaseline::Stop() {
  for (auto& worker : workers_) {
    {
      std::lock_guard lock(worker->mu);
      worker->stop = true;
    }
    worker->cv.notify_one();
  }
  for (auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
}

void CvBaseline::Route(int post, const uint8_t* message, int length) {
  Worker& worker = *workers_.at(static_cast<size_t>(post - 1));
  {
    std::lock_guard lock(worker.mu);
    worker.length = std::min<int>(length, static_cast<int>(worker.message.size()));
    std::memcpy(worker.message.data(), message, static_cast<size_t>(worker.length));
    worker.pending = true;
  }
  worker.cv.notify_one();
}

void CvBaseline::Run(int post, Worker& worker) {
  (void)SetCallingThreadNice(nice_);
  const auto address = static_cast<uint8_t>(post + 32);
  const auto lineAddress = static_cast<uint8_t>((address - 1) % 8 + 1 + 32);
  for (;;) {
    std::array<uint8_t, 100> message;
    {
      std::unique_lock lock(worker.mu);
      worker.cv.wait(lock, [&] { return worker.pending || worker.stop; });
      if (worker.stop) return;
      worker.pending = false;
      message = worker.message;
    }
    // The answer to a price request: eleven digits, an acknowledgement awaited.
    uint8_t request[11] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, message[1]};
    uint8_t reply[11] = {};
    std::memcpy(reply, request, sizeof request);
    dispatcher_->table->Transact(dispatcher_, static_cast<uint8_t>(post), lineAddress, request, 11,
                                 reply, 1, 0);
  }
}

}  // namespace vu30::bench
