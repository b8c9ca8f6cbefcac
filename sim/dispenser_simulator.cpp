#include "dispenser_simulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "host_failure.h"
#include "line_code.h"

namespace vu30::sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kWorkerLineOffset = 32;

// Digits of the dispenser's requests and messages.
constexpr uint8_t kCmdStart = 0;
constexpr uint8_t kCmdStop = 5;
constexpr uint8_t kCmdSetPrice = 2;
constexpr uint8_t kCmdRunning = 8;
constexpr uint8_t kCmdFinal = 4;
constexpr uint8_t kCmdCounter = 3;
constexpr uint8_t kCmdState = 11;
constexpr uint8_t kAnswerFigures = 1;  // worker: 1, 0, dose, price
constexpr uint8_t kAnswerCode2 = 9;    // worker: answer to message code 2
constexpr uint8_t kMsgPriceRequest = 0;
constexpr uint8_t kMsgPriceRepeat = 9;  // price request that leaves the post's state alone
constexpr uint8_t kMsgDoseRequest = 8;
constexpr uint8_t kMsgReport = 1;

constexpr int64_t Pow10(int k) {
  int64_t r = 1;
  for (int i = 0; i < k; ++i) r *= 10;
  return r;
}

// The k low-order decimal digits of value, most significant first.
void AppendNumber(std::vector<uint8_t>& digits, int64_t value, int k) {
  value %= Pow10(k);
  if (value < 0) value += Pow10(k);
  for (int i = k - 1; i >= 0; --i) {
    digits.push_back(static_cast<uint8_t>((value / Pow10(i)) % 10));
  }
}

// k digits from position from; false if one of them is not a decimal digit.
bool ReadNumber(const std::vector<uint8_t>& digits, size_t from, int k, int64_t& value) {
  value = 0;
  for (int i = 0; i < k; ++i) {
    const uint8_t d = digits[from + static_cast<size_t>(i)];
    if (d > 9) return false;
    value = value * 10 + d;
  }
  return true;
}

uint8_t LineAddressOfPost(int post) { return static_cast<uint8_t>((post - 1) % 8 + 1); }

}  // namespace

const Vu30DispatcherTable Simulator::kTable = {
    nullptr,
    &Simulator::GetChannelErrorEntry,
    &Simulator::SetChannelErrorEntry,
    &Simulator::SetChannelStatusEntry,
    &Simulator::GetChannelStatusEntry,
    {},
    &Simulator::ConfigureChannelEntry,
    &Simulator::TransactEntry,
    &Simulator::SetReplyCheckerEntry,
    &Simulator::SetMessageHookEntry,
    &Simulator::SetPostInitEntry,
};

Simulator::Simulator(SimOptions options)
    : handle_{{&kTable}, this},
      options_(options),
      rng_(options.seed),
      faultRate_(std::clamp(options.faultRate, 0.0, 1.0)) {
  static_assert(std::is_standard_layout_v<Handle>, "the handle starts with the dispatcher");
  if (options.baud < 0) throw std::invalid_argument("baud must not be negative");
  thread_ = std::thread([this] { Run(); });
}

Simulator::~Simulator() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

Simulator& Simulator::From(Vu30Dispatcher* self) { return *reinterpret_cast<Handle*>(self)->owner; }

// ---------------------------------------------------------------------------
// Dispatcher table entries.

int32_t VU30_CALL Simulator::GetChannelErrorEntry(Vu30Dispatcher* self, uint8_t channel) {
  return From(self).error_[channel].load(std::memory_order_relaxed);
}

void VU30_CALL Simulator::SetChannelErrorEntry(Vu30Dispatcher* self, uint8_t channel,
                                               int32_t code) {
  From(self).error_[channel].store(code, std::memory_order_relaxed);
}

void VU30_CALL Simulator::SetChannelStatusEntry(Vu30Dispatcher* self, uint8_t channel,
                                                uint8_t status) {
  From(self).status_[channel].store(status, std::memory_order_relaxed);
}

