/* SPDX-License-Identifier: MIT */
// The text views of vu30-trace: the timeline and the summary. Both stream:
// what they hold does not grow with the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "explain.h"

namespace vu30::trace {

struct ShowFilter {
  std::optional<int> post;
  std::optional<double> fromUs;
  std::optional<double> toUs;
  bool failuresOnly = false;  // failures and dropped spans

  bool Passes(const Exchange& e) const;
};

// One exchange a line: time in seconds, post, what happened; then notes.
void WriteTimeline(std::ostream& out, TraceInput& reader, const ShowFilter& filter);
// Each failure with its time and line; per post exchanges by kind (set-up
// apart), failures by cause, unknown exchanges, dropped records and
// message→answer p50 (p99 from 100 answers on); the totals and notes.
void WriteSummary(std::ostream& out, TraceInput& reader);
// The views' text is written a block at a time: a stream's insertions, one
// for each piece of tens of thousands of lines, cost more than the views'
// other work. WriteBlock writes the block and empties it; WriteIfFull does
// so once it holds a block's worth.
inline constexpr std::size_t kBlockBytes = 64 * 1024;
void WriteBlock(std::ostream& out, std::string& block);
inline void WriteIfFull(std::ostream& out, std::string& block) {
  if (block.size() >= kBlockBytes) WriteBlock(out, block);
}
// The notes on the trace as a whole, one a line, each after prefix.
std::vector<std::string> TraceNotes(const TraceInput& reader, const Explainer& explainer);

// Times in bounded memory: counted in buckets 0.1 % wide (from 0.01 µs to
// 100 s; beyond, in the last), the least and the greatest kept exactly.
class AnswerTimes {
 public:
  void Add(double us);
  uint64_t Count() const { return count_; }
  double Max() const { return max_; }
  // The p-th percentile (0..100) by nearest rank, to 0.1 %; NaN when empty.
  double Percentile(double p) const;

 private:
  std::vector<uint32_t> buckets_;  // allocated with the first time
  uint64_t count_ = 0;
  double min_ = 0;
  double max_ = 0;
};

// The time of an exchange as the views print it: seconds, six decimals.
std::string SecondsText(double us);
// "post 3", or "all posts".
std::string PostText(int post);

}  // namespace vu30::trace
