// SPDX-License-Identifier: MIT
// The reply check, its acceptances and rejections, and its reports
// to the dispatcher (made through HostDispatcher over the recording host).
#include <gtest/gtest.h>

#include <vector>

#include "link/host_dispatcher.h"
#include "link/request_link.h"
#include "support/recording_dispatcher.h"

namespace vu30::link {
namespace {

using test::DispatcherOp;
using test::RecordingDispatcher;

class CheckReplyTest : public ::testing::Test {
 protected:
  // Runs the check on bytes with count and expected; returns the buffer after it.
  bool Check(uint8_t channel, std::vector<uint8_t>& bytes, uint8_t& count, uint8_t expected) {
    return CheckReplyFrame(&dispatcher_, channel, bytes.data(), count, expected);
  }
  void ExpectReported(uint8_t channel, uint8_t status, int32_t error) {
    const auto calls = recorder_.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, DispatcherOp::SetChannelStatus);
    EXPECT_EQ(calls[0].channel, channel);
    EXPECT_EQ(calls[0].value, status);
    EXPECT_EQ(calls[1].op, DispatcherOp::SetChannelError);
    EXPECT_EQ(calls[1].channel, channel);
    EXPECT_EQ(calls[1].value, error);
    EXPECT_EQ(recorder_.Status(channel), status);
    EXPECT_EQ(recorder_.Error(channel), error);
  }

  RecordingDispatcher recorder_;
  HostDispatcher dispatcher_{recorder_.Host()};
};

TEST_F(CheckReplyTest, RemovesAMalformedLeadingByteAndDecodes) {
  std::vector<uint8_t> bytes{0x21, 0x59, 0x66, 0x00};
  uint8_t count = 4;
  EXPECT_TRUE(Check(7, bytes, count, 4));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bytes[0], 11);
  EXPECT_EQ(bytes[1], 5);
  EXPECT_EQ(bytes[2], 0);
  ExpectReported(7, kLinkGood, 0);
}

TEST_F(CheckReplyTest, DecodesAReplyWithoutLeadingByte) {
  std::vector<uint8_t> bytes{0x59, 0x66, 0x00};
  uint8_t count = 3;
  EXPECT_TRUE(Check(2, bytes, count, 3));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{11, 5, 0}));
  ExpectReported(2, kLinkGood, 0);
}

TEST_F(CheckReplyTest, AcceptsTheOneByteAcknowledgementWithCountZero) {
  std::vector<uint8_t> bytes{0x00};
  uint8_t count = 1;
  EXPECT_TRUE(Check(1, bytes, count, 1));
  EXPECT_EQ(count, 0);
  ExpectReported(1, kLinkGood, 0);
}

TEST_F(CheckReplyTest, RejectsAOneByteReplyOtherThanZero) {
  std::vector<uint8_t> bytes{0xAA};
  uint8_t count = 1;
  EXPECT_FALSE(Check(1, bytes, count, 1));
  EXPECT_EQ(bytes[0], 0xAA);
  ExpectReported(1, kLinkFailed, kErrReplyFormat);
}

// A count other than the awaited one, shorter, longer or zero, is a length
// error; nothing is decoded and the buffer is not read.
TEST_F(CheckReplyTest, ACountOtherThanTheAwaitedOneIsALengthError) {
  struct Case {
    uint8_t count, expected;
  };
  for (const Case c : {Case{3, 4}, Case{3, 2}, Case{0, 0}, Case{0, 4}}) {
    recorder_.ClearCalls();
    std::vector<uint8_t> bytes{0x59, 0x66, 0x00, 0xAA};
    uint8_t count = c.count;
    EXPECT_FALSE(Check(4, bytes, count, c.expected)) << int{c.count} << "/" << int{c.expected};
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x59, 0x66, 0x00, 0xAA}));
    ExpectReported(4, kLinkFailed, kErrReplyLength);
  }
}

