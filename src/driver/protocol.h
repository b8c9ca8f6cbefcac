/* SPDX-License-Identifier: MIT */
// The dispenser's requests and the replies they await: the first digit of
// every request, its length, the reply length (closing zero included) and
// the kind of reply; and the codes of the dispenser's own messages. Shared
// by the host's operations and the post workers.
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

// A request's digit count, the length of the reply it awaits (closing zero
// included; 0: none) and the kind of that reply (0: an acknowledgement, the
// single byte 0, or none).
struct Request {
  uint8_t length;
  uint8_t replyLength;
  uint8_t replyType;
};
inline constexpr uint8_t kAckLength = 1;
inline constexpr Request kStart{1, kAckLength, 0};
inline constexpr Request kStop{1, kAckLength, 0};
inline constexpr Request kSetPrice{6, kAckLength, 0};  // command, nozzle index, 4 price digits
inline constexpr Request kRunning{1, 8, 4};
inline constexpr Request kFinal{1, 15, 1};
inline constexpr Request kCounter{2, 13, 3};          // command, nozzle index
inline constexpr Request kState{2, 4, 11};            // command, kStateAtOpening or kStateQuery
inline constexpr Request kAnswer{11, kAckLength, 0};  // command, 0, 5 dose digits, 4 price digits
inline constexpr Request kAnswerNine{1, kAckLength, 0};

// Positions of the fields in requests and replies.
inline constexpr int kPriceAt = 2;        // SetPrice
inline constexpr int kAnswerDoseAt = 2;   // a worker's answer
inline constexpr int kAnswerPriceAt = 7;  // a worker's answer
inline constexpr int kVolumeAt = 1;       // running and final replies
inline constexpr int kVolumeDigits = 5;
inline constexpr int kCounterAt = 1;  // counter reply
inline constexpr int kCounterDigits = 10;
inline constexpr int kCounterNozzleAt = 11;  // counter reply
inline constexpr int kStateDigitAt = 1;      // state reply
inline constexpr int kStateNozzleAt = 2;     // state reply

// The dispenser's own messages, by their code (the first digit).
inline constexpr uint8_t kMsgPriceRequest = 0;      // price asked; the post becomes idle
inline constexpr uint8_t kMsgReport = 1;            // end-of-dispense figures
inline constexpr uint8_t kMsgAskNine = 2;           // answered with the one digit 9
inline constexpr uint8_t kMsgDoseRequest = 8;       // dose asked for a nozzle
inline constexpr uint8_t kMsgPriceRequestKeep = 9;  // price asked; the state stays
inline constexpr int kMsgNozzleAt = 1;

}  // namespace vu30::driver::protocol
