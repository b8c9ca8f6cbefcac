// A port dispatcher for driver tests that plays the dispenser: it records
// every transaction with its request digits decoded, answers each with reply
// digits chosen by the test, and calls the driver's reply check as a real
// dispatcher does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "link/line_coding.h"
#include "link/port_dispatcher.h"

namespace vu30::test {

struct Frame {
  uint8_t channel = 0;
  uint8_t lineAddress = 0;
  std::vector<uint8_t> digits;  // decoded request digits
  uint8_t replyLength = 0;
  uint8_t replyType = 0;  // decoded; 0 when none
};

// What the dispenser does with one request.
struct Answer {
  std::vector<uint8_t> digits;  // reply digits from position 0; coded and closed by 0
  int32_t result = 0;           // Transact's result
  bool corrupt = false;         // send a malformed byte instead of the first digit
  bool raise = false;           // throw from Transact
  uint8_t statusAfter = 0;      // when set, the channel's status after the check, as
                                // another exchange on the channel would leave it
};

class ScriptedDispenser final : public link::PortDispatcher {
 public:
  int32_t GetChannelError(uint8_t channel) override {
    std::lock_guard lock(mutex_);
    return errors_[channel];
  }
  void SetChannelError(uint8_t channel, int32_t code) override {
    std::lock_guard lock(mutex_);
    errors_[channel] = code;
  }
  void SetChannelStatus(uint8_t channel, uint8_t status) override {
    std::lock_guard lock(mutex_);
    statuses_[channel] = status;
  }
  uint8_t GetChannelStatus(uint8_t channel) override {
    std::lock_guard lock(mutex_);
    return statuses_[channel];
  }
  int32_t ConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings) override {
    std::lock_guard lock(mutex_);
    configured_.push_back({post, mode, lineSettings});
    return 0;
  }
  int32_t Transact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                   uint8_t requestLength, uint8_t* reply, uint8_t replyLength,
                   uint8_t replyType) override {
    Frame frame{channel,
                lineAddress,
                {},
                replyLength,
                static_cast<uint8_t>(replyType ? link::DecodeLineByte(replyType) : 0)};
    for (int i = 0; i < requestLength; ++i)
      frame.digits.push_back(link::DecodeLineByte(request[i]));
    std::function<Answer(const Frame&)> chooser;
    {
      std::lock_guard lock(mutex_);
      chooser = answer_;
    }
    const Answer a = chooser(frame);
    {
      std::lock_guard lock(mutex_);
      frames_.push_back(frame);
    }
    changed_.notify_all();
    if (a.raise) throw std::runtime_error("line fault");
    if (a.result != 0) return a.result;
    if (replyLength > 0 && reply != nullptr) {
      std::vector<uint8_t> bytes;
      for (uint8_t d : a.digits) bytes.push_back(link::EncodeDigit(d));
      if (a.corrupt && !bytes.empty()) bytes[0] = 0x6B;
      bytes.push_back(0);
      auto count = static_cast<uint8_t>(bytes.size());
      // Like a real dispatcher, never more than the awaited length lands in the
      // buffer; a longer reply shows only in its count.
      for (size_t i = 0; i < bytes.size() && i < replyLength; ++i) reply[i] = bytes[i];
      link::ReplyChecker* checker = nullptr;
      {
        std::lock_guard lock(mutex_);
        checker = checkers_[channel];
      }
      if (checker != nullptr) checker->CheckReply(channel, reply, 0, count, replyLength);
    }
    if (a.statusAfter != 0) SetChannelStatus(channel, a.statusAfter);
    return 0;
  }
  void SetReplyChecker(uint8_t channel, link::ReplyChecker& checker) override {
    std::lock_guard lock(mutex_);
    checkers_[channel] = &checker;
  }
  void SetMessageHook(uint8_t post, link::MessageHook& hook) override {
    std::lock_guard lock(mutex_);
    hooks_[post] = &hook;
  }
  void SetPostInit(uint8_t post, link::PostInitHandler& handler) override {
    std::lock_guard lock(mutex_);
    inits_[post] = &handler;
  }

  // Sends a dispenser message through post's message hook, coded and closed
  // by a zero byte, under workerAddress (post + 32 unless given).
  void SendMessage(uint8_t post, const std::vector<uint8_t>& digits, uint8_t workerAddress = 0) {
    std::vector<uint8_t> bytes;
    for (uint8_t d : digits) bytes.push_back(link::EncodeDigit(d));
    bytes.push_back(0);
    link::MessageHook* hook = nullptr;
    {
      std::lock_guard lock(mutex_);
      hook = hooks_[post];
    }
    if (hook == nullptr) throw std::logic_error("no message hook for the post");
    if (workerAddress == 0) workerAddress = static_cast<uint8_t>(post + 32);
    hook->RouteMessage(workerAddress, bytes.data(), 0, static_cast<uint8_t>(bytes.size()));
  }

  // Waits until at least n frames have been recorded; false on time-out.
  bool WaitForFrames(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= n; });
  }
  std::vector<Frame> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  void ClearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
  }
  struct Configuration {
    uint8_t post;
    int32_t mode;
    uint32_t settings;
  };
  std::vector<Configuration> Configurations() {
    std::lock_guard lock(mutex_);
    return configured_;
  }
  bool HasPostInit(uint8_t post) {
    std::lock_guard lock(mutex_);
    return inits_[post] != nullptr;
  }
  void SetAnswer(std::function<Answer(const Frame&)> chooser) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(chooser);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  // Chooses the answer to a request; the default acknowledges with no digits.
  std::function<Answer(const Frame&)> answer_ = [](const Frame&) { return Answer{}; };
  std::vector<Frame> frames_;
  std::vector<Configuration> configured_;
  std::map<uint8_t, int32_t> errors_;
  std::map<uint8_t, uint8_t> statuses_;
  std::map<uint8_t, link::ReplyChecker*> checkers_;
  std::map<uint8_t, link::MessageHook*> hooks_;
  std::map<uint8_t, link::PostInitHandler*> inits_;
};

}  // namespace vu30::test
