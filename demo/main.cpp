// SPDX-License-Identifier: MIT
// vu30-demo: a fuel station host on simulated Trovelheim dispensers.
//
// Loads the driver library (libvu30.so, vu30.dll), hands it a simulated port dispatcher, opens
// several posts and sells fuel on all of them at once, then checks every sale: the volume the host
// read equals what the dispenser dispensed, the nozzle's counter grew by exactly that volume, and
// the money is volume x price to the cent. Exit status 0 when every sale agrees, 1 on a mismatch, 2
// on bad usage.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "station.h"
#include "terminal_view.h"

#ifndef VU30_DEMO_LIBRARY
#define VU30_DEMO_LIBRARY "libvu30.so"
#endif
#ifndef VU30_DEMO_TRACE_LIBRARY
#define VU30_DEMO_TRACE_LIBRARY "libvu30-trace.so"
#endif

namespace {

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vu30-demo [options]\n"
               "  --posts N        posts selling at once, 1..30 (default 4)\n"
               "  --sales N        sales per post, 1..1000 (default 3)\n"
               "  --baud B         line speed; 0 makes the line instant (default 1200)\n"
               "  --fault-rate R   share of frames and messages hit by a fault, 0..0.5 "
               "(default 0)\n"
               "  --seed S         seed of the fault injection (default 1)\n"
               "  --library PATH   driver library (default %s)\n"
               "  --trace FILE     record every exchange into FILE (vu30-trace explains it)\n"
               "  --help           this text\n",
               VU30_DEMO_LIBRARY);
}

bool ParseInt(const char* text, long min, long max, long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= min && value <= max;
}

}  // namespace

int main(int argc, char** argv) {
  vu30::demo::StationOptions options;
  options.library = VU30_DEMO_LIBRARY;
  options.traceLibrary = VU30_DEMO_TRACE_LIBRARY;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "vu30-demo: unknown option or missing value: %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
    const char* value = argv[++i];
    long n = 0;
    bool ok = true;
    if (arg == "--posts") {
      ok = ParseInt(value, 1, 30, n);
      options.posts = static_cast<int>(n);
    } else if (arg == "--sales") {
      ok = ParseInt(value, 1, 1000, n);
      options.sales = static_cast<int>(n);
    } else if (arg == "--baud") {
      ok = ParseInt(value, 0, 1000000, n);
      options.baud = static_cast<int>(n);
    } else if (arg == "--seed") {
      ok = ParseInt(value, 0, 2147483647L, n);
      options.seed = static_cast<uint64_t>(n);
    } else if (arg == "--fault-rate") {
      char* end = nullptr;
      const double r = std::strtod(value, &end);
      ok = end != value && *end == '\0' && std::isfinite(r) && r >= 0.0 && r <= 0.5;
      options.faultRate = r;
    } else if (arg == "--library") {
      options.library = value;
    } else if (arg == "--trace") {
      options.trace = value;
      ok = !options.trace.empty();
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "vu30-demo: bad option %s %s\n", arg.c_str(), value);
      Usage(stderr);
      return 2;
    }
  }

  try {
    std::printf("vu30 station demo: %d posts x %d sales, %s line, fault rate %.3f\n", options.posts,
                options.sales,
                options.baud ? (std::to_string(options.baud) + " baud").c_str() : "instant",
                options.faultRate);
    vu30::demo::TerminalView view(stdout, options.posts, options.sales);
    vu30::demo::Station station(options);
    const vu30::demo::StationResult result =
        station.Run([&view](const vu30::demo::PostView& v) { view.Update(v); });
    view.PrintSummary(result);
    if (!options.trace.empty()) std::printf("line trace: %s\n", options.trace.c_str());
    return result.Ok() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vu30-demo: %s\n", e.what());
    return 2;
  }
}
