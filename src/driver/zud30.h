// The driver object: the state of all 30 posts, the link to the host's port
// dispatcher, the post workers, and the operations the host calls through the
// driver table.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "link/message_router.h"
#include "link/port_dispatcher.h"
#include "link/request_link.h"

namespace vu30::driver {

class TTrkRequest;

inline constexpr int kPosts = 30;
inline constexpr int kNozzles = 8;

// State codes (PumpState).
inline constexpr uint8_t kStateIdle = 0xC0;        // idle; dose requests refused
inline constexpr uint8_t kStateStarted = 0xC8;     // started, no dose released yet
inline constexpr uint8_t kStateStoppedFas = 0xD8;  // stopped on a FAS port; + n: dose released
inline constexpr uint8_t kStateRestarted = 0xE8;   // + n: started after a refusal
inline constexpr uint8_t kStateRefused = 0xF0;     // + n: dose refused, pump stopped
inline constexpr uint8_t kStateReported = 0xE0;    // + n: a FAS dispenser reports nozzle n

class ZUD30 final : private link::PostInitHandler {
 public:
  // Initialises all 30 posts (link status 1, state idle) and loads the port
  // type table.
  explicit ZUD30(std::unique_ptr<link::PortDispatcher> dispatcher);
  // Stops and waits for every worker before anything else is released.
  ~ZUD30();
  ZUD30(const ZUD30&) = delete;
  ZUD30& operator=(const ZUD30&) = delete;

  // Identity and link status.
  static void GetDriverInfo(uint8_t* result);
  void SetLinkStatus(int post, uint8_t value);
  uint8_t GetLinkStatus(int post) const;

  // Control.
  void SetPrice(int32_t post, int32_t nozzle, double price);
  void PresetVolume(int32_t post, int32_t nozzle, double volume);
  void PresetMoney(int32_t post, int32_t nozzle, double money);
  void StartPump(int32_t post);
  uint8_t StopPump(int32_t post, int32_t exchange);

  // Readings.
  double PollDispense(int32_t post, int32_t mode, double* money);
  void ReadFinalDispense(int32_t post, double* volume, double* money);
  void ReadCounter(int32_t post, int32_t nozzle, double* counter, double* second);
  uint8_t GetPumpState(uint8_t post);
  static bool GetCapability(int32_t number, int32_t* value);

  // Opening.
  void OpenPost(int32_t post);
  void PreparePost(uint8_t post) override;

  // The worker's jobs, on worker address a (post + 32).
  void AnswerPriceRequest(uint8_t a, uint8_t nozzle, bool keepState);
  void AnswerDoseRequest(uint8_t a, uint8_t nozzle, uint8_t doseNozzle, double doseAmount);
  void AcceptReport(uint8_t a);
  link::RequestLink& Link() { return link_; }

  // State readable by tests and the boundary.
  uint8_t PumpState(int post) const { return pumpState_[CheckedPost(post)].load(relaxed); }
  void SetPumpState(int post, uint8_t code) { pumpState_[CheckedPost(post)].store(code, relaxed); }
  double Price(int post, int nozzle) const;
  int32_t OverDoseCount(int post) const { return overDoseCount_[CheckedPost(post)].load(relaxed); }
  double LastVolume(int post) const { return lastVolume_[CheckedPost(post)].load(relaxed); }
  bool PricePending(int post) const { return pricePending_[CheckedPost(post)].load(relaxed); }
  // The post's worker, or null while the post has not been opened.
  TTrkRequest* Worker(int post) const;

 private:
  static constexpr auto relaxed = std::memory_order_relaxed;
  // post as a checked index 1..30; anything else is refused with EVu30Refused.
  static int CheckedPost(int64_t post);
  static int CheckedNozzle(int64_t nozzle);
  TTrkRequest& OpenedWorker(int post) const;
  double GuardVolume(int post, double volume, double doseAmount) const;
  void CountOverDose(int post, double volume, double doseAmount);
  double DoseNozzlePrice(int post, const TTrkRequest& worker) const;

  std::unique_ptr<link::PortDispatcher> dispatcher_;
  link::RequestLink link_;
  link::MessageRouter router_;

  std::array<std::array<std::atomic<double>, kNozzles + 1>, kPosts + 1> prices_{};
  std::array<std::atomic<uint8_t>, kPosts + 1> pumpState_{};
  std::array<std::atomic<int32_t>, kPosts + 1> overDoseCount_{};
  std::array<std::atomic<double>, kPosts + 1> lastVolume_{};
  // Kept per post, so that the final read of one post cannot wipe out the
  // pending sale of another.
  std::array<std::atomic<bool>, kPosts + 1> pricePending_{};

  // Workers are created once per post and live until destruction. The owner
  // array changes only under workersMutex_; the router and the operations
  // read the published pointers without a lock.
  std::mutex workersMutex_;
  std::array<std::unique_ptr<TTrkRequest>, kPosts + 1> workerOwners_;
  std::array<std::atomic<TTrkRequest*>, kPosts + 1> workers_{};
};

}  // namespace vu30::driver
