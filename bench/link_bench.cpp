// Benchmarks of the link layer. A worker's transaction (address post + 32)
// takes no lock and makes no pause, so its cost is the driver's own work:
// coding the request, the dispatcher call and the reply check.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "link/line_coding.h"
#include "link/message_router.h"
#include "link/request_link.h"

namespace {

using namespace vu30::link;

// A dispatcher that answers every request at once with a well-formed reply of
// the awaited length and checks it through the registered checker.
class InstantDispatcher final : public PortDispatcher {
 public:
  int32_t GetChannelError(uint8_t) override { return error_; }
  void SetChannelError(uint8_t, int32_t code) override { error_ = code; }
  void SetChannelStatus(uint8_t, uint8_t status) override { status_ = status; }
  uint8_t GetChannelStatus(uint8_t) override { return status_; }
  int32_t ConfigureChannel(uint8_t, int32_t, uint32_t) override { return 0; }
  int32_t Transact(uint8_t channel, uint8_t, const uint8_t*, uint8_t, uint8_t* reply,
                   uint8_t replyLength, uint8_t) override {
    if (replyLength == 0 || reply == nullptr) return 0;
    for (int i = 0; i + 1 < replyLength; ++i) reply[i] = EncodeDigit(static_cast<uint8_t>(i % 10));
    reply[replyLength - 1] = 0;
    uint8_t count = replyLength;
    checker_->CheckReply(channel, reply, 0, count, replyLength);
    return 0;
  }
  void SetReplyChecker(uint8_t, ReplyChecker& checker) override { checker_ = &checker; }
  void SetMessageHook(uint8_t, MessageHook&) override {}
  void SetPostInit(uint8_t, PostInitHandler&) override {}

 private:
  ReplyChecker* checker_ = nullptr;
  int32_t error_ = 0;
  uint8_t status_ = 0;
};

void BM_EncodeDecode(benchmark::State& state) {
  uint8_t digit = 0;
  for (auto _ : state) {
    const uint8_t byte = EncodeDigit(digit);
    benchmark::DoNotOptimize(IsValidLineByte(byte));
    benchmark::DoNotOptimize(DecodeLineByte(byte));
    digit = static_cast<uint8_t>((digit + 1) & 0x0F);
  }
}
BENCHMARK(BM_EncodeDecode);

void BM_CheckFinalFiguresReply(benchmark::State& state) {
  std::array<uint8_t, 15> coded{};
  for (int i = 0; i < 14; ++i) coded[i] = EncodeDigit(static_cast<uint8_t>(i % 10));
  std::array<uint8_t, 15> buffer{};
  for (auto _ : state) {
    buffer = coded;
    uint8_t count = 15;
    benchmark::DoNotOptimize(CheckReplyFrame(nullptr, 0, buffer.data(), count, 15));
  }
}
BENCHMARK(BM_CheckFinalFiguresReply);

void BM_WorkerTransaction(benchmark::State& state) {
  InstantDispatcher dispatcher;
  RequestLink link(dispatcher);
  Channel channel;
  channel.Attach(dispatcher, 1, channel);
  for (auto _ : state) {
    Frame request{1, 0, 0, 2, 5, 5, 0, 4, 1, 3, 0};
    benchmark::DoNotOptimize(link.SendRequest(channel, Origin::Worker, &request, 11, 1, 0));
  }
}
BENCHMARK(BM_WorkerTransaction);

class CountingSlot final : public MessageSlot {
 public:
  void Deliver(const uint8_t* message, int32_t length) override {
    std::memcpy(copy_.data(), message, static_cast<size_t>(length));
    ++delivered_;
  }
  int delivered_ = 0;

 private:
  std::array<uint8_t, kMessageCapacity> copy_{};
};

void BM_RouteDoseRequest(benchmark::State& state) {
  CountingSlot slot;
  MessageRouter router(
      [&slot](uint8_t post) -> MessageSlot* { return post == 1 ? &slot : nullptr; });
  const std::array<uint8_t, 5> message = {0x21, EncodeDigit(8), EncodeDigit(1), EncodeDigit(0), 0};
  for (auto _ : state) {
    auto buffer = message;
    router.RouteMessage(33, buffer.data(), 0, static_cast<uint8_t>(buffer.size()));
  }
  benchmark::DoNotOptimize(slot.delivered_);
}
BENCHMARK(BM_RouteDoseRequest);

}  // namespace
