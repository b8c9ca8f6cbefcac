// SPDX-License-Identifier: MIT
#include "report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace vu30::trace {
namespace {

constexpr double kBucketStep = 1.001;
constexpr double kLowestUs = 0.01;
constexpr double kHighestUs = 100e6;
const std::size_t kBuckets =
    static_cast<std::size_t>(std::ceil(std::log(kHighestUs / kLowestUs) / std::log(kBucketStep)));

// Beyond this many causes of failure on a post, the rest are counted together.
constexpr std::size_t kCausesPerPost = 64;

std::string Format(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// Counts by a name, few to a post: looked up in place, by the name's length
// first, and put in the names' order only when written.
class Counts {
 public:
  void Add(std::string_view key) {
    uint64_t* n = Find(key);
    if (n == nullptr) {
      const std::string_view name =
          items_.size() < kCausesPerPost ? std::string_view(key) : std::string_view("other causes");
      n = Find(name);
      if (n == nullptr) {
        items_.emplace_back(name, 0);
        n = &items_.back().second;
      }
    }
    ++*n;
  }
  bool empty() const { return items_.empty(); }
  std::vector<std::pair<std::string, uint64_t>> Sorted() const {
    auto sorted = items_;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  }

 private:
  uint64_t* Find(std::string_view key) {
    for (auto& [name, n] : items_) {
      if (name.size() == key.size() && name == key) return &n;
    }
    return nullptr;
  }
  std::vector<std::pair<std::string, uint64_t>> items_;
};

struct PostSummary {
  Counts exchanges;  // by kind
  Counts setup;      // by kind
  Counts failures;   // by cause
  uint64_t unknown = 0;
  uint64_t droppedRecords = 0;
  uint64_t droppedSpans = 0;
  AnswerTimes answers;
};

void WriteCounts(std::ostream& out, const char* what, const Counts& counts) {
  out << "  " << what << ':';
  if (counts.empty()) out << "  none";
  for (const auto& [key, n] : counts.Sorted()) out << "  " << key << ' ' << n;
  out << '\n';
}

}  // namespace

bool ShowFilter::Passes(const Exchange& e) const {
  if (post && e.post != *post && e.post != kAllPosts) return false;
  if (fromUs && e.t + e.dur < *fromUs) return false;
  if (toUs && e.t > *toUs) return false;
  if (failuresOnly && !e.IsFailure() && !e.dropped) return false;
  return true;
}

namespace {

// The time as SecondsText makes it, appended. Most times are read at once
// from the whole microseconds nearest to them: when the product's exact
// distance from those (fma rounds once) is clearly under a half, they are
// what to_chars rounds to; near a half, and for any other time, to_chars
// itself says.
void AppendSeconds(std::string& to, double us) {
  const double s = us / 1e6;
  char buf[64];
  std::size_t n = 0;
  const double whole = std::nearbyint(s * 1e6);
  if (s >= 0 && !std::signbit(s) && s < 1e9 && std::fabs(std::fma(s, 1e6, -whole)) < 0.49) {
    const auto v = static_cast<uint64_t>(whole);
    char* end = std::to_chars(buf, buf + 24, v / 1000000).ptr;
    *end++ = '.';
    uint64_t fraction = v % 1000000;
    for (int i = 5; i >= 0; --i, fraction /= 10) end[i] = static_cast<char>('0' + fraction % 10);
    n = static_cast<std::size_t>(end + 6 - buf);
  } else {
    // As "%12.6f" prints it (to_chars rounds the same way), without printf's
    // cost on every line of a timeline.
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, s, std::chars_format::fixed, 6);
    if (ec != std::errc()) {
      to += Format("%12.6f", s);
      return;
    }
    n = static_cast<std::size_t>(end - buf);
  }
  if (n < 12) to.append(12 - n, ' ');
  to.append(buf, n);
}

void AppendPost(std::string& to, int post) {
  if (post == kAllPosts) {
    to += "all posts";
    return;
  }
  char buf[16];
  to += "post ";
  to.append(buf, std::to_chars(buf, buf + sizeof buf, post).ptr);
}

}  // namespace

std::string SecondsText(double us) {
  std::string text;
  AppendSeconds(text, us);
  return text;
}

std::string PostText(int post) {
  return post == kAllPosts ? "all posts" : "post " + std::to_string(post);
}

void AnswerTimes::Add(double us) {
  if (buckets_.empty()) buckets_.assign(kBuckets, 0);
  const double v = std::clamp(us, kLowestUs, kHighestUs);
  const auto i = std::min(
      kBuckets - 1, static_cast<std::size_t>(std::log(v / kLowestUs) / std::log(kBucketStep)));
  if (buckets_[i] < UINT32_MAX) ++buckets_[i];
  min_ = count_ == 0 ? us : std::min(min_, us);
  max_ = count_ == 0 ? us : std::max(max_, us);
  ++count_;
}

