// The trace reader and the views of vu30-trace on arbitrary files. Input: the
// file's bytes.
//
// What must hold: the reader either refuses the file with a TraceError that
// names a line of the file, or gives records that each name their own line
// and keep no more bytes than the trace keeps; every record then puts into
// words, a summary and a page without failing.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "fuzz_support.h"
#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vu30::trace;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  Trace trace;
  try {
    trace = ParseTrace(text);
  } catch (const TraceError& e) {
    vu30::fuzz::Require(e.Line() >= 1 && e.Line() <= lines, "an error names no line of the file");
    return 0;
  }
  std::size_t previous = 1;
  for (const TraceRecord& r : trace.records) {
    vu30::fuzz::Require(r.line > previous && r.line <= lines, "a record names a wrong line");
    vu30::fuzz::Require(r.request.size() <= kKeptBytes && r.reply.size() <= kKeptBytes,
                        "a record keeps more bytes than a trace holds");
    previous = r.line;
  }
  const std::vector<Exchange> exchanges = Explain(trace);
  std::ostringstream out;
  WriteTimeline(out, trace, exchanges, {});
  WriteSummary(out, trace, exchanges);
  WriteHtml(out, trace, exchanges, "fuzz");
  return 0;
}
