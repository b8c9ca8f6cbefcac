// SPDX-License-Identifier: MIT
#include "result_table.h"

#include <algorithm>
#include <mutex>

namespace vu30::bench {
namespace {

std::mutex& RowsMutex() {
  static std::mutex mu;
  return mu;
}
std::vector<ResultRow>& Rows() {
  static std::vector<ResultRow> rows;
  return rows;
}

std::string Number(double x) {
  if (std::isnan(x)) return "—";
  char text[32];
  const double magnitude = std::fabs(x);
  std::snprintf(text, sizeof text,
                magnitude >= 100  ? "%.0f"
                : magnitude >= 10 ? "%.1f"
                                  : "%.2f",
                x);
  return text;
}

}  // namespace

void AddResult(ResultRow row) {
  std::lock_guard lock(RowsMutex());
  Rows().push_back(std::move(row));
}

void PrintResults(std::FILE* out, const std::string& heading) {
  std::lock_guard lock(RowsMutex());
  std::fprintf(out, "%s\n\n", heading.c_str());
  std::fprintf(out, "| figure | driver | baseline | ratio | goal | met |\n");
  std::fprintf(out, "|---|---:|---:|---:|---|---|\n");
  for (const ResultRow& r : Rows()) {
    const bool hasBaseline = !std::isnan(r.baseline);
    const std::string baseline =
        hasBaseline
            ? Number(r.baseline) + (r.baselineName.empty() ? "" : " (" + r.baselineName + ")")
            : "—";
    std::string ratio = "—";
    if (hasBaseline && r.baseline != 0) {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f×", r.figure / r.baseline);
      ratio = text;
    }
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", r.item.c_str(), Number(r.figure).c_str(),
                 baseline.c_str(), ratio.c_str(), r.goal.c_str(), r.met ? "yes" : "**no**");
  }
  std::fflush(out);
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return NAN;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

}  // namespace vu30::bench