uint8_t VU30_CALL Simulator::GetChannelStatusEntry(Vu30Dispatcher* self, uint8_t channel) {
  return From(self).status_[channel].load(std::memory_order_relaxed);
}

int32_t VU30_CALL Simulator::ConfigureChannelEntry(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                                   uint32_t lineSettings) {
  Simulator& sim = From(self);
  if (post < 1 || post > kPostCount || mode != VU30_CONFIGURE_MODE) return kResultBadArguments;
  std::lock_guard lock(sim.mu_);
  sim.posts_[post].lineSettings = lineSettings;
  return 0;
}

int32_t VU30_CALL Simulator::TransactEntry(Vu30Dispatcher* self, uint8_t channel,
                                           uint8_t lineAddress, const uint8_t* request,
                                           uint8_t requestLength, uint8_t* reply,
                                           uint8_t replyLength, uint8_t replyType) {
  // A simulated line failure that raises reaches the driver as a host's does.
  return host::ReportAsHostFailure([&] {
    return From(self).Transact(channel, lineAddress, request, requestLength, reply, replyLength,
                               replyType);
  });
}

void Simulator::Register(std::array<Vu30BoundMethod, kPostCount + 1> Simulator::*table,
                         uint8_t channelOrPost, Vu30BoundMethod method) {
  if (channelOrPost < 1 || channelOrPost > kPostCount) return;
  std::lock_guard lock(mu_);
  (this->*table)[channelOrPost] = method;
}

void VU30_CALL Simulator::SetReplyCheckerEntry(Vu30Dispatcher* self, uint8_t channel,
                                               Vu30BoundMethod method) {
  From(self).Register(&Simulator::checkers_, channel, method);
}

void VU30_CALL Simulator::SetMessageHookEntry(Vu30Dispatcher* self, uint8_t post,
                                              Vu30BoundMethod method) {
  From(self).Register(&Simulator::hooks_, post, method);
}

void VU30_CALL Simulator::SetPostInitEntry(Vu30Dispatcher* self, uint8_t post,
                                           Vu30BoundMethod method) {
  From(self).Register(&Simulator::postInits_, post, method);
}

// ---------------------------------------------------------------------------
// Public API.

void Simulator::CheckPost(int post) {
  if (post < 1 || post > kPostCount) {
    throw std::invalid_argument("post " + std::to_string(post) + " is outside 1..30");
  }
}

void Simulator::CheckNozzle(int nozzle) {
  if (nozzle < 1 || nozzle > kNozzleCount) {
    throw std::invalid_argument("nozzle " + std::to_string(nozzle) + " is outside 1..8");
  }
}

void Simulator::ConfigurePost(int post, const PostConfig& config) {
  CheckPost(post);
  if (config.portType > 3) throw std::invalid_argument("port type is outside 0..3");
  if (config.nozzles < 1 || config.nozzles > kNozzleCount) {
    throw std::invalid_argument("nozzle count is outside 1..8");
  }
  if (!(config.flowRate > 0.0) || !std::isfinite(config.flowRate)) {
    throw std::invalid_argument("flow rate must be positive");
  }
  if ((config.portType == 1 || config.portType == 3) && config.impulsesPerLitre == 0) {
    throw std::invalid_argument("impulses factor must be 1..255");
  }
  std::lock_guard lock(mu_);
  posts_[post].config = config;
}

void Simulator::SetCounter(int post, int nozzle, int64_t hundredths) {
  CheckPost(post);
  CheckNozzle(nozzle);
  if (hundredths < 0 || hundredths >= Pow10(10)) {
    throw std::invalid_argument("counter must fit 10 digits");
  }
  std::lock_guard lock(mu_);
  posts_[post].counters[nozzle - 1] = hundredths;
}

int64_t Simulator::Counter(int post, int nozzle) const {
  CheckPost(post);
  CheckNozzle(nozzle);
  std::lock_guard lock(mu_);
  return posts_[post].counters[nozzle - 1];
}

