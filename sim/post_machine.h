/* SPDX-License-Identifier: MIT */
// One dispensing post's side of a sale, as a state machine: the nozzle is
// lifted (price request), the driver starts the post (dose request after the
// dispenser's reaction time), the dose is released and fuel flows, the flow
// ends (end report) and the nozzle is hung up. The driver's requests and the
// worker's answers move it on; the dispenser's own messages are due at set
// times and repeated until they are answered.
//
// Not locked: the forecourt holds its lock around every call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim_types.h"

namespace vu30::sim {

using Clock = std::chrono::steady_clock;

// When the dispenser sends its own messages.
struct MessageTiming {
  std::chrono::milliseconds repeatTimeout{300};     // again after this long without an answer
  std::chrono::milliseconds doseRequestDelay{200};  // start request to dose request
};

// A message of the dispenser's, due to be sent to the driver.
struct Outgoing {
  int post;
  std::vector<uint8_t> digits;  // uncoded
};

class PostMachine {
 public:
  // The post's number and its message timing; called once before use.
  void Attach(int post, MessageTiming timing);

  // The post's set-up and registers, read and set by the forecourt.
  PostConfig config;
  std::array<int64_t, kNozzleCount> counters{};
  std::array<int, kNozzleCount> prices{};
  uint32_t lineSettings = 0;

  Phase phase() const { return phase_; }
  // The nozzle of the current or last sale (1..8; 0 before the first).
  int nozzle() const { return nozzle_; }
  // How often the outstanding message has been sent (0 when none is).
  int sends() const { return await_ == Await::None ? 0 : sends_; }

  // The customer lifts nozzle (1..config.nozzles) of an idle post.
  void Lift(int nozzle);
  // The customer hangs the nozzle up while the fuel flows: the flow ends with
  // what has run so far. False (and nothing changes) when nothing flows.
  bool StopFlow(std::vector<Sale>& sales);
  // The customer hangs the nozzle up before a dose is asked for: the post is
  // idle again, its price request no longer sent. Otherwise nothing changes.
  void HangUpBeforeDose();

  // Acts on a request under the post's own line address; returns the reply
  // digits (without the address position and the closing zero) and the reply
  // type, or false when the dispenser does not answer.
  bool OnHostRequest(const std::vector<uint8_t>& digits, std::vector<uint8_t>& replyDigits,
                     uint8_t& expectedType, std::vector<Sale>& sales);
  // Acts on a frame under the worker's line address (an answer to one of the
  // dispenser's messages); true when the frame is acknowledged.
  bool OnWorkerFrame(const std::vector<uint8_t>& digits, std::vector<Sale>& sales);

  // At now: ends a flow that has reached its dose (true when a sale was
  // completed), collects a message that is due into due, and lowers wake to
  // the time the post next needs attention.
  bool Advance(Clock::time_point now, std::vector<Outgoing>& due, Clock::time_point& wake,
               std::vector<Sale>& sales);

 private:
  enum class Await { None, Price, Dose, Report };

  void StartFlow(int64_t dose, int price, std::vector<Sale>& sales);
  void FinishSale(int64_t volume, bool refused, std::vector<Sale>& sales);
  void Expect(Await what, std::vector<uint8_t> digits, Clock::time_point when);
  int64_t RunningVolume(Clock::time_point now) const;

  int post_ = 0;
  MessageTiming timing_;

  Phase phase_ = Phase::Idle;
  int nozzle_ = 0;  // nozzle of the current sale, 1..8
  bool started_ = false;
  int salePrice_ = 0;
  int64_t dose_ = 0;
  Clock::time_point flowStart_{};
  // Figures of the current or last transaction.
  int64_t figureVolume_ = 0;
  int64_t figureMoney_ = 0;
  int figureNozzle_ = 0;  // index 0..7
  Await await_ = Await::None;
  std::vector<uint8_t> message_;  // uncoded digits of the outstanding message
  int sends_ = 0;
  Clock::time_point nextSend_{};
  // Answers still owed to price requests that were repeated before the
  // first answer came: such an answer (five zero dose digits) may arrive
  // while the dose is awaited, and is then not the dose.
  int latePriceAnswers_ = 0;
};

}  // namespace vu30::sim
