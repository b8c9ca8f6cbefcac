// SPDX-License-Identifier: MIT
// The reply check on arbitrary received frames. Input: the expected count,
// the channel, then the received bytes.
//
// What must hold: an accepted frame is closed by a zero byte, every other
// byte is a digit that codes back to the received byte (after the removed
// leading byte, if any), and the channel is reported good; a rejected frame
// is reported failed with a length or format error; channel 0 reports
// nothing; nothing is written outside the received bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "link/request_link.h"

namespace {

using namespace vu30::link;

// A dispatcher that only records what the check reports.
class ReportingDispatcher final : public PortDispatcher {
 public:
  int32_t GetChannelError(uint8_t) override { return error; }
  void SetChannelError(uint8_t, int32_t code) override {
    error = code;
    ++reports;
  }
  void SetChannelStatus(uint8_t, uint8_t value) override {
    status = value;
    ++reports;
  }
  uint8_t GetChannelStatus(uint8_t) override { return status; }
  int32_t ConfigureChannel(uint8_t, int32_t, uint32_t) override { return 0; }
  int32_t Transact(uint8_t, uint8_t, const uint8_t*, uint8_t, uint8_t*, uint8_t, uint8_t) override {
    return 0;
  }
  void SetReplyChecker(uint8_t, ReplyChecker&) override {}
  void SetMessageHook(uint8_t, MessageHook&) override {}
  void SetPostInit(uint8_t, PostInitHandler&) override {}

  int32_t error = -1;
  uint8_t status = 0;
  int reports = 0;
};

// The glue: the one call into the library.
bool Check(ReportingDispatcher& dispatcher, uint8_t channel, uint8_t* buffer, uint8_t& count,
           uint8_t expected) {
  return CheckReplyFrame(&dispatcher, channel, buffer, count, expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 2 + 255) return 0;
  const uint8_t expected = data[0];
  const uint8_t channel = data[1];
  const std::vector<uint8_t> received(data + 2, data + size);
  // Exactly the received bytes, so that a write past them is caught.
  std::vector<uint8_t> buffer(received);
  auto count = static_cast<uint8_t>(buffer.size());

  ReportingDispatcher dispatcher;
  const bool accepted = Check(dispatcher, channel, buffer.data(), count, expected);

  if (channel == 0) vu30::fuzz::Require(dispatcher.reports == 0, "channel 0 reported");
  if (!accepted) {
    if (channel != 0) {
      vu30::fuzz::Require(dispatcher.status == kLinkFailed, "rejection not reported failed");
      vu30::fuzz::Require(
          dispatcher.error == kErrReplyLength || dispatcher.error == kErrReplyFormat,
          "rejection with an unknown error");
    }
    vu30::fuzz::Require(count == received.size() || count + 1 == received.size(),
                        "a rejected frame changed its count by more than one");
    return 0;
  }
  vu30::fuzz::Require(received.size() == expected, "accepted a frame of another length");
  if (channel != 0) {
    vu30::fuzz::Require(dispatcher.status == kLinkGood && dispatcher.error == 0,
                        "acceptance not reported good");
  }
  const size_t shift = received.size() - count;
  vu30::fuzz::Require(shift <= 1, "more than one leading byte removed");
  if (count == 0) {
    vu30::fuzz::Require(received.size() == 1 && received[0] == 0, "empty frame accepted");
    return 0;
  }
  vu30::fuzz::Require(buffer[count - 1] == 0, "accepted frame not closed by zero");
  for (size_t i = 0; i + 1 < count; ++i) {
    vu30::fuzz::Require(buffer[i] < 16, "a decoded byte is not a digit");
    vu30::fuzz::Require(vu30::fuzz::Encode(buffer[i]) == received[i + shift],
                        "a decoded digit does not code back to the received byte");
  }
  return 0;
}