int Simulator::Price(int post, int nozzle) const {
  CheckPost(post);
  CheckNozzle(nozzle);
  std::lock_guard lock(mu_);
  return posts_[post].prices[nozzle - 1];
}

uint32_t Simulator::LineSettings(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return posts_[post].lineSettings;
}

void Simulator::LiftNozzle(int post, int nozzle) {
  CheckPost(post);
  CheckNozzle(nozzle);
  {
    std::lock_guard lock(mu_);
    Post& p = posts_[post];
    if (nozzle > p.config.nozzles) throw std::invalid_argument("the post has no such nozzle");
    if (p.phase != Phase::Idle) throw std::logic_error("the post is busy with a sale");
    p.phase = Phase::PriceRequested;
    p.nozzle = nozzle;
    p.started = false;
    p.latePriceAnswers = 0;
    Expect(p, Await::Price, {kMsgPriceRequest, static_cast<uint8_t>(nozzle - 1), 0}, Clock::now());
  }
  cv_.notify_all();
}

Phase Simulator::PhaseOf(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return posts_[post].phase;
}

bool Simulator::WaitForPhase(int post, Phase phase, std::chrono::milliseconds timeout) const {
  CheckPost(post);
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return posts_[post].phase == phase; });
}

std::vector<Sale> Simulator::Sales() const {
  std::lock_guard lock(mu_);
  return sales_;
}

std::vector<Sale> Simulator::SalesOf(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  std::vector<Sale> result;
  std::copy_if(sales_.begin(), sales_.end(), std::back_inserter(result),
               [post](const Sale& s) { return s.post == post; });
  return result;
}

bool Simulator::WaitForSales(int post, size_t count, std::chrono::milliseconds timeout) const {
  CheckPost(post);
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] {
    return static_cast<size_t>(std::count_if(sales_.begin(), sales_.end(), [post](const Sale& s) {
             return s.post == post;
           })) >= count;
  });
}

void Simulator::SendMessage(int post, const std::vector<uint8_t>& digits) {
  CheckPost(post);
  if (digits.empty() || digits.size() > 64) {
    throw std::invalid_argument("a message holds 1..64 digits");
  }
  Deliver({post, digits});
}

Vu30BoundMethod Simulator::TakeCallback(const Vu30BoundMethod& slot) {
  std::lock_guard lock(mu_);
  if (slot.code != nullptr) ++callsInFlight_;
  return slot;
}

void Simulator::CallDone() {
  {
    std::lock_guard lock(mu_);
    --callsInFlight_;
  }
  cv_.notify_all();
}

void Simulator::ForgetCallbacks() {
  std::unique_lock lock(mu_);
  checkers_.fill({});
  hooks_.fill({});
  postInits_.fill({});
  cv_.wait(lock, [this] { return callsInFlight_ == 0; });
}

bool Simulator::InitPost(int post) {
  CheckPost(post);
  const Vu30BoundMethod method = TakeCallback(postInits_[post]);
  if (method.code == nullptr) return false;
  struct Done {
    Simulator* sim;
    ~Done() { sim->CallDone(); }
  } done{this};
  std::bit_cast<Vu30PreparePostFn>(method.code)(method.data, static_cast<uint8_t>(post));
  return true;
}

void Simulator::SetFaultRate(double rate) {
  std::lock_guard lock(faultMu_);
  faultRate_ = std::isfinite(rate) ? std::clamp(rate, 0.0, 1.0) : 0.0;
}

