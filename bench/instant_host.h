/* SPDX-License-Identifier: MIT */
// A host for the benchmarks: it reaches the driver only as a station host
// does, through GetVU30, the driver table and a port dispatcher table of its
// own. The dispatcher is instant: every exchange is made at once with a
// well-formed reply of the awaited length, checked through the checker the
// driver registered. Each exchange on a worker address is stamped with the
// time, so that a message's way from RouteMessage to the worker's Transact
// can be measured.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "vu30.h"

namespace vu30::bench {

using Clock = std::chrono::steady_clock;

inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

inline constexpr int kPosts = 30;

class InstantDispatcher {
 public:
  InstantDispatcher();
  InstantDispatcher(const InstantDispatcher&) = delete;
  InstantDispatcher& operator=(const InstantDispatcher&) = delete;

  Vu30Dispatcher* Dispatcher() { return &handle_.base; }

  // The message hook the driver registered for a post (code null if none).
  Vu30BoundMethod Hook(int post) const;

  // Answers on worker addresses: the time of the last one per post.
  int64_t AnswerTimeNs(int post) const {
    return answerNs_[static_cast<size_t>(post)].load(std::memory_order_acquire);
  }
  // Starts counting answers anew; WaitForAnswers returns once count answers
  // have been made since, or false after the timeout.
  void ExpectAnswers(int count);
  bool WaitForAnswers(std::chrono::milliseconds timeout);
  // Records an answer of post now.
  void RecordAnswer(int post);

  // A host's (synchronous) request on a channel: when its Transact began, and
  // when the driver next asked for the channel's status, which it does once
  // the pause after the exchange is over.
  int64_t SyncTransactNs(int channel) const {
    return syncTransactNs_[static_cast<size_t>(channel)].load(std::memory_order_relaxed);
  }
  int64_t StatusReadNs(int channel) const {
    return statusReadNs_[static_cast<size_t>(channel)].load(std::memory_order_relaxed);
  }

 private:
  struct Handle {
    Vu30Dispatcher base;
    InstantDispatcher* owner;
  };
  static InstantDispatcher& From(Vu30Dispatcher* self) {
    return *reinterpret_cast<Handle*>(self)->owner;
  }
  static int32_t VU30_CALL GetChannelError(Vu30Dispatcher* self, uint8_t channel);
  static void VU30_CALL SetChannelError(Vu30Dispatcher* self, uint8_t channel, int32_t code);
  static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status);
  static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel);
  static int32_t VU30_CALL ConfigureChannel(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                            uint32_t lineSettings);
  static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                    const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                    uint8_t replyLength, uint8_t replyType);
  static void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                        Vu30BoundMethod method);
  static void VU30_CALL SetMessageHook(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method);
  static void VU30_CALL SetPostInit(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method);
  static const Vu30DispatcherTable kTable;

  Handle handle_;
  // Per channel 0..255: what a dispatcher keeps of each channel.
  std::array<std::atomic<uint8_t>, 256> status_{};
  std::array<std::atomic<int32_t>, 256> error_{};
  // What the driver registered for a channel. Each channel has its own lock
  // and cache line, so that the dispatcher itself shares nothing between
  // posts on the way from a message to the worker's answer (the driver
  // registers its reply check with every request).
  struct alignas(64) Callbacks {
    mutable std::mutex mu;
    Vu30BoundMethod checker{};
    Vu30BoundMethod hook{};
  };
  std::array<Callbacks, kPosts + 1> callbacks_{};

  std::array<std::atomic<int64_t>, kPosts + 1> answerNs_{};
  std::array<std::atomic<int64_t>, kPosts + 1> syncTransactNs_{};
  std::array<std::atomic<int64_t>, kPosts + 1> statusReadNs_{};
  std::atomic<int> answers_{0};
  std::atomic<int> target_{0};
  std::mutex answersMu_;
  std::condition_variable answersCv_;
};

// The driver object as a host holds it: created by GetVU30, destroyed through
// entry 25 of its table.
class Driver {
 public:
  explicit Driver(InstantDispatcher& dispatcher);
  explicit Driver(Vu30Dispatcher* dispatcher);
  ~Driver() { Destroy(); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  Vu30Driver* Get() const { return driver_; }
  const Vu30DriverTable& Table() const { return *driver_->table; }
  void OpenPosts(int count);
  // Destroys the driver now (the destructor then does nothing).
  void Destroy();

 private:
  Vu30Driver* driver_ = nullptr;
};

// The coded bytes of a price request of code 9 for nozzle 1 as the dispenser
// sends it: the uncoded address byte, the digits 9, 0, 0 and the closing zero.
std::array<uint8_t, 5> PriceRequestMessage(int post);

// The nice value of the driver's worker of a post, read from the thread
// named "vu30-post-NN" in /proc/self/task; false when no such thread.
bool WorkerNice(int post, int& nice);
// Gives the calling thread the given nice value; false when refused.
bool SetCallingThreadNice(int nice);

}  // namespace vu30::bench
