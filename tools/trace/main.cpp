// vu30-trace: explains a trace file written by the tracing dispatcher.
//   vu30-trace show FILE [--post N] [--from T] [--to T]
//   vu30-trace summary FILE
//   vu30-trace html FILE -o REPORT.html
// Times T are seconds since the trace was opened (e.g. 12.5, or 1500ms, 30us).
// Exit status: 0 done, 1 the report could not be written, 2 bad arguments or
// a file that is not a readable trace.
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"

namespace {

using namespace vu30::trace;

constexpr const char* kUsage =
    "usage: vu30-trace show FILE [--post N] [--from T] [--to T]\n"
    "       vu30-trace summary FILE\n"
    "       vu30-trace html FILE -o REPORT.html\n"
    "T: seconds since the trace was opened (12.5, 1500ms, 30us)\n";

int Usage(const std::string& problem) {
  std::cerr << "vu30-trace: " << problem << '\n' << kUsage;
  return 2;
}

// A time argument as microseconds.
std::optional<double> ParseTime(std::string_view s) {
  double scale = 1e6;
  if (s.ends_with("us")) {
    scale = 1;
    s.remove_suffix(2);
  } else if (s.ends_with("ms")) {
    scale = 1e3;
    s.remove_suffix(2);
  } else if (s.ends_with("s")) {
    s.remove_suffix(1);
  }
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v < 0) {
    return std::nullopt;
  }
  return v * scale;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.size() < 2) return Usage("a command and a trace file are needed");
  const std::string& command = args[0];
  const std::string& file = args[1];
  ShowFilter filter;
  std::string output;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) return Usage(option + " needs a value");
    const std::string& value = args[++i];
    if (command == "show" && option == "--post") {
      int post = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), post);
      if (ec != std::errc() || end != value.data() + value.size() || post < 0 || post > 255) {
        return Usage("--post takes a post number");
      }
      filter.post = post;
    } else if (command == "show" && (option == "--from" || option == "--to")) {
      const auto t = ParseTime(value);
      if (!t) return Usage(option + " takes a time, e.g. 12.5 or 1500ms");
      (option == "--from" ? filter.fromUs : filter.toUs) = t;
    } else if (command == "html" && option == "-o") {
      output = value;
    } else {
      return Usage("unknown option " + option + " for " + command);
    }
  }
  if (command != "show" && command != "summary" && command != "html") {
    return Usage("unknown command " + command);
  }
  if (command == "html" && output.empty()) return Usage("html needs -o REPORT.html");

  Trace trace;
  try {
    trace = ReadTraceFile(file);
  } catch (const TraceError& e) {
    std::cerr << "vu30-trace: " << file << ": " << e.what() << '\n';
    return 2;
  }
  const std::vector<Exchange> exchanges = Explain(trace);
  if (command == "show") {
    WriteTimeline(std::cout, trace, exchanges, filter);
  } else if (command == "summary") {
    WriteSummary(std::cout, trace, exchanges);
  } else {
    std::ofstream out(output, std::ios::binary);
    WriteHtml(out, trace, exchanges, file);
    out.close();
    if (!out) {
      std::cerr << "vu30-trace: cannot write " << output << '\n';
      return 1;
    }
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}
