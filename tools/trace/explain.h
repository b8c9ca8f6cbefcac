// What a trace's records mean in the system's own terms: each exchange of the
// driver with a dispenser becomes one timeline entry ("post 3 SetPrice nozzle
// 2 41.30 → acknowledged"), with a dispenser's message and the worker's
// answer to it joined in one entry.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "trace_reader.h"

namespace vu30::trace {

enum class Outcome {
  Good,      // acknowledged, answered, figures read
  Rejected,  // the reply check refused the reply
  Failed,    // the exchange was not made (a result other than 0), or no answer came
  Fault,     // the dispatcher raised
  Refused,   // the worker refused a dose
  Ignored,   // the driver dropped a message
  Setup,     // registrations and channel set-up
};

const char* OutcomeName(Outcome o);

struct Exchange {
  double t = 0;  // microseconds since the trace was opened
  double dur = 0;
  int post = 0;
  std::string kind;  // what it was, e.g. "SetPrice", "price request"
  std::string text;  // the timeline's words, without time and post
  Outcome outcome = Outcome::Good;
  std::string cause;               // why it failed, for failures
  std::optional<double> answerUs;  // a message: the time to the worker's answer
  std::string detail;              // the bytes, decoded
  std::vector<std::size_t> lines;  // the records it was made of
};

// The exchanges of a trace, in time order.
std::vector<Exchange> Explain(const Trace& trace);

// The digits of line-coded bytes as text: "2 1 4 1 3 0"; a byte that is not
// a line code is shown as [0x6b].
std::string DecodeBytes(std::span<const uint8_t> bytes);

// Per post, what a trace holds.
struct PostSummary {
  std::map<std::string, int> byKind;
  std::map<std::string, int> failures;  // by cause
  std::vector<double> answerUs;
};
std::map<int, PostSummary> Summarize(const std::vector<Exchange>& exchanges);

}  // namespace vu30::trace
