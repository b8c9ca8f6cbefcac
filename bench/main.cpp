// SPDX-License-Identifier: MIT
// The benchmarks' own main: runs them, then prints one table of every figure
// beside its baseline and goal.
//   vu30_bench [--table=PATH] [--idle-seconds=N] [--sales=N] [--baseline-against-itself]
//              [--trace-mb=N] [--trace-set-dir=DIR] [benchmark flags]
// --trace-mb: the size of the trace set vu30-trace is measured on; with
// --trace-set-dir the set is recorded there and kept.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "instant_host.h"
#include "result_table.h"

namespace vu30::bench {
int& IdleSeconds();
int& SalesToMeasure() {
  static int sales = 3;
  return sales;
}
int& TraceSetMegabytes();
std::string& TraceSetDir();
// The process that measures one run of vu30-trace's speed (started by the
// benchmark itself, with this flag first).
int MeasureMain(int argc, char** argv);
bool& BaselineAgainstItself() {
  static bool itself = false;
  return itself;
}
}  // namespace vu30::bench

namespace {

std::string Heading() {
  rlimit limit{};
  getrlimit(RLIMIT_NICE, &limit);
  const std::string rlim =
      limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur);
  char host[64] = "?";
  gethostname(host, sizeof host);
  return "vu30 benchmarks: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, uid " +
         std::to_string(getuid()) + ", RLIMIT_NICE " + rlim;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--vu30-measure") == 0) {
    return vu30::bench::MeasureMain(argc, argv);
  }
  // One malloc arena, so that mallinfo2 sees what every thread allocates.
  mallopt(M_ARENA_MAX, 1);

  std::string tablePath;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--table=", 0) == 0) {
      tablePath = arg.substr(8);
    } else if (arg.rfind("--idle-seconds=", 0) == 0) {
      vu30::bench::IdleSeconds() = std::max(1, std::atoi(arg.c_str() + 15));
    } else if (arg.rfind("--trace-mb=", 0) == 0) {
      vu30::bench::TraceSetMegabytes() = std::max(1, std::atoi(arg.c_str() + 11));
    } else if (arg.rfind("--trace-set-dir=", 0) == 0) {
      vu30::bench::TraceSetDir() = arg.substr(16);
    } else if (arg == "--baseline-against-itself") {
      vu30::bench::BaselineAgainstItself() = true;
    } else if (arg.rfind("--sales=", 0) == 0) {
      vu30::bench::SalesToMeasure() = std::max(1, std::atoi(arg.c_str() + 8));
    } else {
      rest.push_back(argv[i]);
    }
  }

  // A Windows directory of the run's own, whose cnf.INI makes ports 1..29
  // "ER3/2": opening them makes no state request and its 30 ms pause (post
  // 30 always has the default type, and still makes it).
  char pattern[] = "/tmp/vu30-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr || setenv("WINDIR", pattern, 1) != 0) {
    std::perror("vu30_bench: temporary Windows directory");
    return 2;
  }
  {
    std::ofstream ini(std::filesystem::path(pattern) / "cnf.INI");
    ini << "[COMTypeTRK]\n";
    for (int port = 1; port < 30; ++port) ini << "COM_" << port << "_TYPE=2\n";
    if (!ini) {
      std::perror("vu30_bench: cnf.INI");
      return 2;
    }
  }

  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);

  if (tablePath.empty()) {
    std::printf("\n");
    vu30::bench::PrintResults(stdout, Heading());
  } else {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(tablePath.c_str(), "w"),
                                                        &std::fclose);
    if (!out) {
      std::perror("vu30_bench: table file");
      return 2;
    }
    vu30::bench::PrintResults(out.get(), Heading());
  }
  return 0;
}
