/* SPDX-License-Identifier: MIT */
// Facts of the dispenser link that every layer above shares: the posts, the
// two kinds of address, the link status and error codes, and the frame
// buffer every exchange goes through.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "vu30.h"

namespace vu30::link {

// Posts are numbered 1..kPostCount; channel p is post p.
inline constexpr int kPostCount = 30;
// A worker's address is its post number plus this.
inline constexpr uint8_t kWorkerAddressOffset = 32;

// Link status of a post after an exchange; readers treat all but good as
// failed. The values and the reply check's errors are the host's (vu30.h).
inline constexpr uint8_t kLinkGood = VU30_LINK_GOOD;
inline constexpr uint8_t kLinkFailed = VU30_LINK_FAILED;
inline constexpr int32_t kErrReplyLength = VU30_ERR_REPLY_LENGTH;
inline constexpr int32_t kErrReplyFormat = VU30_ERR_REPLY_FORMAT;

// Every buffer handed to the dispatcher holds 256 bytes: the most a
// dispatcher can report in its 8-bit count, so that an overlong reply lands
// in the buffer and is rejected by its length instead of overrunning it.
inline constexpr std::size_t kFrameSize = 256;
using Frame = std::array<uint8_t, kFrameSize>;

// Channel ((address - 1) mod 32) + 1: the post number for both kinds of request.
constexpr uint8_t ChannelOf(uint8_t address) {
  return static_cast<uint8_t>((address - 1) % 32 + 1);
}
// Line address ((address - 1) mod 8) + 1 + 32 * ((address - 1) div 32).
constexpr uint8_t LineAddressOf(uint8_t address) {
  return static_cast<uint8_t>((address - 1) % 8 + 1 + 32 * ((address - 1) / 32));
}
// The channel-pair lock of a channel: (channel + 1) div 2, 1..15.
constexpr int LockOf(uint8_t channel) { return (channel + 1) / 2; }

}  // namespace vu30::link
