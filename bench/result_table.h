/* SPDX-License-Identifier: MIT */
// The figures the benchmarks measured, each beside its baseline and goal,
// printed as one table at the end of a run.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vu30::bench {

struct ResultRow {
  std::string item;          // what was measured, with its unit
  double figure = 0;         // the driver's figure
  double baseline = NAN;     // the baseline's figure; NaN where there is none
  std::string baselineName;  // what the baseline is
  std::string goal;          // the goal, in words
  bool met = true;           // whether the goal was met
};

// Rows are added by the benchmarks as they finish; one thread at a time.
void AddResult(ResultRow row);
// Prints every row added so far as a Markdown table.
void PrintResults(std::FILE* out, const std::string& heading);

// The p-th percentile (0..100) of samples, by nearest rank; NaN when empty.
double Percentile(std::vector<double> samples, double p);

}  // namespace vu30::bench
