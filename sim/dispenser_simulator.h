/* SPDX-License-Identifier: MIT */
// A model of the dispenser side of the Trovelheim line protocol, presented to
// the driver as a host port dispatcher: Dispatcher() is what a host hands to
// GetVU30. Behind it stand up to 30 simulated dispensing posts, each with up to
// 8 nozzles and their totalizer counters.
//
// The driver's requests arrive through Transact and are answered at once; the
// dispenser's own messages (price request, dose request, end-of-dispense
// report) are sent from the simulator's thread through the message hook that
// the driver registered for the post, and repeated until they are answered.
// A "customer" starts a sale with LiftNozzle; tests and the demo read the
// completed sales back with Sales().
//
// The parts: the line and its coding (line.h, line_code.h), one post's sale
// (post_machine.h), fault injection (fault_injector.h); this class holds the
// forecourt, its dispatcher table and the thread that sends the messages.
//
// Every public member may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fault_injector.h"
#include "post_machine.h"
#include "sim_types.h"
#include "vu30.h"

namespace vu30::sim {

class Simulator {
 public:
  explicit Simulator(SimOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The dispatcher object to hand to GetVU30; valid while the simulator lives.
  Vu30Dispatcher* Dispatcher() { return &handle_.base; }

  // Post set-up. Posts are 1..30, nozzles 1..8; bad arguments throw
  // std::invalid_argument and change nothing.
  void ConfigurePost(int post, const PostConfig& config);
  PostConfig ConfigOf(int post) const;
  void SetCounter(int post, int nozzle, int64_t hundredths);
  int64_t Counter(int post, int nozzle) const;
  // The nozzle's price as last sent to the dispenser, in hundredths.
  int Price(int post, int nozzle) const;
  // The line settings the post was last configured with (0 if never).
  uint32_t LineSettings(int post) const;
  // Empty when the driver configured the post's line for the simulated
  // dispenser's type; otherwise what differs (or that the driver has not
  // configured the line yet), and the cnf.INI key that decides it.
  std::string LineTypeMismatch(int post) const;
  // Where the post stands, in words: its phase and nozzle, the outstanding
  // message and how often it was sent, its completed sales, whether the
  // driver has registered for it, and a line type mismatch.
  std::string Describe(int post) const;
  // Writes the simulated posts' types and impulse factors into the section
  // COMTypeTRK of folder's cnf.INI (created when missing; every other
  // section and key kept), as the driver reads them: COM_n for post n,
  // 1..29. Throws std::logic_error when post 30 is simulated with a type
  // other than 0 (the driver takes no type for post 30 from the file), and
  // std::runtime_error when the file cannot be written.
  void WritePortTypes(const std::string& folder) const;

  // The customer lifts a nozzle; the post must be idle (else std::logic_error).
  void LiftNozzle(int post, int nozzle);
  // The customer hangs the nozzle up: while fuel flows the flow ends with what
  // has run (the sale completes); before a dose is asked for the post goes
  // back to idle without a sale; a hung-up post stays as it is. While the
  // dose is being asked for it throws std::logic_error (the driver answers it).
  void HangUp(int post);
  // The customer stops the flow early; std::logic_error when nothing flows.
  void StopFlow(int post);
  Phase PhaseOf(int post) const;
  // The waits: true when reached in time; on a time-out, *standing (when
  // given) says where the post stands then (Describe).
  bool WaitForPhase(int post, Phase phase, std::chrono::milliseconds timeout,
                    std::string* standing = nullptr) const;

  std::vector<Sale> Sales() const;
  std::vector<Sale> SalesOf(int post) const;
  bool WaitForSales(int post, size_t count, std::chrono::milliseconds timeout,
                    std::string* standing = nullptr) const;

  // Sends one raw message (uncoded digits) to the post's hook, once.
  void SendMessage(int post, const std::vector<uint8_t>& digits);
  // Calls the post's registered initialisation handler; false if none.
  bool InitPost(int post);

  // Drops every callback the driver registered and waits for calls under
  // way to return; a host does this before it destroys the driver object.
  void ForgetCallbacks();

  void SetFaultRate(double rate) { faults_.SetRate(rate); }
  // The next count frames on the post's channel meet fault (a frame fault),
  // or its next count messages are lost (Fault::LostMessage); 0 cancels.
  void OrderFaults(int post, Fault fault, uint32_t count);
  uint64_t FaultCount(Fault fault) const { return faults_.Count(fault); }
  uint64_t MessagesSent() const { return messagesSent_.load(std::memory_order_relaxed); }

  uint8_t ChannelStatus(uint8_t channel) const {
    return status_[channel].load(std::memory_order_relaxed);
  }
  int32_t ChannelError(uint8_t channel) const {
    return error_[channel].load(std::memory_order_relaxed);
  }

 private:
  struct Handle {
    Vu30Dispatcher base;
    Simulator* owner;
  };

  // Dispatcher table entries.
  static int32_t VU30_CALL GetChannelErrorEntry(Vu30Dispatcher* self, uint8_t channel);
  static void VU30_CALL SetChannelErrorEntry(Vu30Dispatcher* self, uint8_t channel, int32_t code);
  static void VU30_CALL SetChannelStatusEntry(Vu30Dispatcher* self, uint8_t channel,
                                              uint8_t status);
  static uint8_t VU30_CALL GetChannelStatusEntry(Vu30Dispatcher* self, uint8_t channel);
  static int32_t VU30_CALL ConfigureChannelEntry(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                                 uint32_t lineSettings);
  static int32_t VU30_CALL TransactEntry(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                         const uint8_t* request, uint8_t requestLength,
                                         uint8_t* reply, uint8_t replyLength, uint8_t replyType);
  static void VU30_CALL SetReplyCheckerEntry(Vu30Dispatcher* self, uint8_t channel,
                                             Vu30BoundMethod method);
  static void VU30_CALL SetMessageHookEntry(Vu30Dispatcher* self, uint8_t post,
                                            Vu30BoundMethod method);
  static void VU30_CALL SetPostInitEntry(Vu30Dispatcher* self, uint8_t post,
                                         Vu30BoundMethod method);
  static Simulator& From(Vu30Dispatcher* self);
  static const Vu30DispatcherTable kTable;

  int32_t Transact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                   uint8_t requestLength, uint8_t* reply, uint8_t replyLength, uint8_t replyType);

