// SPDX-License-Identifier: MIT
// Routing of the dispenser's own messages to the post workers.
#include "link/message_router.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <vector>

#include "link/host_dispatcher.h"
#include "support/recording_dispatcher.h"

namespace vu30::link {
namespace {

using test::RecordingDispatcher;

// A post worker's message slot that remembers what it was given.
class FakeSlot final : public MessageSlot {
 public:
  void Deliver(const uint8_t* message, int32_t length) override {
    ++deliveries;
    last.assign(message, message + length);
    if (throwOnDeliver) throw std::runtime_error("slot failed");
  }
  int deliveries = 0;
  std::vector<uint8_t> last;
  bool throwOnDeliver = false;
};

class MessageRouterTest : public ::testing::Test {
 protected:
  MessageRouterTest() {
    router_.SetSlot(1, &slots_[1]);
    router_.SetSlot(30, &slots_[30]);
  }

  // Routes bytes for the worker address; returns the buffer as left.
  std::vector<uint8_t> Route(uint8_t workerAddress, std::vector<uint8_t> bytes) {
    router_.RouteMessage(workerAddress, bytes.data(), 0, static_cast<uint8_t>(bytes.size()));
    return bytes;
  }

  std::map<uint8_t, FakeSlot> slots_;
  MessageRouter router_;
};

TEST_F(MessageRouterTest, DoseRequestWithLeadingAddressByteIsDelivered) {
  Route(33, {0x21, 0xA9, 0x6A, 0x9A, 0x00});
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_EQ(slots_[1].last, (std::vector<uint8_t>{8, 1, 2, 0}));
}

TEST_F(MessageRouterTest, TheSameMessageWithoutLeadingByteIsDeliveredAlike) {
  Route(33, {0xA9, 0x6A, 0x9A, 0x00});
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_EQ(slots_[1].last, (std::vector<uint8_t>{8, 1, 2, 0}));
}

TEST_F(MessageRouterTest, PostThirtyIsRoutedToo) {
  Route(62, {0x26, test::CodeDigit(0), test::CodeDigit(3), test::CodeDigit(4), 0x00});
  EXPECT_EQ(slots_[30].deliveries, 1);
  EXPECT_EQ(slots_[30].last, (std::vector<uint8_t>{0, 3, 4, 0}));
}

TEST_F(MessageRouterTest, ShortMessagesAreIgnored) {
  Route(33, {0x6A, 0x6A, 0x00});  // well formed, 3 bytes
  Route(33, {0x6A, 0x00});
  Route(33, {0x00});
  Route(33, {});
  EXPECT_EQ(slots_[1].deliveries, 0);
}

TEST_F(MessageRouterTest, ThreeDigitCodesNeedExactlyThreeDigits) {
  for (const uint8_t code : {uint8_t{0}, uint8_t{8}, uint8_t{9}}) {
    const auto c = test::CodeDigit(code);
    // Four digits: ignored.
    Route(33, {c, 0x6A, 0x9A, 0x5A, 0x00});
    // Two digits (a leading address byte makes it 4 received bytes): ignored.
    Route(33, {0x21, c, 0x6A, 0x00});
    EXPECT_EQ(slots_[1].deliveries, 0) << int{code};
    // Three digits: delivered.
    Route(33, {c, 0x6A, 0x9A, 0x00});
    EXPECT_EQ(slots_[1].deliveries, 1) << int{code};
    EXPECT_EQ(slots_[1].last, (std::vector<uint8_t>{code, 1, 2, 0}));
    slots_[1].deliveries = 0;
  }
}

TEST_F(MessageRouterTest, OtherCodesAreDeliveredAtAnyLength) {
  // Code 1 with four digits (five bytes): delivered.
  Route(33, {test::CodeDigit(1), 0x6A, 0x9A, 0x5A, 0x00});
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_EQ(slots_[1].last, (std::vector<uint8_t>{1, 1, 2, 3, 0}));
  // Code 2 with a long figure report.
  std::vector<uint8_t> report{0x21, test::CodeDigit(2)};
  for (int i = 0; i < 20; ++i) report.push_back(test::CodeDigit(static_cast<uint8_t>(i % 10)));
  report.push_back(0);
  Route(33, report);
  EXPECT_EQ(slots_[1].deliveries, 2);
  ASSERT_EQ(slots_[1].last.size(), 22u);
  EXPECT_EQ(slots_[1].last[0], 2);
  EXPECT_EQ(slots_[1].last[21], 0);
}

TEST_F(MessageRouterTest, MalformedMessagesAreIgnored) {
  Route(33, {0xA9, 0x6A, 0x9A, 0x9A});        // no closing zero
  Route(33, {0xA9, 0x6B, 0x9A, 0x00});        // malformed byte in the middle
  Route(33, {0x21, 0xA9, 0x21, 0x9A, 0x00});  // a second address byte
  EXPECT_EQ(slots_[1].deliveries, 0);
}

TEST_F(MessageRouterTest, UnknownWorkerAddressesAreIgnored) {
  const std::vector<uint8_t> message{0xA9, 0x6A, 0x9A, 0x00};
  for (const int address : {0, 1, 30, 31, 32, 63, 64, 255}) {
    const auto left = Route(static_cast<uint8_t>(address), message);
    EXPECT_EQ(left, message) << "not decoded for address " << address;
  }
  EXPECT_EQ(Route(34, message), message);  // post 2: not opened (no slot)
  EXPECT_EQ(slots_[1].deliveries, 0);
  EXPECT_EQ(slots_[30].deliveries, 0);
}

TEST_F(MessageRouterTest, MessagesLongerThanTheSlotAreIgnored) {
  // 100 bytes after the check fit; 101 do not.
  std::vector<uint8_t> fits(100, test::CodeDigit(1));
  fits.back() = 0;
  Route(33, fits);
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_EQ(slots_[1].last.size(), 100u);

  std::vector<uint8_t> fitsAfterRemoval(101, test::CodeDigit(1));
  fitsAfterRemoval.front() = 0x21;
  fitsAfterRemoval.back() = 0;
  Route(33, fitsAfterRemoval);
  EXPECT_EQ(slots_[1].deliveries, 2);
  EXPECT_EQ(slots_[1].last.size(), 100u);

  for (const std::size_t size : {101u, 200u, 255u}) {
    std::vector<uint8_t> tooLong(size, test::CodeDigit(1));
    tooLong.back() = 0;
    Route(33, tooLong);
  }
  EXPECT_EQ(slots_[1].deliveries, 2);
}

TEST_F(MessageRouterTest, NullBufferIsIgnored) {
  router_.RouteMessage(33, nullptr, 0, 10);
  EXPECT_EQ(slots_[1].deliveries, 0);
}

TEST_F(MessageRouterTest, ExceptionsDoNotEscape) {
  slots_[1].throwOnDeliver = true;
  EXPECT_NO_THROW(Route(33, {0xA9, 0x6A, 0x9A, 0x00}));
  EXPECT_EQ(slots_[1].deliveries, 1);
}

TEST_F(MessageRouterTest, RoutingThroughTheHostDispatcherReportsNothing) {
  // Registered as the post's message hook and called the way the host does.
  RecordingDispatcher recorder;
  HostDispatcher dispatcher(recorder.Host());
  dispatcher.SetMessageHook(1, router_);
  recorder.SetStatus(1, 1);
  recorder.ClearCalls();

  const auto left = recorder.DeliverMessage(1, {0x21, 0xA9, 0x6A, 0x9A, 0x00});
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_EQ(slots_[1].last, (std::vector<uint8_t>{8, 1, 2, 0}));
  EXPECT_EQ(left[0], 8);

  recorder.DeliverMessage(1, {0xA9, 0x6B, 0x9A, 0x00});  // rejected
  EXPECT_EQ(slots_[1].deliveries, 1);
  EXPECT_TRUE(recorder.Calls().empty());  // no status or error report
  EXPECT_EQ(recorder.Status(1), 1);
  EXPECT_EQ(recorder.Error(1), 0);
}

}  // namespace
}  // namespace vu30::link