double AnswerTimes::Percentile(double p) const {
  if (count_ == 0) return NAN;
  const auto rank = std::clamp<uint64_t>(
      static_cast<uint64_t>(std::ceil(p / 100.0 * static_cast<double>(count_))), 1, count_);
  if (rank == 1) return min_;
  if (rank == count_) return max_;
  uint64_t seen = 0;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    seen += buckets_[i];
    if (seen >= rank) {
      const double mid = kLowestUs * std::pow(kBucketStep, static_cast<double>(i) + 0.5);
      return std::clamp(mid, min_, max_);
    }
  }
  return max_;
}

std::vector<std::string> TraceNotes(const TraceInput& reader, const Explainer& explainer) {
  std::vector<std::string> notes = reader.Notes();
  if (reader.Dropped() > 0) {
    notes.push_back(std::to_string(reader.Dropped()) +
                    " records were dropped; an exchange whose end may be among them is "
                    "marked unknown");
  }
  if (explainer.LateRecords() > 0) {
    notes.push_back(std::to_string(explainer.LateRecords()) +
                    " records came more than a second after their time; they are shown where "
                    "they came");
  }
  if (!reader.Closed() && reader.Notes().empty()) notes.push_back("the trace was not closed");
  return notes;
}

void WriteBlock(std::ostream& out, std::string& block) {
  out.write(block.data(), static_cast<std::streamsize>(block.size()));
  block.clear();
}

void WriteTimeline(std::ostream& out, TraceInput& reader, const ShowFilter& filter) {
  Explainer explainer(reader, false, !filter.failuresOnly);
  // Those lines made before a reading that fails are written before it is
  // told.
  std::string lines;
  try {
    for (const Exchange* next; (next = explainer.Next()) != nullptr && out;) {
      const Exchange& e = *next;
      if (!filter.Passes(e)) continue;
      AppendSeconds(lines, e.t);
      lines += "  ";
      AppendPost(lines, e.post);
      lines += ' ';
      lines += e.text;
      lines += '\n';
      WriteIfFull(out, lines);
    }
  } catch (...) {
    WriteBlock(out, lines);
    throw;
  }
  WriteBlock(out, lines);
  for (const std::string& note : TraceNotes(reader, explainer)) out << "note: " << note << '\n';
}

void WriteSummary(std::ostream& out, TraceInput& reader) {
  out << "trace of library " << reader.Library() << ", started " << reader.Start() << '\n';
  out << "failures (time, post, line):\n";
  Explainer explainer(reader, false, false);
  std::map<int, PostSummary> posts;
  // The posts a line can name (a message's may be below 0), found at once
  // rather than through the map, whose entries stay where they are.
  constexpr int kLeastPost = -32;
  std::array<PostSummary*, 256 - kLeastPost> byPost{};
  const auto find = [&](int post) -> PostSummary& {
    if (post < kLeastPost || post >= 256) return posts[post];
    PostSummary*& p = byPost[static_cast<std::size_t>(post - kLeastPost)];
    if (p == nullptr) p = &posts[post];
    return *p;
  };
  uint64_t failures = 0;
  for (const Exchange* next; (next = explainer.Next()) != nullptr && out;) {
    const Exchange& e = *next;
    PostSummary& p = find(e.post);
    if (e.dropped) {
      ++p.droppedSpans;
      p.droppedRecords += e.droppedCount;
      continue;
    }
    (e.outcome == Outcome::Setup ? p.setup : p.exchanges).Add(e.kind);
    if (e.outcome == Outcome::Unknown) ++p.unknown;
    if (e.answerUs) p.answers.Add(*e.answerUs);
    if (!e.IsFailure()) continue;
    p.failures.Add(e.cause);
    ++failures;
    out << SecondsText(e.t) << "  " << PostText(e.post) << "  line "
        << (e.lines.empty() ? 0 : e.lines.front()) << "  " << e.text << '\n';
  }
  if (failures == 0) out << "  none\n";
  for (const auto& [post, s] : posts) {
    out << '\n' << PostText(post) << '\n';
    if (!s.exchanges.empty() || !s.setup.empty()) {
      WriteCounts(out, "exchanges", s.exchanges);
      if (!s.setup.empty()) WriteCounts(out, "set-up", s.setup);
      WriteCounts(out, "failures", s.failures);
    }
    if (s.unknown > 0) {
      out << "  unknown: " << s.unknown << " (their end is not in the trace)\n";
    }
    if (s.droppedSpans > 0) {
      out << "  dropped: " << s.droppedRecords << " records in " << s.droppedSpans
          << (s.droppedSpans == 1 ? " span\n" : " spans\n");
    }
    const uint64_t n = s.answers.Count();
    if (n > 0) {
      // A 99th percentile of fewer than 100 answers would be the greatest.
      out << "  message→answer: " << n << " answered, p50 "
          << Format("%.1f", s.answers.Percentile(50)) << " µs, "
          << (n >= 100 ? "p99 " + Format("%.1f", s.answers.Percentile(99))
                       : "max " + Format("%.1f", s.answers.Max()))
          << " µs\n";
    }
  }
  out << "\nin all: " << reader.Records() << " records, " << reader.Dropped() << " dropped\n";
  for (const std::string& note : TraceNotes(reader, explainer)) out << "note: " << note << '\n';
}

}  // namespace vu30::trace
