/* SPDX-License-Identifier: MIT */
// The page of vu30-trace: one self-contained HTML file (no network) with a
// lane per post on a time axis, a mark per exchange coloured by outcome, the
// decoded detail on hover, and the list of failures to step through. It
// draws at most a bounded number of exchanges and says so when it leaves
// some out.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "report.h"

namespace vu30::trace {

struct PageLimits {
  std::size_t marks = 50000;     // exchanges drawn, in time order
  std::size_t failures = 10000;  // failures drawn and listed beyond those
  std::size_t spans = 10000;     // dropped spans shaded
};

void WriteHtml(std::ostream& out, TraceInput& reader, const ShowFilter& filter,
               const std::string& title, const PageLimits& limits = {});

}  // namespace vu30::trace