uint64_t Simulator::FaultCount(Fault fault) const {
  const auto bit = static_cast<unsigned>(fault);
  return faultCounts_[static_cast<size_t>(std::countr_zero(bit))].load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Faults and line time.

Fault Simulator::DrawFault(uint8_t replyLength) {
  std::lock_guard lock(faultMu_);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (faultRate_ <= 0.0 || chance(rng_) >= faultRate_) return Fault{0};
  std::vector<Fault> possible;
  const unsigned kinds = options_.faultKinds;
  if ((kinds & static_cast<unsigned>(Fault::WrongLength)) && replyLength >= 2) {
    possible.push_back(Fault::WrongLength);
  }
  if ((kinds & static_cast<unsigned>(Fault::MalformedByte)) && replyLength >= 1) {
    possible.push_back(Fault::MalformedByte);
  }
  if (kinds & static_cast<unsigned>(Fault::FailedResult)) possible.push_back(Fault::FailedResult);
  if (kinds & static_cast<unsigned>(Fault::Exception)) possible.push_back(Fault::Exception);
  if (possible.empty()) return Fault{0};
  std::uniform_int_distribution<size_t> pick(0, possible.size() - 1);
  const Fault fault = possible[pick(rng_)];
  faultCounts_[static_cast<size_t>(std::countr_zero(static_cast<unsigned>(fault)))].fetch_add(
      1, std::memory_order_relaxed);
  return fault;
}

bool Simulator::DrawLostMessage() {
  std::lock_guard lock(faultMu_);
  if (!(options_.faultKinds & static_cast<unsigned>(Fault::LostMessage))) return false;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (faultRate_ <= 0.0 || chance(rng_) >= faultRate_) return false;
  faultCounts_[static_cast<size_t>(std::countr_zero(static_cast<unsigned>(Fault::LostMessage)))]
      .fetch_add(1, std::memory_order_relaxed);
  return true;
}

void Simulator::OccupyLine(int bytes) const {
  if (options_.baud <= 0 || bytes <= 0) return;
  // Ten bit times per byte: start bit, eight data bits, stop bit.
  std::this_thread::sleep_for(
      std::chrono::microseconds(int64_t{bytes} * 10'000'000 / options_.baud));
}

// ---------------------------------------------------------------------------
// Requests.

int32_t Simulator::Transact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                            uint8_t requestLength, uint8_t* reply, uint8_t replyLength,
                            uint8_t replyType) {
  auto fail = [&](int32_t code) {
    status_[channel].store(VU30_LINK_FAILED, std::memory_order_relaxed);
    error_[channel].store(code, std::memory_order_relaxed);
    return code;
  };
  if (channel < 1 || channel > kPostCount || (requestLength > 0 && request == nullptr) ||
      (replyLength > 0 && reply == nullptr)) {
    return fail(kResultBadArguments);
  }
  const int post = channel;
  // The frame reaches the post's dispenser only under its own line address;
  // 33..40 are the same dispenser's addresses for the worker's answers.
  const bool workerLine = lineAddress >= kWorkerLineOffset + 1;
  if ((lineAddress & 0x1F) != LineAddressOfPost(post) ||
      (workerLine && lineAddress > kWorkerLineOffset + 8)) {
    std::unique_lock line(lines_[channel]);
    OccupyLine(1 + requestLength + replyLength);
    return fail(kResultNoReply);
  }

  std::vector<uint8_t> replyBytes;
  uint8_t count = replyLength;
  {
    std::unique_lock line(lines_[channel]);
    OccupyLine(1 + requestLength + replyLength);

    const Fault fault = DrawFault(replyLength);
    if (fault == Fault::FailedResult) return fail(kResultLineFault);
    if (fault == Fault::Exception) {
      fail(kResultLineFault);
      throw std::runtime_error("simulated line failure on channel " + std::to_string(channel));
    }

    std::vector<uint8_t> digits;
    digits.reserve(requestLength);
    for (uint8_t i = 0; i < requestLength; ++i) {
      const auto d = DecodeLineByte(request[i]);
      if (!d) return fail(kResultNoReply);  // garbled frame: the dispenser ignores it
      digits.push_back(*d);
    }

    std::vector<uint8_t> replyDigits;
    uint8_t expectedType = 0;
    bool answers = false;
    {
      std::lock_guard lock(mu_);
      answers = Act(post, workerLine, digits, replyDigits, expectedType);
    }
    cv_.notify_all();

    if (replyLength == 0) return 0;  // nothing awaited
    if (!answers) return fail(kResultNoReply);
    const size_t natural = replyDigits.empty() && expectedType == 0 ? 1 : replyDigits.size() + 2;
    if (natural != replyLength || expectedType != replyType) return fail(kResultNoReply);

    if (natural == 1) {
      replyBytes.push_back(0);  // the acknowledgement
    } else {
      replyBytes.push_back(EncodeDigit(lineAddress & 0x0F));
      for (uint8_t d : replyDigits) replyBytes.push_back(EncodeDigit(d));
      replyBytes.push_back(0);
    }
    if (fault == Fault::WrongLength) {
      count = static_cast<uint8_t>(replyLength - 1);
    } else if (fault == Fault::MalformedByte) {
      std::lock_guard lock(faultMu_);
      std::uniform_int_distribution<size_t> where(replyBytes.size() == 1 ? 0 : 1,
                                                  replyBytes.size() - 1);
      const size_t at = where(rng_);
      replyBytes[at] = at + 1 == replyBytes.size() ? 0x6A : 0x6B;
    }
  }

  std::copy(replyBytes.begin(), replyBytes.end(), reply);
  const Vu30BoundMethod checker = TakeCallback(checkers_[channel]);
  if (checker.code != nullptr) {
    struct Done {
      Simulator* sim;
      ~Done() { sim->CallDone(); }
    } done{this};
    uint8_t expected = replyLength;
    std::bit_cast<Vu30CheckReplyFn>(checker.code)(checker.data, channel, reply, 0, &count,
                                                  &expected);
  }
  return 0;
}

