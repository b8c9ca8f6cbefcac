/* SPDX-License-Identifier: MIT */
// A trace set of a given size, recorded through the trace's own writer as a
// busy station's would be: 30 posts, each setting prices, starting pumps,
// polling and reading figures, with the dispensers' messages and the
// workers' answers, a few faults, rejected replies and unanswered messages,
// and a few records that reach the writer late. Records go to the writer
// directly, with times of their own, so that the set is made at the writer's
// speed rather than the line's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vu30::bench {

struct TraceSet {
  std::vector<std::string> files;  // oldest first
  uint64_t bytes = 0;              // of all files
  uint64_t records = 0;            // pushed to the writer
};

// Records about totalBytes into dir/station.trace, rotated at fileBytes (0:
// one file). An empty set when the writer cannot make the file.
TraceSet RecordTraceSet(const std::filesystem::path& dir, uint64_t totalBytes, uint64_t fileBytes);

}  // namespace vu30::bench
