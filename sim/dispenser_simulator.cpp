// SPDX-License-Identifier: MIT
#include "dispenser_simulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "host_failure.h"
#include "line.h"
#include "line_code.h"
#include "platform/ini_file.h"
#include "platform/windows_directory.h"

namespace vu30::sim {

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
      faults_(options.seed, options.faultRate, options.faultKinds) {
  static_assert(std::is_standard_layout_v<Handle>, "the handle starts with the dispatcher");
  if (options.baud < 0) throw std::invalid_argument("baud must not be negative");
  for (int post = 1; post <= kPostCount; ++post) {
    posts_[static_cast<size_t>(post)].Attach(post,
                                             {options.repeatTimeout, options.doseRequestDelay});
  }
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

PostConfig Simulator::ConfigOf(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return posts_[post].config;
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

namespace {

const char* PhaseText(Phase phase) {
  switch (phase) {
    case Phase::Idle:
      return "idle";
    case Phase::PriceRequested:
      return "price request outstanding";
    case Phase::AwaitingStart:
      return "price known, waiting for the start";
    case Phase::DoseRequested:
      return "dose request outstanding";
    case Phase::Flowing:
      return "fuel flowing";
    case Phase::Reporting:
      return "end report outstanding";
  }
  return "unknown";
}

// The types a line settings word stands for, as the driver chooses it.
std::string TypesOfSettings(uint32_t settings) {
  if (settings == LineSettingsOfType(1)) return "type 1 or 3 (impulses)";
  if (settings == LineSettingsOfType(2)) return "type 2";
  if (settings == LineSettingsOfType(0)) return "type 0";
  return "no known type";
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string Simulator::MismatchLocked(int post) const {
  const PostMachine& p = posts_[post];
  const std::string where = "post " + std::to_string(post);
  if (p.lineSettings == 0) return where + ": the driver has not configured its line (not opened)";
  const uint8_t type = p.config.portType;
  if (p.lineSettings == LineSettingsOfType(type)) return {};
  std::string text = where + " is simulated as type " + std::to_string(type) +
                     ", but the driver configured its line for " + TypesOfSettings(p.lineSettings) +
                     " (" + Hex(p.lineSettings) + ")";
  if (post < kPostCount) {
    text += ": set COM_" + std::to_string(post) + "_TYPE=" + std::to_string(type) +
            " in cnf.INI (vu30_sim_write_port_types)";
  } else {
    text += ": the driver gives post 30 type 0 whatever cnf.INI says";
  }
  return text;
}

std::string Simulator::DescribeLocked(int post) const {
  const PostMachine& p = posts_[post];
  std::string text = "post " + std::to_string(post) + " is " + PhaseText(p.phase());
  if (p.phase() != Phase::Idle) text += " (nozzle " + std::to_string(p.nozzle()) + ")";
  if (p.sends() > 0) text += ", its message sent " + std::to_string(p.sends()) + " times";
  const auto sales =
      std::count_if(sales_.begin(), sales_.end(), [post](const Sale& s) { return s.post == post; });
  text += ", " + std::to_string(sales) + " sales completed";
  if (hooks_[post].code == nullptr) text += "; the driver has not registered for the post";
  const std::string mismatch = MismatchLocked(post);
  if (!mismatch.empty() && p.lineSettings != 0) text += "; " + mismatch;
  return text;
}

std::string Simulator::LineTypeMismatch(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return MismatchLocked(post);
}

std::string Simulator::Describe(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return DescribeLocked(post);
}

void Simulator::WritePortTypes(const std::string& folder) const {
  if (folder.empty()) throw std::invalid_argument("no folder for cnf.INI");
  platform::IniFile::Entries entries;
  {
    std::lock_guard lock(mu_);
    if (posts_[kPostCount].config.portType != 0) {
      throw std::logic_error(
          "post 30 is simulated with a type other than 0, which cnf.INI cannot give it");
    }
    for (int post = 1; post < kPostCount; ++post) {
      const PostConfig& c = posts_[post].config;
      const std::string key = "COM_" + std::to_string(post);
      entries.emplace_back(key + "_TYPE", std::to_string(c.portType));
      entries.emplace_back(key + "_IMPL", std::to_string(c.impulsesPerLitre));
    }
  }
  platform::IniFile file(platform::JoinPath(folder, "cnf.INI"));
  if (!file.Write("COMTypeTRK", entries)) {
    throw std::runtime_error("cannot write " + file.Path());
  }
}

void Simulator::LiftNozzle(int post, int nozzle) {
  CheckPost(post);
  CheckNozzle(nozzle);
  {
    std::lock_guard lock(mu_);
    PostMachine& p = posts_[post];
    if (nozzle > p.config.nozzles) throw std::invalid_argument("the post has no such nozzle");
    if (p.phase() != Phase::Idle) throw std::logic_error("the post is busy with a sale");
    p.Lift(nozzle);
  }
  cv_.notify_all();
}

void Simulator::HangUp(int post) {
  CheckPost(post);
  {
    std::lock_guard lock(mu_);
    PostMachine& p = posts_[post];
    if (p.phase() == Phase::DoseRequested) {
      throw std::logic_error("the dose is being asked for; hang up once the fuel flows");
    }
    if (!p.StopFlow(sales_)) p.HangUpBeforeDose();
  }
  cv_.notify_all();
}

void Simulator::StopFlow(int post) {
  CheckPost(post);
  {
    std::lock_guard lock(mu_);
    if (!posts_[post].StopFlow(sales_)) throw std::logic_error("no fuel flows at the post");
  }
  cv_.notify_all();
}

Phase Simulator::PhaseOf(int post) const {
  CheckPost(post);
  std::lock_guard lock(mu_);
  return posts_[post].phase();
}

bool Simulator::WaitForPhase(int post, Phase phase, std::chrono::milliseconds timeout,
                             std::string* standing) const {
  CheckPost(post);
  std::unique_lock lock(mu_);
  if (cv_.wait_for(lock, timeout, [&] { return posts_[post].phase() == phase; })) return true;
  if (standing != nullptr) {
    *standing = "waited " + std::to_string(timeout.count()) + " ms for post " +
                std::to_string(post) + " to be " + PhaseText(phase) + "; " + DescribeLocked(post);
  }
  return false;
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

bool Simulator::WaitForSales(int post, size_t count, std::chrono::milliseconds timeout,
                             std::string* standing) const {
  CheckPost(post);
  std::unique_lock lock(mu_);
  if (cv_.wait_for(lock, timeout, [&] {
        return static_cast<size_t>(
                   std::count_if(sales_.begin(), sales_.end(),
                                 [post](const Sale& s) { return s.post == post; })) >= count;
      })) {
    return true;
  }
  if (standing != nullptr) {
    *standing = "waited " + std::to_string(timeout.count()) + " ms for " + std::to_string(count) +
                " completed sales of post " + std::to_string(post) + "; " + DescribeLocked(post);
  }
  return false;
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

void Simulator::OrderFaults(int post, Fault fault, uint32_t count) {
  CheckPost(post);
  if (std::popcount(static_cast<unsigned>(fault)) != 1 ||
      (static_cast<unsigned>(fault) & ~kAllFaults) != 0) {
    throw std::invalid_argument("a fault is one of the five kinds");
  }
  faults_.Order(post, fault, count);
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
    OccupyLine(options_.baud, 1 + requestLength + replyLength);
    return fail(kResultNoReply);
  }

  std::vector<uint8_t> replyBytes;
  uint8_t count = replyLength;
  {
    std::unique_lock line(lines_[channel]);
    OccupyLine(options_.baud, 1 + requestLength + replyLength);

    const Fault fault = faults_.DrawForFrame(post, replyLength);
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
      PostMachine& p = posts_[post];
      if (workerLine) {
        answers = p.OnWorkerFrame(digits, sales_);
      } else {
        answers = p.OnHostRequest(digits, replyDigits, expectedType, sales_);
      }
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
      faults_.DamageReply(replyBytes);
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

// ---------------------------------------------------------------------------
// The dispenser's own messages.

void Simulator::Run() {
  std::unique_lock lock(mu_);
  while (!stop_) {
    const auto now = Clock::now();
    std::vector<Outgoing> due;
    auto wake = Clock::time_point::max();
    for (int post = 1; post <= kPostCount; ++post) {
      if (posts_[post].Advance(now, due, wake, sales_)) cv_.notify_all();
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
  std::vector<uint8_t> bytes =
      MessageBytes(message.post, message.digits, options_.addressByteInMessages);
  {
    std::lock_guard line(lines_[message.post]);
    OccupyLine(options_.baud, static_cast<int>(bytes.size()));
  }
  messagesSent_.fetch_add(1, std::memory_order_relaxed);
  if (faults_.DrawLostMessage(message.post)) return;
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