  void Run();
  void Deliver(const Outgoing& message);

  // Takes a registered callback for a call made outside mu_ (null if none);
  // CallDone must follow every non-null take.
  Vu30BoundMethod TakeCallback(const Vu30BoundMethod& slot);
  void CallDone();

  static void CheckPost(int post);
  static void CheckNozzle(int nozzle);
  // LineTypeMismatch and Describe under mu_.
  std::string MismatchLocked(int post) const;
  std::string DescribeLocked(int post) const;

  Handle handle_;
  const SimOptions options_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::array<PostMachine, kPostCount + 1> posts_{};  // [0] unused
  // Keeps a callback the driver registers for a channel or post 1..30.
  void Register(std::array<Vu30BoundMethod, kPostCount + 1> Simulator::*table,
                uint8_t channelOrPost, Vu30BoundMethod method);
  std::array<Vu30BoundMethod, kPostCount + 1> checkers_{};
  std::array<Vu30BoundMethod, kPostCount + 1> hooks_{};
  std::array<Vu30BoundMethod, kPostCount + 1> postInits_{};
  std::vector<Sale> sales_;
  int callsInFlight_ = 0;  // callbacks being called outside mu_
  bool stop_ = false;

  std::array<std::mutex, kPostCount + 1> lines_{};
  std::array<std::atomic<uint8_t>, 256> status_{};
  std::array<std::atomic<int32_t>, 256> error_{};

  FaultInjector faults_;
  std::atomic<uint64_t> messagesSent_{0};

  std::thread thread_;  // last: started after everything else is ready
};

}  // namespace vu30::sim
