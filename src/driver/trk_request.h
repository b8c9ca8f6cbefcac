/* SPDX-License-Identifier: MIT */
// The post worker: a thread that answers the messages the dispenser sends on
// its own (price requests, dose requests, end-of-dispense reports) at once,
// from the prices and the dose the host has set for its post.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "link/message_router.h"
#include "link/request_link.h"
#include "platform/auto_reset_event.h"
#include "platform/thread.h"

namespace vu30::driver {

struct Post;

class alignas(64) TTrkRequest final : public link::MessageSlot {
 public:
  // Starts the worker's thread for post, answering through link. The wake-up
  // event exists before the thread starts, so no message routed right after
  // opening is lost. post and link must outlive the worker.
  TTrkRequest(Post& post, link::RequestLink& link);
  // Terminates, wakes and waits for the thread.
  ~TTrkRequest();
  TTrkRequest(const TTrkRequest&) = delete;
  TTrkRequest& operator=(const TTrkRequest&) = delete;

  // Asks the thread to end and wakes it; the destructor then waits for it.
  void RequestTermination();

  // Copies the message into the worker's slot and wakes the worker. A message
  // that arrives while the worker is busy replaces the unread one. length is
  // at most link::kMessageCapacity (the router ensures it).
  void Deliver(const uint8_t* message, int32_t length) override;

 private:
  using Message = std::array<uint8_t, link::kMessageCapacity>;
  void Execute();
  void RunJob(const Message& message);
  void AnswerPriceRequest(uint8_t nozzle, bool keepState);
  void AnswerDoseRequest(uint8_t nozzle);
  void AcceptReport();

  // What the router touches, first and together: the wake-up event, the
  // lock and the start of the message share the object's first cache line,
  // so that a short message reaches its worker through one line.
  platform::AutoResetEvent wakeEvent_;
  // The last delivered message; the lock (the worker's own) keeps the worker
  // from reading a message half written by the router.
  std::mutex messageMutex_;
  Message message_{};

  Post& post_;
  link::RequestLink& link_;
  platform::Thread thread_;  // last: starts after every other field exists
};

}  // namespace vu30::driver
