// SPDX-License-Identifier: MIT
#include "support/recording_dispatcher.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "host_failure.h"

namespace vu30::test {

// The host's table: plain VU30_CALL functions that forward to the owner.
struct DispatcherThunks {
  static RecordingDispatcher& Owner(Vu30Dispatcher* self) {
    return *reinterpret_cast<RecordingDispatcher::HostObject*>(self)->owner;
  }
  static int32_t VU30_CALL GetChannelError(Vu30Dispatcher* self, uint8_t channel) {
    return Owner(self).DoGetChannelError(channel);
  }
  static void VU30_CALL SetChannelError(Vu30Dispatcher* self, uint8_t channel, int32_t code) {
    Owner(self).DoSetChannelError(channel, code);
  }
  static void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
    Owner(self).DoSetChannelStatus(channel, status);
  }
  static uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
    return Owner(self).DoGetChannelStatus(channel);
  }
  static int32_t VU30_CALL ConfigureChannel(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                            uint32_t lineSettings) {
    return Owner(self).DoConfigureChannel(post, mode, lineSettings);
  }
  static int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                                    const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                                    uint8_t replyLength, uint8_t replyType) {
    return host::ReportAsHostFailure([&] {
      return Owner(self).DoTransact(channel, lineAddress, request, requestLength, reply,
                                    replyLength, replyType);
    });
  }
  static void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                        Vu30BoundMethod method) {
    Owner(self).DoSetCallback(DispatcherOp::SetReplyChecker, channel, method);
  }
  static void VU30_CALL SetMessageHook(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
    Owner(self).DoSetCallback(DispatcherOp::SetMessageHook, post, method);
  }
  static void VU30_CALL SetPostInit(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
    Owner(self).DoSetCallback(DispatcherOp::SetPostInit, post, method);
  }

  static const Vu30DispatcherTable& Table() {
    static const Vu30DispatcherTable table = [] {
      Vu30DispatcherTable t{};  // the entries the driver never calls stay null
      t.GetChannelError = &GetChannelError;
      t.SetChannelError = &SetChannelError;
      t.SetChannelStatus = &SetChannelStatus;
      t.GetChannelStatus = &GetChannelStatus;
      t.ConfigureChannel = &ConfigureChannel;
      t.Transact = &Transact;
      t.SetReplyChecker = &SetReplyChecker;
      t.SetMessageHook = &SetMessageHook;
      t.SetPostInit = &SetPostInit;
      return t;
    }();
    return table;
  }
};

uint8_t CodeDigit(uint8_t digit) {
  // Pair k (L7-L6, L5-L4, L3-L2, L1-L0) carries digit bit k: lower = bit, upper = !bit.
  unsigned out = 0;
  for (int k = 0; k < 4; ++k) {
    const unsigned bit = (digit >> k) & 1u;
    const unsigned pair = bit != 0 ? 0b01u : 0b10u;
    out |= pair << (6 - 2 * k);
  }
  return static_cast<uint8_t>(out);
}

uint8_t DecodeByte(uint8_t lineByte) {
  unsigned digit = 0;
  for (int k = 0; k < 4; ++k) digit |= ((lineByte >> (6 - 2 * k)) & 1u) << k;
  return static_cast<uint8_t>(digit);
}

ScriptedReply ScriptedReply::NoReply() {
  ScriptedReply r;
  r.callChecker = false;
  return r;
}

ScriptedReply ScriptedReply::Ack() { return Raw({0x00}); }

ScriptedReply ScriptedReply::Digits(const std::vector<uint8_t>& digits,
                                    std::optional<uint8_t> leadingByte) {
  ScriptedReply r;
  if (leadingByte) r.bytes.push_back(*leadingByte);
  for (const uint8_t d : digits) r.bytes.push_back(CodeDigit(d));
  r.bytes.push_back(0x00);
  return r;
}

ScriptedReply ScriptedReply::Raw(std::vector<uint8_t> bytes) {
  ScriptedReply r;
  r.bytes = std::move(bytes);
  return r;
}

ScriptedReply ScriptedReply::Failure(int32_t code) {
  ScriptedReply r = NoReply();
  r.result = code;
  return r;
}

ScriptedReply ScriptedReply::Throw(int32_t channelError) {
  ScriptedReply r = NoReply();
  r.channelError = channelError;
  r.throwError = true;
  return r;
}

RecordingDispatcher::RecordingDispatcher()
    : host_{Vu30Dispatcher{&DispatcherThunks::Table()}, this},
      defaultReply_(ScriptedReply::NoReply()) {}

RecordingDispatcher::~RecordingDispatcher() = default;

Vu30Dispatcher* RecordingDispatcher::Host() { return &host_.base; }

uint64_t RecordingDispatcher::RecordLocked(RecordedCall call) {
  call.thread = std::this_thread::get_id();
  call.sequence = nextSequence_++;
  const uint64_t sequence = call.sequence;
  calls_.push_back(std::move(call));
  changed_.notify_all();
  return sequence;
}

