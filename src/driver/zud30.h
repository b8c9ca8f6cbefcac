/* SPDX-License-Identifier: MIT */
// The driver object: the state of all 30 posts, the link to the host's port
// dispatcher, the post workers, and the operations the host calls through the
// driver table.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "driver/post.h"
#include "driver/protocol.h"
#include "link/callback_gate.h"
#include "link/message_router.h"
#include "link/port_dispatcher.h"
#include "link/request_link.h"

namespace vu30::driver {

class ZUD30 final : private link::PostInitHandler {
 public:
  // Initialises all 30 posts (link status 1, state idle) and loads the port
  // type table.
  explicit ZUD30(std::unique_ptr<link::PortDispatcher> dispatcher);
  // Shuts the dispatcher's callbacks out, then stops and waits for every
  // worker, before anything else is released.
  ~ZUD30();
  ZUD30(const ZUD30&) = delete;
  ZUD30& operator=(const ZUD30&) = delete;

  // True while the calling thread is inside one of this driver's calls into
  // the host's dispatcher, or inside one of its callbacks: the driver must
  // not be destroyed from there.
  bool InsideOwnExchange() const;

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

  // The post's count of polls in a row that found the dose reached; the host
  // sees it only as the pause before a poll. Posts 1..30.
  int32_t OverDoseCount(int post) const { return PostAt(post).overDoseCount.load(Post::relaxed); }

 private:
  // The record of post 1..30; anything else is refused with EVu30Refused.
  Post& PostAt(int64_t post);
  const Post& PostAt(int64_t post) const;
  static int CheckedNozzle(int64_t nozzle);
  // The record of an opened post, with its worker; refused when not opened.
  Post& OpenedPost(int64_t post);
  // One exchange on the host's behalf: the request in frame, ESerialIO with
  // the operation's message when the dispatcher reports a failure, and the
  // exchange's own verdict for the caller to decide on.
  link::Exchange HostExchange(Post& post, link::Frame& frame, protocol::Request request,
                              const char* failure);
  static double GuardVolume(const Post& post, double volume, double doseAmount);
  static void CountOverDose(Post& post, double volume, double doseAmount);
  static double DoseNozzlePrice(const Post& post, const DoseRecord::Value& dose);

  std::unique_ptr<link::PortDispatcher> dispatcher_;
  link::RequestLink link_;
  link::MessageRouter router_;
  std::array<Post, kPosts + 1> posts_;  // [0] unused
  // What the dispatcher holds of this driver: one gate per post, never freed.
  std::span<link::CallbackGate, kPosts + 1> gates_;
  // Serialises the creation of workers (OpenPost on the host's threads,
  // PreparePost on the dispatcher's).
  std::mutex workersMutex_;
};

}  // namespace vu30::driver
