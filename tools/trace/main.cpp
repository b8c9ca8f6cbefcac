// SPDX-License-Identifier: MIT
// vu30-trace: explains a trace file written by the tracing dispatcher.
//   vu30-trace show FILE... [--post N] [--from T] [--to T] [--failures]
//   vu30-trace summary FILE...
//   vu30-trace html FILE... [--post N] [--from T] [--to T] -o REPORT.html
// Several files are one trace's rotated files (FILE FILE.1 FILE.2 .., in any
// order: each file's header names its trace and its place). Times T are seconds since the trace was
// opened (e.g. 12.5, or 1500ms, 30us); an option's value may follow it or be joined with '='
// (--from=12.5). Exit status: 0 done, 1 the output could not be written, 2 bad arguments or a file
// that is not a readable trace.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "page.h"
#include "report.h"

namespace {

using namespace vu30::trace;

constexpr const char* kUsage =
    "usage: vu30-trace show FILE... [--post N] [--from T] [--to T] [--failures]\n"
    "       vu30-trace summary FILE...\n"
    "       vu30-trace html FILE... [--post N] [--from T] [--to T] -o REPORT.html\n"
    "FILE...: a trace, or its rotated files in any order (FILE*)\n"
    "T: seconds since the trace was opened (12.5, 1500ms, 30us)\n";

int Usage(const std::string& problem) {
  std::cerr << "vu30-trace: " << problem << '\n' << kUsage;
  return 2;
}

std::string Why(int error) { return error != 0 ? ": " + std::string(std::strerror(error)) : ""; }

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

// Whether writing to output would destroy the trace at input.
bool SameFile(const std::string& input, const std::string& output) {
  std::error_code ec;
  return std::filesystem::equivalent(input, output, ec) && !ec;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.size() < 2) return Usage("a command and a trace file are needed");
  const std::string& command = args[0];
  std::vector<std::string> files;
  if (command != "show" && command != "summary" && command != "html") {
    return Usage("unknown command " + command);
  }
  ShowFilter filter;
  std::string output;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string option = args[i];
    if (!option.starts_with("-")) {
      files.push_back(option);
      continue;
    }
    std::optional<std::string> value;
    if (const auto eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
      value = option.substr(eq + 1);
      option.resize(eq);
    }
    if (command == "show" && option == "--failures" && !value) {
      filter.failuresOnly = true;
      continue;
    }
    if (!value) {
      if (i + 1 >= args.size()) return Usage(option + " needs a value");
      value = args[++i];
    }
    const bool filtering = command == "show" || command == "html";
    if (filtering && option == "--post") {
      int post = 0;
      const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), post);
      if (ec != std::errc() || end != value->data() + value->size() || post < 0 || post > 255) {
        return Usage("--post takes a post number");
      }
      filter.post = post;
    } else if (filtering && (option == "--from" || option == "--to")) {
      const auto t = ParseTime(*value);
      if (!t) return Usage(option + " takes a time, e.g. 12.5 or 1500ms");
      (option == "--from" ? filter.fromUs : filter.toUs) = t;
    } else if (command == "html" && option == "-o") {
      output = *value;
    } else {
      return Usage("unknown option " + option + " for " + command);
    }
  }
  if (files.empty()) return Usage("a trace file is needed");
  if (command == "html" && output.empty()) return Usage("html needs -o REPORT.html");
  for (const std::string& file : files) {
    if (command == "html" && SameFile(file, output)) {
      return Usage("the report " + output + " would overwrite the trace " + file);
    }
  }

  std::optional<TraceFiles> reader;
  try {
    reader.emplace(files);
    if (command == "show") {
      WriteTimeline(std::cout, *reader, filter);
    } else if (command == "summary") {
      WriteSummary(std::cout, *reader);
    } else {
      // The page is made whole before the report is opened: a bad trace
      // leaves an earlier report as it was.
      std::ostringstream page;
      WriteHtml(page, *reader, filter, files.back());
      errno = 0;
      std::ofstream out(output, std::ios::binary | std::ios::trunc);
      if (out) out << page.view();
      out.close();
      if (!out) {
        std::cerr << "vu30-trace: cannot write " << output << Why(errno) << '\n';
        return 1;
      }
    }
  } catch (const TraceError& e) {
    std::cout.flush();
    std::cerr << "vu30-trace: " << (reader ? reader->Path() : files.front()) << ": " << e.what()
              << '\n';
    return 2;
  }
  // A write that failed on the way stopped the view, and its errno says why.
  if (std::cout) {
    errno = 0;
    std::cout.flush();
  }
  if (!std::cout) {
    std::cerr << "vu30-trace: cannot write the output" << Why(errno) << '\n';
    return 1;
  }
  return 0;
}
