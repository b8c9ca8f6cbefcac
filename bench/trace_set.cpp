// SPDX-License-Identifier: MIT
#include "trace_set.h"

#include <algorithm>
#include <random>
#include <thread>

#include "link/line_coding.h"
#include "trace/trace_writer.h"

namespace vu30::bench {
namespace {

using trace::Entry;
using trace::Record;

constexpr int kPosts = 30;
// Records pushed and not yet written, at most: the writer holds kHeldMax of
// them (their times run far ahead of its clock), and the rest stay well
// within its rings.
constexpr uint64_t kInFlight = trace::TraceWriter::kHeldMax + 3000;

// digits, line-coded, into bytes; closed by a zero byte when closed.
uint8_t Code(Record& r, std::initializer_list<int> digits, bool closed, bool inReply) {
  auto& bytes = inReply ? r.reply : r.request;
  std::size_t n = 0;
  for (const int d : digits) bytes[n++] = link::EncodeDigit(static_cast<uint8_t>(d));
  if (closed) bytes[n++] = 0;
  return static_cast<uint8_t>(n);
}

class Station {
 public:
  Station(trace::TraceWriter& writer, uint64_t seed) : writer_(writer), rng_(seed) {}

  // One step of a post's day: a few records.
  void Step(int post) {
    const int nozzle = Pick(0, 3);
    switch (Pick(0, 9)) {
      case 0:
        HostRequest(post, {2, nozzle, 4, 1, 3, Pick(0, 9)}, 1, {});
        break;
      case 1: {
        Message(post, {0, nozzle, 0});
        Answer(post, {1, 0, 0, 0, 0, 0, 0, 4, 1, 3, 0});
        break;
      }
      case 2:
        HostRequest(post, {0}, 1, {});
        Message(post, {8, nozzle, 0});
        Answer(post, {1, 0, 0, 2, 0, 0, 0, 4, 1, 3, 0});
        break;
      case 3:
        Message(post, {1, 0, 0, 2, 0, 0, 0, 8, 2, 6, 0, nozzle});
        Answer(post, {});
        break;
      case 4:
        HostRequest(post, {3, nozzle}, 13, {3, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, nozzle});
        break;
      case 5:
        HostRequest(post, {11, 2}, 4, {11, 1, 0});
        break;
      default:
        HostRequest(post, {8}, 7, {8, 0, 0, 1, Pick(0, 9), Pick(0, 9)});
        break;
    }
  }

 private:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  Record At(Entry entry, int post) {
    nowNs_ += Pick(100'000, 3'000'000);
    Record r;
    r.timeNs = nowNs_;
    r.thread = static_cast<uint32_t>(1000 + post);
    r.entry = entry;
    r.channel = static_cast<uint8_t>(post);
    return r;
  }

  void Push(Record r) {
    // Now and then a record reaches the writer after it has written later
    // ones (beyond the records it holds).
    if (Pick(0, 19999) == 0) r.timeNs -= 60'000'000'000;
    r.timeNs = std::max<int64_t>(r.timeNs, 1000);
    writer_.Push(r.channel, r);
    ++pushed_;
    while (pushed_ > kInFlight) {
      const trace::WriterStatus s = writer_.Status();
      if (pushed_ - s.written - s.dropped <= kInFlight) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }

  void HostRequest(int post, std::initializer_list<int> request, int awaited,
                   std::initializer_list<int> reply) {
    Push(At(Entry::SetReplyChecker, post));
    Record r = At(Entry::Transact, post);
    r.durationNs = Pick(20'000'000, 60'000'000);
    r.lineAddress = static_cast<uint8_t>(post);
    r.requestLength = Code(r, request, false, false);
    r.replyAwaited = static_cast<uint8_t>(awaited);
    r.replyType = link::EncodeDigit(static_cast<uint8_t>(awaited == 1 ? 1 : 3));
    const int roll = Pick(0, 999);
    if (roll == 0) {
      r.flags = Record::kFaulted;
      r.faultCode = 0x0EEDFADE;
    } else if (roll < 3) {
      r.value = -2;  // the exchange was not made
    } else {
      r.flags = Record::kChecked | Record::kHasStatus | Record::kHasError;
      r.replyCount = Code(r, reply, true, true);
      if (reply.size() == 0) r.replyCount = Code(r, {}, true, true);
      r.countAfter = r.replyCount;
      const bool accepted = roll >= 8;
      if (accepted) r.flags |= Record::kAccepted;
      r.status = accepted ? 1 : 3;
      r.error = accepted ? 0 : 0xDE;
      if (!accepted) r.reply[0] = 0x6b;
    }
    Push(r);
    Record s = At(Entry::GetChannelStatus, post);
    s.value = 1;
    Push(s);
  }

  void Message(int post, std::initializer_list<int> digits) {
    Record r = At(Entry::RouteMessage, post);
    r.durationNs = Pick(2'000, 20'000);
    r.lineAddress = static_cast<uint8_t>(post + 32);
    r.requestLength = Code(r, digits, true, false);
    Push(r);
  }

  void Answer(int post, std::initializer_list<int> digits) {
    if (Pick(0, 499) == 0) return;  // no answer
    Record r = At(Entry::Transact, post);
    r.durationNs = Pick(5'000'000, 20'000'000);
    r.lineAddress = static_cast<uint8_t>(post + 32);
    r.requestLength = Code(r, digits, false, false);
    Push(r);
  }

  trace::TraceWriter& writer_;
  std::mt19937_64 rng_;
  int64_t nowNs_ = 1'000'000;
  uint64_t pushed_ = 0;

 public:
  uint64_t Pushed() const { return pushed_; }
};

}  // namespace

TraceSet RecordTraceSet(const std::filesystem::path& dir, uint64_t totalBytes, uint64_t fileBytes) {
  TraceSet set;
  const std::filesystem::path path = dir / "station.trace";
  const unsigned kept = fileBytes == 0 ? 0 : static_cast<unsigned>(totalBytes / fileBytes + 2);
  {
    auto writer = trace::TraceWriter::Open(path.string(), "bench", {fileBytes, kept});
    if (!writer) return set;
    Station station(*writer, 35);
    // About 110 bytes a record.
    const uint64_t records = totalBytes / 110;
    for (int post = 1; post <= kPosts; ++post) {
      Record r{};
      r.entry = Entry::ConfigureChannel;
      r.channel = static_cast<uint8_t>(post);
      r.settings = (post % 3 == 0 ? 4u : 5u) << 24 | 9600u;
      writer->Push(r.channel, r);
    }
    while (station.Pushed() < records)
      station.Step(1 + static_cast<int>(station.Pushed() % kPosts));
    set.records = station.Pushed() + kPosts;
    writer->Finish();
  }
  for (unsigned k = kept; k >= 1; --k) {
    const std::filesystem::path older = path.string() + "." + std::to_string(k);
    if (std::filesystem::exists(older)) set.files.push_back(older.string());
  }
  set.files.push_back(path.string());
  for (const std::string& f : set.files) set.bytes += std::filesystem::file_size(f);
  return set;
}

}  // namespace vu30::bench
