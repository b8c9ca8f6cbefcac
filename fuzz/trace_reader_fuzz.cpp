// SPDX-License-Identifier: MIT
// The trace reader and the views of vu30-trace on arbitrary files. Input: the
// file's bytes; or, when the first byte b is not '{', a text whose first line
// is read once and whose further lines are read 2^(b mod 16) times over, so
// that a small input makes a trace of up to 1 MiB.
//
// What must hold: the reader either refuses the file with a TraceError that
// names a line of the file, or gives records that each name their own line
// and keep no more bytes than the trace keeps; every record then puts into
// words, a summary and a page without failing. Run under -rss_limit_mb, the
// reader and the views hold memory that does not grow with the trace.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "fuzz_support.h"
#include "page.h"
#include "report.h"

namespace {

using namespace vu30::trace;

constexpr std::size_t kMaxTraceBytes = 1 << 20;

// The head once, then the body so many times.
class RepeatSource : public ByteSource {
 public:
  RepeatSource(std::string_view head, std::string_view body, std::size_t times)
      : head_(head), body_(body), times_(times) {}
  std::size_t Read(char* to, std::size_t size) override {
    if (head_.empty() && !body_.empty() && times_ > 0 && left_.empty()) {
      left_ = body_;
      --times_;
    }
    std::string_view& from = head_.empty() ? left_ : head_;
    const std::size_t n = std::min(size, from.size());
    if (n > 0) std::memcpy(to, from.data(), n);
    from.remove_prefix(n);
    return n;
  }

 private:
  std::string_view head_;
  std::string_view body_;
  std::size_t times_;
  std::string_view left_;
};

// Output nobody reads.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t times = 1;
  if (!text.empty() && text[0] != '{') {
    times = std::size_t{1} << (data[0] % 16);
    text.remove_prefix(1);
  }
  const std::size_t newline = text.find('\n');
  const std::string_view head = text.substr(0, newline == text.npos ? text.size() : newline + 1);
  const std::string_view body = text.substr(head.size());
  if (!body.empty()) times = std::min(times, kMaxTraceBytes / body.size());
  const std::size_t lines =
      1 + std::count(head.begin(), head.end(), '\n') +
      times * static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));

  try {
    RepeatSource source(head, body, times);
    TraceReader reader(source);
    std::size_t previous = 1;
    for (TraceItem item; reader.Next(item);) {
      const std::size_t line =
          item.kind == TraceItem::Kind::Record ? item.record.line : item.dropped.line;
      vu30::fuzz::Require(line > previous && line <= lines, "an item names a wrong line");
      if (item.kind == TraceItem::Kind::Record) {
        vu30::fuzz::Require(
            item.record.request.size() <= kKeptBytes && item.record.reply.size() <= kKeptBytes,
            "a record keeps more bytes than a trace holds");
      }
      previous = line;
    }
  } catch (const TraceError& e) {
    vu30::fuzz::Require(e.Line() >= 1 && e.Line() <= lines, "an error names no line of the file");
    return 0;
  }
  Discard discard;
  std::ostream out(&discard);
  if (times == 1) {
    // The timeline explains as the summary does: on long traces, the summary alone.
    RepeatSource source(head, body, times);
    TraceReader reader(source);
    WriteTimeline(out, reader, {});
  }
  {
    RepeatSource source(head, body, times);
    TraceReader reader(source);
    WriteSummary(out, reader);
  }
  {
    RepeatSource source(head, body, times);
    TraceReader reader(source);
    WriteHtml(out, reader, {}, "fuzz");
  }
  return 0;
}
