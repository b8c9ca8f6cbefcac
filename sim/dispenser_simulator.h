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
// Every public member may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "vu30.h"

namespace vu30::sim {

inline constexpr int kPostCount = 30;
inline constexpr int kNozzleCount = 8;

// Transact results other than 0.
inline constexpr int32_t kResultNoReply = 0xE0;       // the dispenser did not answer
inline constexpr int32_t kResultLineFault = 0xE1;     // the frame was lost on the line
inline constexpr int32_t kResultBadArguments = 0xE2;  // the call itself was malformed

// Faults that can be injected.
enum class Fault : unsigned {
  WrongLength = 1u << 0,    // fewer bytes received than expected (command acted on)
  MalformedByte = 1u << 1,  // a reply byte damaged on the line (command acted on)
  FailedResult = 1u << 2,   // Transact returns kResultLineFault (frame not received)
  Exception = 1u << 3,      // Transact throws std::runtime_error (frame not received)
  LostMessage = 1u << 4,    // an unsolicited message never reaches the hook
};
inline constexpr unsigned kAllFaults = 0x1F;
inline constexpr int kFaultKinds = 5;

struct SimOptions {
  // Line speed in baud; 0 makes every frame instant. Each byte takes 10 bit times.
  int baud = 1200;
  // A message that expects an answer is sent again after this long without one.
  std::chrono::milliseconds repeatTimeout{300};
  // Time from the start request to the dose request (the dispenser's reaction).
  std::chrono::milliseconds doseRequestDelay{200};
  // Lead every message with the uncoded address byte 0x20 + line address.
  bool addressByteInMessages = true;
  // Probability (0..1) that a frame or message is hit by a fault, and which faults.
  double faultRate = 0.0;
  uint64_t seed = 1;
  unsigned faultKinds = kAllFaults;
};

struct PostConfig {
  uint8_t portType = 0;            // 0 "ЕС-2000", 1 "FAS", 2 "ER3/2", 3 "ER112"
  uint8_t impulsesPerLitre = 100;  // running volume unit of types 1 and 3
  int nozzles = 4;                 // 1..8
  double flowRate = 20.0;          // litres per second
};

// Where a post's current sale stands.
enum class Phase {
  Idle,            // all nozzles hung up, nothing outstanding
  PriceRequested,  // nozzle lifted, price request outstanding
  AwaitingStart,   // price known, waiting for the start request
  DoseRequested,   // started, dose request outstanding
  Flowing,         // dose released, fuel flowing
  Reporting,       // flow ended, report outstanding
};

// A completed sale (amounts in hundredths).
struct Sale {
  int post = 0;
  int nozzle = 0;
  int64_t volume = 0;  // litres × 100
  int price = 0;       // money units per litre × 100
  int64_t money = 0;   // volume × price, rounded to the cent
  int64_t counterBefore = 0;
  int64_t counterAfter = 0;
  bool refused = false;  // the dose was refused: nothing dispensed
};

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
  void SetCounter(int post, int nozzle, int64_t hundredths);
  int64_t Counter(int post, int nozzle) const;
  // The nozzle's price as last sent to the dispenser, in hundredths.
  int Price(int post, int nozzle) const;
  // The line settings the post was last configured with (0 if never).
  uint32_t LineSettings(int post) const;

  // The customer lifts a nozzle; the post must be idle (else std::logic_error).
  void LiftNozzle(int post, int nozzle);
  Phase PhaseOf(int post) const;
  bool WaitForPhase(int post, Phase phase, std::chrono::milliseconds timeout) const;

  std::vector<Sale> Sales() const;
  std::vector<Sale> SalesOf(int post) const;
  bool WaitForSales(int post, size_t count, std::chrono::milliseconds timeout) const;

  // Sends one raw message (uncoded digits) to the post's hook, once.
  void SendMessage(int post, const std::vector<uint8_t>& digits);
  // Calls the post's registered initialisation handler; false if none.
  bool InitPost(int post);

  // Drops every callback the driver registered and waits for calls under
  // way to return; a host does this before it destroys the driver object.
  void ForgetCallbacks();

  void SetFaultRate(double rate);
  uint64_t FaultCount(Fault fault) const;
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

  enum class Await { None, Price, Dose, Report };

  struct Post {
    PostConfig config;
    std::array<int64_t, kNozzleCount> counters{};
    std::array<int, kNozzleCount> prices{};
    uint32_t lineSettings = 0;
    Phase phase = Phase::Idle;
    int nozzle = 0;  // nozzle of the current sale, 1..8
    bool started = false;
    int salePrice = 0;
    int64_t dose = 0;
    std::chrono::steady_clock::time_point flowStart{};
    // Figures of the current or last transaction.
    int64_t figureVolume = 0;
    int64_t figureMoney = 0;
    int figureNozzle = 0;  // index 0..7
    Await await = Await::None;
    std::vector<uint8_t> message;  // uncoded digits of the outstanding message
    int sends = 0;
    std::chrono::steady_clock::time_point nextSend{};
    // Answers still owed to price requests that were repeated before the
    // first answer came: such an answer (five zero dose digits) may arrive
    // while the dose is awaited, and is then not the dose.
    int latePriceAnswers = 0;
  };

  struct Outgoing {
    int post;
    std::vector<uint8_t> digits;
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
  // Acts on a decoded request; returns the reply digits (without the address
  // position and the closing zero), or false when the dispenser does not answer.
  bool Act(int post, bool workerLine, const std::vector<uint8_t>& digits,
           std::vector<uint8_t>& replyDigits, uint8_t& expectedType);
  bool ActOnHostRequest(Post& p, int post, const std::vector<uint8_t>& digits,
                        std::vector<uint8_t>& replyDigits, uint8_t& expectedType);
  bool ActOnWorkerFrame(Post& p, int post, const std::vector<uint8_t>& digits);
  void StartFlow(Post& p, int post, int64_t dose, int price);
  void FinishSale(Post& p, int post, int64_t volume, bool refused);
  void Expect(Post& p, Await what, std::vector<uint8_t> digits,
              std::chrono::steady_clock::time_point when);
  int64_t RunningVolume(const Post& p, std::chrono::steady_clock::time_point now) const;

  void Run();
  void Deliver(const Outgoing& message);
  void OccupyLine(int bytes) const;
  Fault DrawFault(uint8_t replyLength);
  bool DrawLostMessage();

  // Takes a registered callback for a call made outside mu_ (null if none);
  // CallDone must follow every non-null take.
  Vu30BoundMethod TakeCallback(const Vu30BoundMethod& slot);
  void CallDone();

  static void CheckPost(int post);
  static void CheckNozzle(int nozzle);

  Handle handle_;
  const SimOptions options_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::array<Post, kPostCount + 1> posts_{};  // [0] unused
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

  std::mutex faultMu_;
  std::mt19937_64 rng_;
  double faultRate_;
  std::array<std::atomic<uint64_t>, kFaultKinds> faultCounts_{};
  std::atomic<uint64_t> messagesSent_{0};

  std::thread thread_;  // last: started after everything else is ready
};

}  // namespace vu30::sim