namespace {
RecordedCall Simple(DispatcherOp op, uint8_t channel, int32_t value) {
  RecordedCall call;
  call.op = op;
  call.channel = channel;
  call.value = value;
  call.start = call.end = Clock::now();
  call.finished = true;
  return call;
}
}  // namespace

int32_t RecordingDispatcher::DoGetChannelError(uint8_t channel) {
  std::lock_guard lock(mutex_);
  const int32_t value = error_[channel];
  RecordLocked(Simple(DispatcherOp::GetChannelError, channel, value));
  return value;
}

void RecordingDispatcher::DoSetChannelError(uint8_t channel, int32_t code) {
  std::lock_guard lock(mutex_);
  error_[channel] = code;
  RecordLocked(Simple(DispatcherOp::SetChannelError, channel, code));
}

void RecordingDispatcher::DoSetChannelStatus(uint8_t channel, uint8_t status) {
  std::lock_guard lock(mutex_);
  status_[channel] = status;
  RecordLocked(Simple(DispatcherOp::SetChannelStatus, channel, status));
}

uint8_t RecordingDispatcher::DoGetChannelStatus(uint8_t channel) {
  std::lock_guard lock(mutex_);
  const uint8_t value = status_[channel];
  RecordLocked(Simple(DispatcherOp::GetChannelStatus, channel, value));
  return value;
}

int32_t RecordingDispatcher::DoConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings) {
  std::lock_guard lock(mutex_);
  RecordedCall call = Simple(DispatcherOp::ConfigureChannel, post, mode);
  call.lineSettings = lineSettings;
  RecordLocked(std::move(call));
  return 0;
}

void RecordingDispatcher::DoSetCallback(DispatcherOp op, uint8_t channelOrPost,
                                        Vu30BoundMethod method) {
  std::lock_guard lock(mutex_);
  auto& registry = op == DispatcherOp::SetReplyChecker  ? checkers_
                   : op == DispatcherOp::SetMessageHook ? hooks_
                                                        : postInits_;
  registry[channelOrPost] = method;
  RecordLocked(Simple(op, channelOrPost, 0));
}

int32_t RecordingDispatcher::DoTransact(uint8_t channel, uint8_t lineAddress,
                                        const uint8_t* request, uint8_t requestLength,
                                        uint8_t* reply, uint8_t replyLength, uint8_t replyType) {
  RecordedCall call;
  call.op = DispatcherOp::Transact;
  call.channel = channel;
  call.lineAddress = lineAddress;
  call.requestLength = requestLength;
  if (request != nullptr) call.request.assign(request, request + requestLength);
  call.replyPresent = reply != nullptr;
  call.replyLength = replyLength;
  call.replyType = replyType;
  call.start = Clock::now();

  // Record the call and take the script that matches it.
  uint64_t sequence = 0;
  std::optional<ScriptedReply> script;
  std::function<std::optional<ScriptedReply>(const TransactRequest&)> responder;
  {
    std::lock_guard lock(mutex_);
    sequence = RecordLocked(call);
    auto found = queued_.find(channel);
    if (found != queued_.end()) {
      auto& queue = found->second;
      const auto match = std::find_if(queue.begin(), queue.end(), [&](const Queued& q) {
        return !q.lineAddress || *q.lineAddress == lineAddress;
      });
      if (match != queue.end()) {
        script = std::move(match->reply);
        queue.erase(match);
      }
    }
    if (!script) responder = responder_;
  }
  if (!script && responder) {
    script = responder(TransactRequest{channel, lineAddress, call.request, replyLength, replyType});
  }
  if (!script) {
    std::lock_guard lock(mutex_);
    script = defaultReply_;
  }

  if (script->delay.count() > 0) std::this_thread::sleep_for(script->delay);
  if (script->channelError) {
    std::lock_guard lock(mutex_);
    error_[channel] = *script->channelError;
  }

  auto finish = [&](int32_t result, bool checkerCalled, bool checkerResult, uint8_t count) {
    std::lock_guard lock(mutex_);
    // Found by its sequence number: ClearCalls may have run meanwhile.
    const auto it = std::find_if(calls_.begin(), calls_.end(),
                                 [&](const RecordedCall& c) { return c.sequence == sequence; });
    if (it == calls_.end()) return;
    RecordedCall& done = *it;
    done.value = result;
    done.checkerCalled = checkerCalled;
    done.checkerResult = checkerResult;
    done.countAfterCheck = count;
    if (reply != nullptr) done.replyAfterCheck.assign(reply, reply + replyLength);
    done.end = Clock::now();
    done.finished = true;
    changed_.notify_all();
  };

  if (script->throwError) {
    finish(0, false, false, 0);
    throw std::runtime_error("scripted Transact failure");
  }

  bool checkerCalled = false;
  bool checkerResult = false;
  uint8_t count = 0;
  if (script->callChecker && replyLength > 0 && reply != nullptr) {
    std::optional<Vu30BoundMethod> checker = ReplyChecker(channel);
    if (checker) {
      const std::size_t n = std::min<std::size_t>(script->bytes.size(), 255);
      std::copy_n(script->bytes.begin(), n, reply);
      count = script->count.value_or(static_cast<uint8_t>(script->bytes.size()));
      uint8_t expected = replyLength;
      const auto fn = reinterpret_cast<Vu30CheckReplyFn>(checker->code);
      checkerResult = fn(checker->data, channel, reply, 0, &count, &expected);
      checkerCalled = true;
    }
  }
  if (script->statusAfter) {
    std::lock_guard lock(mutex_);
    status_[channel] = *script->statusAfter;
  }
  finish(script->result, checkerCalled, checkerResult, count);
  return script->result;
}

