// The post worker: a thread that answers the messages the dispenser sends on
// its own (price requests, dose requests, end-of-dispense reports) at once,
// from the prices and doses the host has set.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "link/message_router.h"
#include "platform/auto_reset_event.h"
#include "platform/thread.h"

namespace vu30::driver {

class ZUD30;

class TTrkRequest final : public link::MessageSlot {
 public:
  // Starts the worker's thread for the post whose worker address is address
  // (post + 32). The wake-up event exists before the thread starts, so no
  // message routed right after opening is lost.
  TTrkRequest(ZUD30& driver, uint8_t address);
  // Terminates, wakes and waits for the thread.
  ~TTrkRequest();

  // Asks the thread to end and wakes it; the destructor then waits for it.
  void RequestTermination();

  // Copies the message into the worker's slot and wakes the worker. A message
  // that arrives while the worker is busy replaces the unread one. length is
  // at most link::kMessageCapacity (the router ensures it).
  void Deliver(const uint8_t* message, int32_t length) override;

  uint8_t Address() const { return address_; }

  // The post's dose record. The presets write it from the host's threads
  // while the worker reads it; each field is atomic, relaxed.
  uint8_t DoseNozzle() const { return doseNozzle_.load(std::memory_order_relaxed); }
  double DoseAmount() const { return doseAmount_.load(std::memory_order_relaxed); }
  void SetDose(uint8_t nozzle, double amount) {
    doseAmount_.store(amount, std::memory_order_relaxed);
    doseNozzle_.store(nozzle, std::memory_order_relaxed);
  }

 private:
  void Execute();
  void RunJob(const std::array<uint8_t, link::kMessageCapacity>& message);

  ZUD30& driver_;
  const uint8_t address_;
  std::atomic<uint8_t> doseNozzle_{0};
  std::atomic<double> doseAmount_{0};

  // The last delivered message; the mutex keeps the worker from reading a
  // message half written by the router.
  mutable std::mutex messageMutex_;
  int32_t messageLength_ = 0;
  std::array<uint8_t, link::kMessageCapacity> message_{};

  platform::AutoResetEvent wakeEvent_;
  platform::Thread thread_;  // last: starts after every other field exists
};

}  // namespace vu30::driver
