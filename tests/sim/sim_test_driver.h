/* SPDX-License-Identifier: MIT */
// A minimal stand-in for the driver's side of the dispatcher contract: a reply
// checker and a message hook registered as bound methods, and requests made
// through the dispatcher's table, so that the simulator is exercised exactly
// as the driver library uses it.
#pragma once

#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispenser_simulator.h"
#include "line_code.h"
#include "platform/call_into_host.h"
#include "support/host_failure_seen.h"

namespace vu30::sim::testing {

// What a failure of the simulator's own reaches its caller as.
using SimFailure = test::HostFailureSeen;

struct Exchange {
  int32_t result = 0;
  bool checked = false;        // the checker was called
  bool accepted = false;       // and accepted the reply
  uint8_t count = 0;           // the count the checker was given
  std::vector<uint8_t> reply;  // decoded digits when accepted (position 0 included)
};

class TestDriver {
 public:
  explicit TestDriver(Simulator& sim) : sim_(sim), dispatcher_(sim.Dispatcher()) {}
  // The simulator may outlive this object: no more calls into it after this.
  ~TestDriver() { sim_.ForgetCallbacks(); }
  TestDriver(const TestDriver&) = delete;
  TestDriver& operator=(const TestDriver&) = delete;

  const Vu30DispatcherTable& Table() const { return *dispatcher_->table; }

  void RegisterHook(int post) {
    Table().SetMessageHook(dispatcher_, static_cast<uint8_t>(post),
                           Vu30BoundMethod{std::bit_cast<void*>(&HookThunk), this});
  }

  // One request: digits uncoded, sent to the post (worker=false) or to its
  // worker address. Throws what Transact's failure becomes (SimFailure).
  Exchange Send(int post, bool worker, const std::vector<uint8_t>& digits, uint8_t replyLength,
                uint8_t replyType) {
    const auto channel = static_cast<uint8_t>(post);
    Table().SetReplyChecker(dispatcher_, channel,
                            Vu30BoundMethod{std::bit_cast<void*>(&CheckThunk), this});
    std::vector<uint8_t> coded;
    for (uint8_t d : digits) coded.push_back(EncodeDigit(d));
    std::vector<uint8_t> buffer(std::max<size_t>(replyLength, 1), 0xEE);
    const auto lineAddress = static_cast<uint8_t>((post - 1) % 8 + 1 + (worker ? 32 : 0));
    Exchange ex;
    {
      std::lock_guard lock(mu_);
      lastCheck_.erase(std::this_thread::get_id());
    }
    ex.result = platform::CallHost(Table().Transact, dispatcher_, channel, lineAddress,
                                   coded.data(), static_cast<uint8_t>(coded.size()),
                                   replyLength ? buffer.data() : nullptr, replyLength,
                                   static_cast<uint8_t>(replyType ? EncodeDigit(replyType) : 0));
    std::lock_guard lock(mu_);
    const auto check = lastCheck_.find(std::this_thread::get_id());
    if (check != lastCheck_.end()) {
      ex.checked = true;
      ex.accepted = check->second.accepted;
      ex.count = check->second.count;
      if (ex.accepted) {
        ex.reply.assign(buffer.begin(),
                        buffer.begin() + static_cast<std::ptrdiff_t>(check->second.decoded));
      }
    }
    return ex;
  }

  // The next message the hook received (decoded digits), waiting up to timeout.
  std::optional<std::vector<uint8_t>> NextMessage(
      int post, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mu_);
    std::optional<std::vector<uint8_t>> found;
    cv_.wait_for(lock, timeout, [&] {
      for (auto it = messages_.begin(); it != messages_.end(); ++it) {
        if (it->post == post) {
          found = it->digits;
          messages_.erase(it);
          return true;
        }
      }
      return false;
    });
    return found;
  }

  std::vector<uint8_t> RawOfLastMessage() {
    std::lock_guard lock(mu_);
    return lastRaw_;
  }

 private:
  struct Message {
    int post;
    std::vector<uint8_t> digits;
  };
  struct Check {
    bool accepted;
    uint8_t count;
    size_t decoded;
  };

  static bool VU30_CALL CheckThunk(void* data, uint8_t channel, uint8_t* buffer, int32_t,
                                   uint8_t* count, uint8_t* expected) {
    auto* self = static_cast<TestDriver*>(data);
    const uint8_t given = *count;
    const Vu30DispatcherTable& t = self->Table();
    auto failWith = [&](int32_t code) {
      t.SetChannelStatus(self->dispatcher_, channel, VU30_LINK_FAILED);
      t.SetChannelError(self->dispatcher_, channel, code);
      std::lock_guard lock(self->mu_);
      self->lastCheck_[std::this_thread::get_id()] = Check{false, given, 0};
      return false;
    };
    if (*count != *expected || *count == 0) return failWith(VU30_ERR_REPLY_LENGTH);
    if (buffer[*count - 1] != 0) return failWith(VU30_ERR_REPLY_FORMAT);
    size_t n = *count;
    if (!DecodeLineByte(buffer[0])) {
      for (size_t i = 1; i < n; ++i) buffer[i - 1] = buffer[i];
      --n;
    }
    for (size_t i = 0; i + 1 < n; ++i) {
      const auto d = DecodeLineByte(buffer[i]);
      if (!d) return failWith(VU30_ERR_REPLY_FORMAT);
      buffer[i] = *d;
    }
    t.SetChannelStatus(self->dispatcher_, channel, VU30_LINK_GOOD);
    t.SetChannelError(self->dispatcher_, channel, 0);
    std::lock_guard lock(self->mu_);
    self->lastCheck_[std::this_thread::get_id()] = Check{true, given, n == 0 ? 0 : n - 1};
    return true;
  }

  static void VU30_CALL HookThunk(void* data, uint8_t workerAddress, uint8_t* buffer, int32_t,
                                  uint8_t length) {
    auto* self = static_cast<TestDriver*>(data);
    std::vector<uint8_t> raw(buffer, buffer + length);
    std::vector<uint8_t> digits;
    for (size_t i = 0; i + 1 < raw.size(); ++i) {
      if (auto d = DecodeLineByte(raw[i])) digits.push_back(*d);
    }
    const int post = workerAddress - 32;
    {
      std::lock_guard lock(self->mu_);
      self->lastRaw_ = raw;
      self->messages_.push_back({post, digits});
    }
    self->cv_.notify_all();
  }

  Simulator& sim_;
  Vu30Dispatcher* dispatcher_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Message> messages_;
  std::vector<uint8_t> lastRaw_;
  std::map<std::thread::id, Check> lastCheck_;
};

}  // namespace vu30::sim::testing