bool Simulator::Act(int post, bool workerLine, const std::vector<uint8_t>& digits,
                    std::vector<uint8_t>& replyDigits, uint8_t& expectedType) {
  Post& p = posts_[post];
  if (workerLine) {
    expectedType = 0;
    return ActOnWorkerFrame(p, post, digits);
  }
  return ActOnHostRequest(p, post, digits, replyDigits, expectedType);
}

bool Simulator::ActOnHostRequest(Post& p, int post, const std::vector<uint8_t>& digits,
                                 std::vector<uint8_t>& replyDigits, uint8_t& expectedType) {
  if (digits.empty()) return false;
  const auto now = Clock::now();
  expectedType = 0;
  switch (digits[0]) {
    case kCmdStart:
      if (digits.size() != 1) return false;
      if (p.phase == Phase::AwaitingStart) {
        p.phase = Phase::DoseRequested;
        Expect(p, Await::Dose, {kMsgDoseRequest, static_cast<uint8_t>(p.nozzle - 1), 0},
               now + options_.doseRequestDelay);
      } else if (p.phase == Phase::PriceRequested) {
        p.started = true;  // the dose is asked for once the price is known
      }
      return true;
    case kCmdStop:
      if (digits.size() != 1) return false;
      if (p.phase == Phase::Flowing) {
        FinishSale(p, post, RunningVolume(p, now), false);
      } else if (p.phase == Phase::DoseRequested) {
        FinishSale(p, post, 0, true);
      } else if (p.phase == Phase::PriceRequested || p.phase == Phase::AwaitingStart) {
        p.started = false;
      }
      return true;
    case kCmdSetPrice: {
      if (digits.size() != 6) return false;
      int64_t price = 0;
      if (digits[1] >= kNozzleCount || !ReadNumber(digits, 2, 4, price)) return true;
      p.prices[digits[1]] = static_cast<int>(price);
      return true;
    }
    case kCmdRunning: {
      if (digits.size() != 1) return false;
      expectedType = EncodeDigit(4);
      int64_t volume = p.phase == Phase::Flowing ? RunningVolume(p, now) : p.figureVolume;
      if (p.config.portType == 1 || p.config.portType == 3) {
        volume = volume * p.config.impulsesPerLitre / 100;  // impulses
      }
      AppendNumber(replyDigits, volume, 5);
      replyDigits.push_back(static_cast<uint8_t>(p.figureNozzle));
      return true;
    }
    case kCmdFinal: {
      if (digits.size() != 1) return false;
      expectedType = EncodeDigit(1);
      int64_t volume = p.figureVolume;
      int64_t money = p.figureMoney;
      if (p.phase == Phase::Flowing) {
        volume = RunningVolume(p, now);
        money = (volume * p.salePrice + 50) / 100;
      }
      AppendNumber(replyDigits, volume, 5);
      AppendNumber(replyDigits, money, 5);
      replyDigits.push_back(static_cast<uint8_t>(p.figureNozzle));
      replyDigits.push_back(0);
      replyDigits.push_back(0);
      return true;
    }
    case kCmdCounter:
      if (digits.size() != 2 || digits[1] >= kNozzleCount) return false;
      expectedType = EncodeDigit(3);
      AppendNumber(replyDigits, p.counters[digits[1]], 10);
      replyDigits.push_back(digits[1]);
      return true;
    case kCmdState: {
      if (digits.size() != 2) return false;
      expectedType = EncodeDigit(11);
      const bool lifted = p.phase != Phase::Idle && p.phase != Phase::Reporting;
      replyDigits.push_back(lifted ? 0 : 1);
      replyDigits.push_back(static_cast<uint8_t>(lifted ? p.nozzle - 1 : 0));
      return true;
    }
    default:
      return false;
  }
}

