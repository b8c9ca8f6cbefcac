// SPDX-License-Identifier: MIT
// vu30-trace as a program: its arguments, its errors, and its memory, which
// does not grow with the trace it reads.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "temp_dir.h"
#include "trace/trace_writer.h"

namespace vu30::trace {
namespace {

const std::string kHeader =
    R"({"format":"vu30-trace","version":1,"library":"2.41","start":"2026-12-08T10:00:00Z"})"
    "\n";

struct Ran {
  int status = -1;  // the exit status; -1 when the program did not exit
  long maxRssKiB = 0;
};

// Runs a shell command line; its exit status and the most memory it or a
// program it ran held.
Ran RunCommand(const std::string& command) {
  Ran run;
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return run;
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.maxRssKiB = usage.ru_maxrss;
  return run;
}

const std::string kTool = VU30_TRACE_TOOL;

// A trace of n exchanges on ten posts: a price request and its answer, a
// poll, one in fifty failed.
std::string ManyExchanges(int n) {
  std::string text = kHeader;
  text.reserve(static_cast<std::size_t>(n) * 300);
  for (int i = 0; i < n; ++i) {
    Record r;
    r.timeNs = int64_t{i} * 100000;
    r.channel = static_cast<uint8_t>(1 + i % 10);
    switch (i % 3) {
      case 0:
        r.entry = Entry::RouteMessage;
        r.lineAddress = static_cast<uint8_t>(r.channel + 32);
        r.requestLength = 5;
        r.request = {0x23, 0x6A, 0x66, 0xAA, 0};
        break;
      case 1:
        r.entry = Entry::Transact;
        r.lineAddress = static_cast<uint8_t>(r.channel + 32);
        break;
      default:
        r.entry = Entry::Transact;
        r.lineAddress = r.channel;
        r.requestLength = 1;
        r.request[0] = 0x5A;
        r.replyAwaited = 8;
        r.value = i % 50 == 2 ? 0xE1 : 0;
        break;
    }
    AppendRecordLine(text, r);
  }
  return text;
}

TEST(TraceTool, ArgumentsAndErrors) {
  test::TempDir dir;
  const std::string trace = dir.File("x.trace");
  const std::string text = ManyExchanges(30);
  test::WriteBytes(trace, text);
  const std::string err = dir.File("err.txt");

  // A report over the trace itself is refused, and the trace kept.
  EXPECT_EQ(RunCommand(kTool + " html " + trace + " -o " + trace + " 2>" + err).status, 2);
  EXPECT_TRUE(test::ReadBytes(trace) == text) << "the trace is overwritten";
  EXPECT_NE(test::ReadBytes(err).find("would overwrite the trace"), std::string::npos);

  // Options take their value after '=' too.
  EXPECT_EQ(RunCommand(kTool + " show " + trace + " --from=1ms --post=3 >/dev/null").status, 0);

  // A file that cannot be opened: why, and no line.
  EXPECT_EQ(RunCommand(kTool + " summary " + dir.File("none.trace") + " 2>" + err).status, 2);
  const std::string missing = test::ReadBytes(err);
  EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;
  EXPECT_EQ(missing.find("line 0"), std::string::npos) << missing;

  // An output that cannot take the text: said, with why, and status 1; also
  // when the text fills many blocks, the first of which fails.
  const std::string longer = dir.File("longer.trace");
  test::WriteBytes(longer, ManyExchanges(3000));
  for (const std::string& shown : {trace, longer}) {
    EXPECT_EQ(RunCommand(kTool + " show " + shown + " >/dev/full 2>" + err).status, 1);
    EXPECT_NE(test::ReadBytes(err).find("cannot write the output: No space left on device"),
              std::string::npos)
        << test::ReadBytes(err);
  }
}

// show and summary hold what a window of the trace needs, not the trace; an
// endless line is refused when it passes the line limit, not at its end.
TEST(TraceTool, MemoryDoesNotGrowWithTheTrace) {
  test::TempDir dir;
  const std::string small = dir.File("small.trace");
  // The windows the tool keeps fill within the first of the two longer traces; the
  // second is twice as long, and must need no more. Comparing two traces
  // past that point measures growth alone, whatever a sanitizer's runtime
  // adds to what the windows hold: 8 MiB over 75,000 more exchanges is
  // about 110 bytes an exchange.
  const std::string half = dir.File("half.trace");
  const std::string large = dir.File("large.trace");
  test::WriteBytes(small, ManyExchanges(300));
  test::WriteBytes(half, ManyExchanges(75000));
  test::WriteBytes(large, ManyExchanges(150000));
  // Freed memory is given back at once under AddressSanitizer too.
  const std::string env = "ASAN_OPTIONS=quarantine_size_mb=1:detect_leaks=0 ";
  constexpr long kGrowthKiB = 8 * 1024;
  // What a long line or text may add to a small trace's need, held cut.
  constexpr long kMoreKiB = 40 * 1024;

  for (const char* command : {" show ", " summary "}) {
    SCOPED_TRACE(command);
    const Ran base = RunCommand(env + kTool + command + half + " >/dev/null");
    const Ran run = RunCommand(env + kTool + command + large + " >/dev/null");
    ASSERT_EQ(base.status, 0);
    ASSERT_EQ(run.status, 0);
    EXPECT_LT(run.maxRssKiB, base.maxRssKiB + kGrowthKiB);
  }

  // Lines of long texts, all within the reordering window: held cut.
  const std::string faults = dir.File("faults.trace");
  {
    std::string text = kHeader;
    const std::string fault(60000, 'f');
    for (int i = 0; i < 1000; ++i) {
      text += R"({"t":)" + std::to_string(i) +
              R"(,"thread":1,"entry":"GetChannelStatus","channel":1,"fault":")" + fault + "\"}\n";
    }
    test::WriteBytes(faults, text);
  }
  for (const char* command : {" show ", " summary "}) {
    SCOPED_TRACE(command);
    const Ran base = RunCommand(env + kTool + command + small + " >/dev/null");
    const Ran run = RunCommand(env + kTool + command + faults + " >/dev/null");
    ASSERT_EQ(run.status, 0);
    EXPECT_LT(run.maxRssKiB, base.maxRssKiB + kMoreKiB);
  }

  const std::string err = dir.File("err.txt");
  const Ran base = RunCommand(env + kTool + " show " + small + " >/dev/null");
  const Ran endless = RunCommand("head -c 300000000 /dev/zero | tr '\\0' x | " + env + kTool +
                                 " show /dev/stdin 2>" + err);
  EXPECT_EQ(endless.status, 2);
  EXPECT_NE(test::ReadBytes(err).find("line 1: the line is too long"), std::string::npos)
      << test::ReadBytes(err);
  EXPECT_LT(endless.maxRssKiB, base.maxRssKiB + kMoreKiB);
}

}  // namespace
}  // namespace vu30::trace
#endif