TEST_F(CheckReplyTest, NoClosingZeroIsAFormatErrorAndNothingIsDecoded) {
  std::vector<uint8_t> bytes{0x59, 0x66, 0xAA};
  uint8_t count = 3;
  EXPECT_FALSE(Check(3, bytes, count, 3));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x59, 0x66, 0xAA}));
  ExpectReported(3, kLinkFailed, kErrReplyFormat);
}

TEST_F(CheckReplyTest, MalformedByteStopsDecodingThere) {
  std::vector<uint8_t> bytes{0x59, 0x6B, 0x00};
  uint8_t count = 3;
  EXPECT_FALSE(Check(5, bytes, count, 3));
  EXPECT_EQ(bytes[0], 11);    // decoded already
  EXPECT_EQ(bytes[1], 0x6B);  // left as received
  ExpectReported(5, kLinkFailed, kErrReplyFormat);
}

TEST_F(CheckReplyTest, BytesAfterAMalformedOneStayCoded) {
  std::vector<uint8_t> bytes{0x21, 0x59, 0xFF, 0x66, 0x00};
  uint8_t count = 5;
  EXPECT_FALSE(Check(5, bytes, count, 5));
  EXPECT_EQ(count, 4);  // the leading byte was removed first
  EXPECT_EQ(bytes[0], 11);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 0x66);
  ExpectReported(5, kLinkFailed, kErrReplyFormat);
}

TEST_F(CheckReplyTest, OnlyTheLeadingByteIsRemoved) {
  // The second byte is malformed too: it is not removed but rejected.
  std::vector<uint8_t> bytes{0x21, 0x21, 0x59, 0x00};
  uint8_t count = 4;
  EXPECT_FALSE(Check(5, bytes, count, 4));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bytes[0], 0x21);
  ExpectReported(5, kLinkFailed, kErrReplyFormat);
}

TEST_F(CheckReplyTest, MalformedLeadingByteBeforeTheClosingZeroOnly) {
  std::vector<uint8_t> bytes{0x21, 0x00};
  uint8_t count = 2;
  EXPECT_TRUE(Check(1, bytes, count, 2));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(bytes[0], 0);
  ExpectReported(1, kLinkGood, 0);
}

TEST_F(CheckReplyTest, ChannelZeroReportsNothingButDecodesAlike) {
  std::vector<uint8_t> good{0x21, 0x59, 0x66, 0x00};
  uint8_t count = 4;
  EXPECT_TRUE(Check(0, good, count, 4));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(good[0], 11);
  EXPECT_EQ(good[1], 5);

  std::vector<uint8_t> bad{0x59, 0x6B, 0x00};
  count = 3;
  EXPECT_FALSE(Check(0, bad, count, 3));
  EXPECT_EQ(bad[0], 11);

  std::vector<uint8_t> shortReply{0x59, 0x00};
  count = 2;
  EXPECT_FALSE(Check(0, shortReply, count, 3));
  EXPECT_TRUE(recorder_.Calls().empty());
}

TEST_F(CheckReplyTest, NoReportTargetReportsNothing) {
  std::vector<uint8_t> bytes{0x59, 0x6B, 0x00};
  uint8_t count = 3;
  EXPECT_FALSE(CheckReplyFrame(nullptr, 5, bytes.data(), count, 3));
  EXPECT_EQ(bytes[0], 11);
  EXPECT_TRUE(recorder_.Calls().empty());
}

TEST_F(CheckReplyTest, AChannelChecksThroughItsDispatcher) {
  Channel channel;
  channel.Attach(dispatcher_, 6, channel);
  std::vector<uint8_t> bytes{0x21, 0x59, 0x66, 0x00};
  uint8_t count = 4;
  uint8_t expected = 4;
  EXPECT_TRUE(channel.CheckReply(6, bytes.data(), 12345, count, expected));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(expected, 4);  // only read
  ExpectReported(6, kLinkGood, 0);
}

}  // namespace
}  // namespace vu30::link