bool Simulator::ActOnWorkerFrame(Post& p, int post, const std::vector<uint8_t>& digits) {
  if (digits.empty()) {
    // A bare frame: acknowledges the report, or refuses the dose.
    if (p.await == Await::Report) {
      p.await = Await::None;
      p.phase = Phase::Idle;
    } else if (p.await == Await::Dose) {
      FinishSale(p, post, 0, true);
    }
    return false;  // no reply to a bare frame
  }
  if (digits[0] == kAnswerCode2) return digits.size() == 1;
  if (digits[0] != kAnswerFigures || digits.size() != 11 || digits[1] != 0) return false;
  int64_t dose = 0;
  int64_t price = 0;
  if (!ReadNumber(digits, 2, 5, dose) || !ReadNumber(digits, 7, 4, price)) return true;
  if (p.await == Await::Price) {
    p.latePriceAnswers = p.sends - 1;
    p.prices[p.nozzle - 1] = static_cast<int>(price);
    p.salePrice = static_cast<int>(price);
    if (p.started) {
      p.phase = Phase::DoseRequested;
      Expect(p, Await::Dose, {kMsgDoseRequest, static_cast<uint8_t>(p.nozzle - 1), 0},
             Clock::now() + options_.doseRequestDelay);
    } else {
      p.phase = Phase::AwaitingStart;
      p.await = Await::None;
    }
  } else if (p.await == Await::Dose) {
    if (dose == 0 && p.latePriceAnswers > 0) {
      --p.latePriceAnswers;  // a repeated price request answered late, not the dose
      return true;
    }
    StartFlow(p, post, dose, static_cast<int>(price));
  }
  // Any other answer is a late duplicate: acknowledged and ignored.
  return true;
}

void Simulator::StartFlow(Post& p, int post, int64_t dose, int price) {
  p.prices[p.nozzle - 1] = price;
  p.salePrice = price;
  p.dose = dose;
  p.await = Await::None;
  p.figureVolume = 0;
  p.figureMoney = 0;
  p.figureNozzle = p.nozzle - 1;
  if (dose == 0) {
    FinishSale(p, post, 0, false);
    return;
  }
  p.phase = Phase::Flowing;
  p.flowStart = Clock::now();
}

int64_t Simulator::RunningVolume(const Post& p, Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - p.flowStart).count();
  const auto flowed = static_cast<int64_t>(std::floor(seconds * p.config.flowRate * 100.0));
  return std::clamp<int64_t>(flowed, 0, p.dose);
}

