// The three views of vu30-trace: the timeline, the summary and the HTML page.
#pragma once

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
};

// One exchange a line: time in seconds, post, what happened.
void WriteTimeline(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges,
                   const ShowFilter& filter);
// Per post: exchanges by kind, failures by cause, message→answer p50/p99;
// for the whole trace: records and dropped records.
void WriteSummary(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges);
// One self-contained page: a lane per post on a time axis, a mark per
// exchange coloured by outcome, the decoded detail on hover. No network.
void WriteHtml(std::ostream& out, const Trace& trace, const std::vector<Exchange>& exchanges,
               const std::string& title);

// The p-th percentile (0..100) of samples by nearest rank; NaN when empty.
double Percentile(std::vector<double> samples, double p);

}  // namespace vu30::trace
