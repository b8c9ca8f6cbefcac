// SPDX-License-Identifier: MIT
// vu30-trace's speed on a day-like trace set recorded with the trace's own
// writer: each command (summary, show --failures, show, html) run as the
// technician runs it, beside same-run baselines over the same bytes: a plain
// read, a plain line split and, where simdjson is installed, an on-demand
// parse of every field of every line, each line a document of its own as the
// tool judges each line on its own, read through one block as the tool reads.
// Each figure is the median of rounds that alternate commands and baselines,
// in CPU time (user and system) of a process of its own, so that other load
// on the machine counts little; the table gives MB/s, records/s, the ratio
// to the parse (or the line split) and the peak memory of that process.
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
#include <string_view>
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

// Rounds of every command and baseline: their medians are compared. Five,
// as on a shared virtual machine a round now and then runs a tenth slower.
constexpr int kRounds = 5;
constexpr std::string_view kMeasureFlag = "--vu30-measure";
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
// The files stream through one padded block, as the tool reads them: whole
// lines are parsed, the torn end of a block waits for the next.
uint64_t SimdjsonParse(const std::vector<std::string>& files) {
  simdjson::ondemand::parser parser;
  std::vector<char> block(kReadBytes + simdjson::SIMDJSON_PADDING);
  uint64_t fields = 0;
  // Each line a document of its own, as the tool judges each line on its
  // own; the block's later bytes (or its padding) are the line's padding.
  const auto parse = [&](std::size_t n) {
    const char* p = block.data();
    const char* const end = p + n;
    while (p < end) {
      const char* eol = static_cast<const char*>(std::memchr(p, '\n', end - p));
      const std::size_t len = static_cast<std::size_t>((eol == nullptr ? end : eol) - p);
      simdjson::ondemand::document doc;
      if (parser.iterate(p, len, static_cast<std::size_t>(block.data() + block.size() - p))
              .get(doc)) {
        return false;
      }
      simdjson::ondemand::object object;
      if (doc.get_object().get(object)) return false;
      for (auto field : object) {
        std::string_view key;
        if (field.unescaped_key().get(key)) return false;
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
      p += len + 1;
    }
    return true;
  };
  for (const std::string& f : files) {
    const int fd = open(f.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::size_t held = 0;  // a torn line carried from the block before
    for (;;) {
      const ssize_t got = read(fd, block.data() + held, kReadBytes - held);
      if (got <= 0) break;
      const std::size_t n = held + static_cast<std::size_t>(got);
      const char* last = static_cast<const char*>(memrchr(block.data(), '\n', n));
      const std::size_t whole =
          last == nullptr ? 0 : static_cast<std::size_t>(last - block.data()) + 1;
      if (whole > 0 && !parse(whole)) {
        close(fd);
        return 0;
      }
      held = n - whole;
      std::memmove(block.data(), block.data() + whole, held);
      if (held == kReadBytes) held = 0;  // no line this long in a trace
    }
    close(fd);
    if (held > 0 && !parse(held)) return 0;
  }
  return fields;
}
#endif

// What a measured process cost: CPU time (ns) and peak memory (KiB).
struct Run {
  int64_t ns = -1;
  long peakKiB = 0;
};

int64_t CpuNs(const rusage& usage) {
  return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1'000'000'000 +
         (static_cast<int64_t>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
}

// The tool, or another build of it that VU30_BENCH_TRACE_TOOL names (an
// older one, say).
std::string ToolPath() {
  const char* other = std::getenv("VU30_BENCH_TRACE_TOOL");
  return other != nullptr && *other != '\0' ? other : VU30_TRACE_TOOL;
}

// The fd a measuring process writes its figures to.
constexpr int kFiguresFd = 3;

// Runs what args say (MeasureMain's words) and measures it. A child's peak
// memory counts the image it was forked from, and this process holds what
// the recording left: so this process starts a fresh, small one of its own
// program, which forks the measured child and reports on it.
Run Measured(const std::vector<std::string>& args) {
  Run run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  std::vector<std::string> all = {"/proc/self/exe", std::string(kMeasureFlag)};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kFiguresFd);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  char text[64] = {};
  std::size_t got = 0;
  for (ssize_t n = 1; spawned == 0 && n > 0 && got + 1 < sizeof text; got += n > 0 ? n : 0) {
    n = read(pipeFds[0], text + got, sizeof text - 1 - got);
  }
  close(pipeFds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return run;
  }
  long long ns = -1;
  long kib = 0;
  if (std::sscanf(text, "%lld %ld", &ns, &kib) != 2) return run;
  run.ns = ns;
  run.peakKiB = kib;
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
    {"a plain read", [&] { return Measured(with({"read"})); }, true},
    {"a plain line split", [&] { return Measured(with({"split"})); }, true},
#if defined(VU30_BENCH_SIMDJSON)
    {"a simdjson on-demand parse of every field", [&] { return Measured(with({"parse"})); }, true},
#endif
    {"vu30-trace summary",
     [&] {
       return Measured(with({"tool", "summary"}));
     },
     false},
    {"vu30-trace show --failures",
     [&] {
       return Measured(with({"tool", "show"}, {"--failures"}));
     },
     false},
    {"vu30-trace show",
     [&] {
       return Measured(with({"tool", "show"}));
     },
     false},
    {"vu30-trace html",
     [&] {
       return Measured(with({"tool", "html"}, {"-o", page}));
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

int MeasureMain(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string what = argv[2];
  const std::vector<std::string> rest(argv + 3, argv + argc);
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    if (what == "tool") {
      const int null = open("/dev/null", O_WRONLY);
      if (null < 0 || dup2(null, 1) < 0) _exit(1);
      close(kFiguresFd);
      std::string tool = ToolPath();
      std::vector<char*> toolArgv = {tool.data()};
      for (int i = 3; i < argc; ++i) toolArgv.push_back(argv[i]);
      toolArgv.push_back(nullptr);
      execv(tool.c_str(), toolArgv.data());
      _exit(1);
    }
    uint64_t seen = 0;
    if (what == "read") seen = PlainRead(rest);
    if (what == "split") seen = LineSplit(rest);
#if defined(VU30_BENCH_SIMDJSON)
    if (what == "parse") seen = SimdjsonParse(rest);
#endif
    _exit(seen > 0 ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return 1;
  }
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%lld %ld\n", static_cast<long long>(CpuNs(usage)),
                              usage.ru_maxrss);
  return write(kFiguresFd, text, static_cast<std::size_t>(n)) == n ? 0 : 1;
}

}  // namespace vu30::bench