void Simulator::FinishSale(Post& p, int post, int64_t volume, bool refused) {
  Sale sale;
  sale.post = post;
  sale.nozzle = p.nozzle;
  sale.volume = volume;
  sale.price = p.salePrice;
  sale.money = (volume * p.salePrice + 50) / 100;
  sale.counterBefore = p.counters[p.nozzle - 1];
  p.counters[p.nozzle - 1] = (p.counters[p.nozzle - 1] + volume) % Pow10(10);
  sale.counterAfter = p.counters[p.nozzle - 1];
  sale.refused = refused;
  sales_.push_back(sale);

  p.figureVolume = volume;
  p.figureMoney = sale.money;
  p.figureNozzle = p.nozzle - 1;
  p.phase = Phase::Reporting;  // the nozzle is hung up
  std::vector<uint8_t> report{kMsgReport};
  AppendNumber(report, volume, 5);
  AppendNumber(report, sale.money, 5);
  report.push_back(static_cast<uint8_t>(p.nozzle - 1));
  Expect(p, Await::Report, std::move(report), Clock::now());
}

void Simulator::Expect(Post& p, Await what, std::vector<uint8_t> digits, Clock::time_point when) {
  p.await = what;
  p.message = std::move(digits);
  p.sends = 0;
  p.nextSend = when;
}

// ---------------------------------------------------------------------------
// The dispenser's own messages.

void Simulator::Run() {
  std::unique_lock lock(mu_);
  while (!stop_) {
    const auto now = Clock::now();
    std::vector<Outgoing> due;
    auto wake = Clock::time_point::max();
    for (int post = 1; post <= kPostCount; ++post) {
      Post& p = posts_[post];
      if (p.phase == Phase::Flowing) {
        const auto end =
            p.flowStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                              static_cast<double>(p.dose) / (p.config.flowRate * 100.0)));
        if (now >= end) {
          FinishSale(p, post, p.dose, false);
          cv_.notify_all();
        } else {
          wake = std::min(wake, end);
        }
      }
      if (p.await != Await::None) {
        if (now >= p.nextSend) {
          if (p.await == Await::Price && p.sends > 0) p.message[0] = kMsgPriceRepeat;
          due.push_back({post, p.message});
          ++p.sends;
          p.nextSend = now + options_.repeatTimeout;
        }
        wake = std::min(wake, p.nextSend);
      }
    }
    if (!due.empty()) {
      lock.unlock();
      for (const Outgoing& message : due) Deliver(message);
      lock.lock();
      continue;
    }
    if (wake == Clock::time_point::max()) {
      cv_.wait(lock);
    } else {
      cv_.wait_until(lock, wake);
    }
  }
}

void Simulator::Deliver(const Outgoing& message) {
  std::vector<uint8_t> bytes;
  if (options_.addressByteInMessages) {
    bytes.push_back(static_cast<uint8_t>(0x20 + LineAddressOfPost(message.post)));
  }
  for (uint8_t d : message.digits) bytes.push_back(EncodeDigit(d));
  bytes.push_back(0);
  {
    std::lock_guard line(lines_[message.post]);
    OccupyLine(static_cast<int>(bytes.size()));
  }
  messagesSent_.fetch_add(1, std::memory_order_relaxed);
  if (DrawLostMessage()) return;
  const Vu30BoundMethod hook = TakeCallback(hooks_[message.post]);
  if (hook.code == nullptr) return;
  struct Done {
    Simulator* sim;
    ~Done() { sim->CallDone(); }
  } done{this};
  try {
    std::bit_cast<Vu30RouteMessageFn>(hook.code)(
        hook.data, static_cast<uint8_t>(message.post + kWorkerLineOffset), bytes.data(), 0,
        static_cast<uint8_t>(bytes.size()));
  } catch (...) {
    // The dispatcher's receiving thread carries on whatever the hook does.
  }
}

}  // namespace vu30::sim
