// The dispenser's request commands and the replies they await: the first
// digit of every request, the reply length (closing zero included) and the
// kind of reply. Shared by the host's operations and the post workers.
#pragma once

#include <cstdint>

namespace vu30::driver::protocol {

// Commands (the request's first digit).
inline constexpr uint8_t kCmdStart = 0;
inline constexpr uint8_t kCmdAnswer = 1;  // a worker's price or dose answer
inline constexpr uint8_t kCmdSetPrice = 2;
inline constexpr uint8_t kCmdCounter = 3;
inline constexpr uint8_t kCmdFinal = 4;
inline constexpr uint8_t kCmdStop = 5;
inline constexpr uint8_t kCmdRunning = 8;
inline constexpr uint8_t kCmdAnswerNine = 9;  // the answer to message code 2
inline constexpr uint8_t kCmdState = 11;
// The state request's second digit: at post opening, and when the host asks.
inline constexpr uint8_t kStateAtOpening = 1;
inline constexpr uint8_t kStateQuery = 2;

// Replies: lengths with the closing zero, and their kinds.
inline constexpr uint8_t kAckLength = 1;  // the single byte 0
inline constexpr uint8_t kRunningReplyLength = 8;
inline constexpr uint8_t kFinalReplyLength = 15;
inline constexpr uint8_t kCounterReplyLength = 13;
inline constexpr uint8_t kStateReplyLength = 4;
inline constexpr uint8_t kRunningReplyType = 4;
inline constexpr uint8_t kFinalReplyType = 1;
inline constexpr uint8_t kCounterReplyType = 3;
inline constexpr uint8_t kStateReplyType = 11;

// A buffer that holds any request and then its reply.
inline constexpr int kBufferSize = 16;

}  // namespace vu30::driver::protocol
