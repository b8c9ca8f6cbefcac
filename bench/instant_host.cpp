// SPDX-License-Identifier: MIT
#include "instant_host.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "line_code.h"

namespace vu30::bench {

const Vu30DispatcherTable InstantDispatcher::kTable = {
    nullptr,
    &InstantDispatcher::GetChannelError,
    &InstantDispatcher::SetChannelError,
    &InstantDispatcher::SetChannelStatus,
    &InstantDispatcher::GetChannelStatus,
    {},
    &InstantDispatcher::ConfigureChannel,
    &InstantDispatcher::Transact,
    &InstantDispatcher::SetReplyChecker,
    &InstantDispatcher::SetMessageHook,
    &InstantDispatcher::SetPostInit,
};

InstantDispatcher::InstantDispatcher() : handle_{{&kTable}, this} {}

Vu30BoundMethod InstantDispatcher::Hook(int post) const {
  const Callbacks& slot = callbacks_.at(static_cast<size_t>(post));
  std::lock_guard lock(slot.mu);
  return slot.hook;
}

void InstantDispatcher::ExpectAnswers(int count) {
  std::lock_guard lock(answersMu_);
  answers_.store(0, std::memory_order_relaxed);
  target_.store(count, std::memory_order_relaxed);
}

bool InstantDispatcher::WaitForAnswers(std::chrono::milliseconds timeout) {
  std::unique_lock lock(answersMu_);
  return answersCv_.wait_for(lock, timeout, [this] {
    return answers_.load(std::memory_order_acquire) >= target_.load(std::memory_order_relaxed);
  });
}

void InstantDispatcher::RecordAnswer(int post) {
  // The stamp comes first: what follows is the harness's own work.
  answerNs_[static_cast<size_t>(post)].store(NowNs(), std::memory_order_release);
  const int count = answers_.fetch_add(1, std::memory_order_acq_rel) + 1;
  if (count == target_.load(std::memory_order_relaxed)) {
    { std::lock_guard lock(answersMu_); }
    answersCv_.notify_all();
  }
}

int32_t VU30_CALL InstantDispatcher::GetChannelError(Vu30Dispatcher* self, uint8_t channel) {
  return From(self).error_[channel].load(std::memory_order_relaxed);
}
void VU30_CALL InstantDispatcher::SetChannelError(Vu30Dispatcher* self, uint8_t channel,
                                                  int32_t code) {
  From(self).error_[channel].store(code, std::memory_order_relaxed);
}
void VU30_CALL InstantDispatcher::SetChannelStatus(Vu30Dispatcher* self, uint8_t channel,
                                                   uint8_t status) {
  From(self).status_[channel].store(status, std::memory_order_relaxed);
}
uint8_t VU30_CALL InstantDispatcher::GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  InstantDispatcher& d = From(self);
  if (channel >= 1 && channel <= kPosts) {
    d.statusReadNs_[channel].store(NowNs(), std::memory_order_relaxed);
  }
  return d.status_[channel].load(std::memory_order_relaxed);
}
int32_t VU30_CALL InstantDispatcher::ConfigureChannel(Vu30Dispatcher*, uint8_t, int32_t, uint32_t) {
  return 0;
}

int32_t VU30_CALL InstantDispatcher::Transact(Vu30Dispatcher* self, uint8_t channel,
                                              uint8_t lineAddress, const uint8_t*, uint8_t,
                                              uint8_t* reply, uint8_t replyLength, uint8_t) {
  InstantDispatcher& d = From(self);
  if (channel < 1 || channel > kPosts) return 1;
  // The worker's answer has reached the line.
  if (lineAddress > 32) {
    d.RecordAnswer(channel);
  } else {
    d.syncTransactNs_[channel].store(NowNs(), std::memory_order_relaxed);
  }
  if (replyLength == 0 || reply == nullptr) return 0;
  // A well-formed reply of the awaited length: the address digit, zeros, the
  // closing zero; a one-byte reply is the bare acknowledgement 0.
  if (replyLength > 1) {
    reply[0] = sim::EncodeDigit(static_cast<uint8_t>(lineAddress & 0x0F));
    for (int i = 1; i + 1 < replyLength; ++i) reply[i] = sim::EncodeDigit(0);
  }
  reply[replyLength - 1] = 0;
  Vu30BoundMethod checker;
  {
    std::lock_guard lock(d.callbacks_[channel].mu);
    checker = d.callbacks_[channel].checker;
  }
  if (checker.code != nullptr) {
    uint8_t count = replyLength;
    uint8_t expected = replyLength;
    std::bit_cast<Vu30CheckReplyFn>(checker.code)(checker.data, channel, reply, 0, &count,
                                                  &expected);
  }
  return 0;
}

void VU30_CALL InstantDispatcher::SetReplyChecker(Vu30Dispatcher* self, uint8_t channel,
                                                  Vu30BoundMethod method) {
  InstantDispatcher& d = From(self);
  if (channel < 1 || channel > kPosts) return;
  std::lock_guard lock(d.callbacks_[channel].mu);
  d.callbacks_[channel].checker = method;
}
void VU30_CALL InstantDispatcher::SetMessageHook(Vu30Dispatcher* self, uint8_t post,
                                                 Vu30BoundMethod method) {
  InstantDispatcher& d = From(self);
  if (post < 1 || post > kPosts) return;
  std::lock_guard lock(d.callbacks_[post].mu);
  d.callbacks_[post].hook = method;
}
void VU30_CALL InstantDispatcher::SetPostInit(Vu30Dispatcher*, uint8_t, Vu30BoundMethod) {}

Driver::Driver(InstantDispatcher& dispatcher) : Driver(dispatcher.Dispatcher()) {}

Driver::Driver(Vu30Dispatcher* dispatcher) : driver_(GetVU30(0, nullptr, dispatcher)) {
  if (driver_ == nullptr) throw std::runtime_error("GetVU30 returned no driver");
}

void Driver::OpenPosts(int count) {
  for (int post = 1; post <= count; ++post) driver_->table->OpenPost(driver_, post);
}

void Driver::Destroy() {
  if (driver_ == nullptr) return;
  Vu30Driver* const driver = driver_;
  driver_ = nullptr;
  driver->table->Destroy(driver);
}

std::array<uint8_t, 5> PriceRequestMessage(int post) {
  return {static_cast<uint8_t>(0x20 + (post - 1) % 8 + 1), sim::EncodeDigit(9), sim::EncodeDigit(0),
          sim::EncodeDigit(0), 0};
}

bool WorkerNice(int post, int& nice) {
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "vu30-post-%02d", post);
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (!std::getline(comm, name) || name != wanted) continue;
    // stat: "tid (comm) state ..." — the nice value is field 19; the name
    // may hold blanks, so the fields are counted after the closing ')'.
    std::ifstream statFile(task.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 19 && fields >> field; ++i) {
      if (i == 19) {
        nice = std::stoi(field);
        return true;
      }
    }
    return false;
  }
  return false;
}

bool SetCallingThreadNice(int nice) {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, tid, nice) == 0;
}

}  // namespace vu30::bench
