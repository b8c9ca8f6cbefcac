// SPDX-License-Identifier: MIT
// vu30-trace's speed on a day-like trace set recorded with the trace's own
// writer: each command (summary, show --failures, show, html) run as the
// technician runs it, beside same-run baselines over the same bytes: a plain
// read, a plain line split and, where simdjson is installed, an on-demand
// parse of every field of every line. Each figure is the median of rounds
// that alternate commands and baselines, in CPU time (user and system) of a
// process of its own, so that other load on the machine counts little; the
// table gives MB/s, records/s, the ratio to the parse (or the line split) and
// the peak memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "instant_host.h"
#include "result_table.h"
#include "trace_set.h"

#if defined(VU30_BENCH_SIMDJSON)
#include <simdjson.h>
#endif

extern char** environ;

namespace vu30::bench {

// The trace set's size in MB; main may change it. A dir given keeps the set.
int& TraceSetMegabytes() {
  static int mb = 256;
  return mb;
}
std::string& TraceSetDir() {
  static std::string dir;
  return dir;
}

namespace {

constexpr int kRounds = 3;
constexpr std::size_t kReadBytes = std::size_t{1} << 20;

double Seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

// Every file read through once; what is done with each block is up to each.
template <typename Block>
bool ReadAll(const std::vector<std::string>& files, std::vector<char>& buffer, Block&& block) {
  for (const std::string& f : files) {
    const int fd = open(f.c_str(), O_RDONLY);
    if (fd < 0) return false;
    for (;;) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      block(buffer.data(), static_cast<std::size_t>(n));
    }
    close(fd);
  }
  return true;
}

uint64_t PlainRead(const std::vector<std::string>& files) {
  std::vector<char> buffer(kReadBytes);
  uint64_t sum = 0;
  ReadAll(files, buffer,
          [&](const char* p, std::size_t n) { sum += n + static_cast<uint8_t>(p[0]); });
  return sum;
}

uint64_t LineSplit(const std::vector<std::string>& files) {
  std::vector<char> buffer(kReadBytes);
  uint64_t lines = 0;
  ReadAll(files, buffer, [&](const char* p, std::size_t n) {
    for (const char* end = p + n; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
      ++p;
      ++lines;
    }
  });
  return lines;
}

#if defined(VU30_BENCH_SIMDJSON)
// Every field of every line: keys, and numbers, strings and booleans read.
uint64_t SimdjsonParse(const std::vector<std::string>& files) {
  simdjson::ondemand::parser parser;
  uint64_t fields = 0;
  for (const std::string& f : files) {
    simdjson::padded_string text;
    if (simdjson::padded_string::load(f).get(text)) return 0;
    simdjson::ondemand::document_stream docs;
    if (parser.iterate_many(text).get(docs)) return 0;
    for (auto doc : docs) {
      simdjson::ondemand::object object;
      if (doc.get_object().get(object)) return 0;
      for (auto field : object) {
        std::string_view key;
        if (field.unescaped_key().get(key)) return 0;
        simdjson::ondemand::value value = field.value();
        switch (value.type()) {
          case simdjson::ondemand::json_type::number:
            fields += static_cast<uint64_t>(double(value) >= 0);
            break;
          case simdjson::ondemand::json_type::string:
            fields += std::string_view(value).size() > 0;
            break;
          case simdjson::ondemand::json_type::boolean:
            fields += bool(value);
            break;
          default:
            break;
        }
      }
    }
  }
  return fields;
}
#endif

// What a child process cost: CPU time (ns) and peak memory (KiB).
struct Run {
  int64_t ns = -1;
  long peakKiB = 0;
};

int64_t CpuNs(const rusage& usage) {
  return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1'000'000'000 +
         (static_cast<int64_t>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
}

// Runs work in a child of its own.
Run InChild(const std::function<int()>& work) {
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  Run run;
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return run;
  }
  run.ns = CpuNs(usage);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

// The tool with args, its output to /dev/null. VU30_BENCH_TRACE_TOOL names
// another build of it to measure (an older one, say).
Run Tool(const std::vector<std::string>& args) {
  const char* other = std::getenv("VU30_BENCH_TRACE_TOOL");
  std::vector<char*> argv;
  std::string tool = other != nullptr && *other != '\0' ? other : VU30_TRACE_TOOL;
  argv.push_back(tool.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  Run run;
  const int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return run;
  }
  run.ns = CpuNs(usage);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

double Median(std::vector<double> v) { return Percentile(std::move(v), 50); }

void TraceToolSpeed(benchmark::State& state) {
  const bool keep = !TraceSetDir().empty();
  const std::filesystem::path dir = keep ? std::filesystem::path(TraceSetDir())
                                         : std::filesystem::temp_directory_path() /
                                               ("vu30-trace-set-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const uint64_t bytes = (uint64_t{1} << 20) * static_cast<uint64_t>(TraceSetMegabytes());
  const TraceSet set = RecordTraceSet(dir, bytes, std::max<uint64_t>(bytes / 36, 1 << 20));
  if (set.files.empty()) {
    state.SkipWithError("the trace set could not be recorded");
    return;
  }
  const std::string page = (dir / "page.html").string();
  std::vector<std::string> files = set.files;
  const auto with = [&](std::vector<std::string> head, std::vector<std::string> tail = {}) {
    head.insert(head.end(), files.begin(), files.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  struct Item {
    std::string name;
    std::function<Run()> run;
    bool baseline;
  };
  std::vector<Item> items = {
    {"a plain read", [&] { return InChild([&] { return PlainRead(files) > 0 ? 0 : 1; }); }, true},
    {"a plain line split", [&] { return InChild([&] { return LineSplit(files) > 0 ? 0 : 1; }); },
     true},
#if defined(VU30_BENCH_SIMDJSON)
    {"a simdjson on-demand parse of every field",
     [&] { return InChild([&] { return SimdjsonParse(files) > 0 ? 0 : 1; }); }, true},
#endif
    {"vu30-trace summary", [&] { return Tool(with({"summary"})); }, false},
    {"vu30-trace show --failures", [&] { return Tool(with({"show"}, {"--failures"})); }, false},
    {"vu30-trace show", [&] { return Tool(with({"show"})); }, false},
    {"vu30-trace html",
     [&] {
       return Tool(with({"html"}, {"-o", page}));
     },
     false},
  };
  std::map<std::string, std::vector<double>> seconds;
  std::map<std::string, long> peak;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      // Alternating, so that the machine's other load falls on all alike.
      for (std::size_t k = 0; k < items.size(); ++k) {
        const Item& item = items[round % 2 == 0 ? k : items.size() - 1 - k];
        const Run run = item.run();
        if (run.ns < 0) {
          state.SkipWithError((item.name + " failed").c_str());
          return;
        }
        seconds[item.name].push_back(Seconds(run.ns));
        peak[item.name] = std::max(peak[item.name], run.peakKiB);
      }
    }
  }
  const double mb = static_cast<double>(set.bytes) / 1e6;
  const double records = static_cast<double>(set.records);
  const std::string parse = items[items.size() - 5].name;
  const double parseMbps = mb / Median(seconds[parse]);
  std::printf("trace set: %zu files, %.1f MB, %.0f records\n", set.files.size(), mb, records);
  std::printf("%-44s %10s %14s %8s %10s\n", "", "MB/s", "records/s", "ratio", "peak KiB");
  for (const Item& item : items) {
    const double s = Median(seconds[item.name]);
    std::printf("%-44s %10.1f %14.0f %8.2f %10ld\n", item.name.c_str(), mb / s, records / s,
                parseMbps / (mb / s), peak[item.name]);
    state.counters[item.name + " MB/s"] = mb / s;
    if (item.baseline) continue;
    AddResult({item.name + " on " + std::to_string(static_cast<int>(mb)) + " MB (MB/s; peak " +
                   std::to_string(peak[item.name] / 1024) + " MiB)",
               mb / s, parseMbps, parse, "≥ baseline / 1.5", mb / s >= parseMbps / 1.5});
  }
  std::fflush(stdout);
  if (!keep) std::filesystem::remove_all(dir);
}
BENCHMARK(TraceToolSpeed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vu30::bench
