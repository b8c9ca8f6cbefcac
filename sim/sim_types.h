/* SPDX-License-Identifier: MIT */
// What a forecourt of simulated dispensers is made of and reports: its
// options, a post's set-up, where a post's sale stands, a completed sale and
// the faults that can be injected.
#pragma once

#include <chrono>
#include <cstdint>

namespace vu30::sim {

inline constexpr int kPostCount = 30;
inline constexpr int kNozzleCount = 8;

// Transact results other than 0.
inline constexpr int32_t kResultNoReply = 0xE0;       // the dispenser did not answer
inline constexpr int32_t kResultLineFault = 0xE1;     // the frame was lost on the line
inline constexpr int32_t kResultBadArguments = 0xE2;  // the call itself was malformed

// Faults that can be injected.
enum class Fault : unsigned {
  WrongLength = 1u << 0,    // fewer bytes received than expected (command acted on)
  MalformedByte = 1u << 1,  // a reply byte damaged on the line (command acted on)
  FailedResult = 1u << 2,   // Transact returns kResultLineFault (frame not received)
  Exception = 1u << 3,      // Transact throws std::runtime_error (frame not received)
  LostMessage = 1u << 4,    // an unsolicited message never reaches the hook
};
inline constexpr unsigned kAllFaults = 0x1F;
inline constexpr int kFaultKinds = 5;

struct SimOptions {
  // Line speed in baud; 0 makes every frame instant. Each byte takes 10 bit times.
  int baud = 1200;
  // A message that expects an answer is sent again after this long without one.
  std::chrono::milliseconds repeatTimeout{300};
  // Time from the start request to the dose request (the dispenser's reaction).
  std::chrono::milliseconds doseRequestDelay{200};
  // Lead every message with the uncoded address byte 0x20 + line address.
  bool addressByteInMessages = true;
  // Probability (0..1) that a frame or message is hit by a fault, and which faults.
  double faultRate = 0.0;
  uint64_t seed = 1;
  unsigned faultKinds = kAllFaults;
};

// The line settings a dispenser of a port type needs (1200 baud in the low
// 16 bits, the top byte by type): the word the driver hands ConfigureChannel
// when it opens a post. Types 1 and 3 share theirs.
inline constexpr uint32_t LineSettingsOfType(uint8_t portType) {
  if (portType == 1 || portType == 3) return 0x040004B0;
  if (portType == 2) return 0x050004B0;
  return 0x030004B0;
}

struct PostConfig {
  uint8_t portType = 0;            // 0 "ЕС-2000", 1 "FAS", 2 "ER3/2", 3 "ER112"
  uint8_t impulsesPerLitre = 100;  // running volume unit of types 1 and 3
  int nozzles = 4;                 // 1..8
  double flowRate = 20.0;          // litres per second
};

// Where a post's current sale stands.
enum class Phase {
  Idle,            // all nozzles hung up, nothing outstanding
  PriceRequested,  // nozzle lifted, price request outstanding
  AwaitingStart,   // price known, waiting for the start request
  DoseRequested,   // started, dose request outstanding
  Flowing,         // dose released, fuel flowing
  Reporting,       // flow ended, report outstanding
};

// A completed sale (amounts in hundredths).
struct Sale {
  int post = 0;
  int nozzle = 0;
  int64_t volume = 0;  // litres × 100
  int price = 0;       // money units per litre × 100
  int64_t money = 0;   // volume × price, rounded to the cent
  int64_t counterBefore = 0;
  int64_t counterAfter = 0;
  bool refused = false;  // the dose was refused: nothing dispensed
};

}  // namespace vu30::sim