void RecordingDispatcher::QueueReply(uint8_t channel, ScriptedReply reply,
                                     std::optional<uint8_t> lineAddress) {
  std::lock_guard lock(mutex_);
  queued_[channel].push_back(Queued{lineAddress, std::move(reply)});
}

void RecordingDispatcher::SetResponder(
    std::function<std::optional<ScriptedReply>(const TransactRequest&)> responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void RecordingDispatcher::SetDefaultReply(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  defaultReply_ = std::move(reply);
}

uint8_t RecordingDispatcher::Status(uint8_t channel) const {
  std::lock_guard lock(mutex_);
  return status_[channel];
}

int32_t RecordingDispatcher::Error(uint8_t channel) const {
  std::lock_guard lock(mutex_);
  return error_[channel];
}

void RecordingDispatcher::SetStatus(uint8_t channel, uint8_t status) {
  std::lock_guard lock(mutex_);
  status_[channel] = status;
}

namespace {
std::optional<Vu30BoundMethod> Find(const std::map<uint8_t, Vu30BoundMethod>& registry,
                                    uint8_t key) {
  const auto found = registry.find(key);
  if (found == registry.end()) return std::nullopt;
  return found->second;
}
}  // namespace

std::optional<Vu30BoundMethod> RecordingDispatcher::ReplyChecker(uint8_t channel) const {
  std::lock_guard lock(mutex_);
  return Find(checkers_, channel);
}

std::optional<Vu30BoundMethod> RecordingDispatcher::MessageHook(uint8_t post) const {
  std::lock_guard lock(mutex_);
  return Find(hooks_, post);
}

std::optional<Vu30BoundMethod> RecordingDispatcher::PostInit(uint8_t post) const {
  std::lock_guard lock(mutex_);
  return Find(postInits_, post);
}

bool RecordingDispatcher::CallReplyChecker(uint8_t channel, uint8_t* buffer, uint8_t& count,
                                           uint8_t& expected) {
  const std::optional<Vu30BoundMethod> checker = ReplyChecker(channel);
  if (!checker) return false;
  const auto fn = reinterpret_cast<Vu30CheckReplyFn>(checker->code);
  return fn(checker->data, channel, buffer, 0, &count, &expected);
}

std::vector<uint8_t> RecordingDispatcher::DeliverMessage(uint8_t post, std::vector<uint8_t> bytes,
                                                         std::optional<uint8_t> workerAddress) {
  const std::optional<Vu30BoundMethod> hook = MessageHook(post);
  if (!hook) return {};
  const auto fn = reinterpret_cast<Vu30RouteMessageFn>(hook->code);
  fn(hook->data, workerAddress.value_or(static_cast<uint8_t>(post + 32)), bytes.data(), 0,
     static_cast<uint8_t>(bytes.size()));
  return bytes;
}

bool RecordingDispatcher::CallPostInit(uint8_t post) {
  const std::optional<Vu30BoundMethod> init = PostInit(post);
  if (!init) return false;
  const auto fn = reinterpret_cast<Vu30PreparePostFn>(init->code);
  fn(init->data, post);
  return true;
}

std::vector<RecordedCall> RecordingDispatcher::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordedCall> RecordingDispatcher::Calls(DispatcherOp op) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : calls_) {
    if (call.op == op) out.push_back(call);
  }
  return out;
}

std::vector<DispatcherOp> RecordingDispatcher::Ops() const {
  std::lock_guard lock(mutex_);
  std::vector<DispatcherOp> out;
  out.reserve(calls_.size());
  for (const RecordedCall& call : calls_) out.push_back(call.op);
  return out;
}

void RecordingDispatcher::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

bool RecordingDispatcher::WaitForCalls(DispatcherOp op, std::size_t n,
                                       std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    const auto finished = std::count_if(calls_.begin(), calls_.end(), [&](const RecordedCall& c) {
      return c.op == op && c.finished;
    });
    return static_cast<std::size_t>(finished) >= n;
  });
}

}  // namespace vu30::test
