/* SPDX-License-Identifier: MIT */
// A trace's file and its writer thread. Records are pushed into per-channel
// rings by whatever thread makes the call; the writer takes them out, holds
// them for a short reordering window so that the file is in time order, and
// appends them in batches. It sleeps while nothing is recorded.
//
// Nothing is lost without a word: a record the rings cannot take, or one the
// file cannot take (a full disk), is counted as dropped, by channel, time
// span and reason, and the file's dropped lines and end line say so. Room for
// those closing lines is kept allocated ahead of the file's end where the
// file system allows it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace_file.h"
#include "trace/trace_ring.h"

namespace vu30::trace {

// How large a trace's file may grow, and how many full ones are kept.
struct FileLimit {
  uint64_t bytes = 0;  // 0: no limit
  unsigned kept = 0;   // previous files path.1 .. path.kept; at least 1 with a limit
};

// What the host may ask of an open trace.
struct WriterStatus {
  uint64_t written = 0;
  uint64_t dropped = 0;  // all reasons
  uint64_t droppedWriteFailed = 0;
  uint32_t lastWriteError = 0;
  uint32_t rotations = 0;
};

class TraceWriter {
 public:
  // Rings per trace: one for each channel 1..30, one for channel 0 and one
  // for every other value a dispatcher call may carry.
  static constexpr std::size_t kRings = 32;
  static constexpr std::size_t kRingCapacity = 256;
  // While records come in, the writer writes this often.
  static constexpr std::chrono::milliseconds kBatchInterval{20};
  // A record is held at most this long for the records of calls that began
  // before it and ended after it (the file is in "t" order within it).
  static constexpr std::chrono::milliseconds kReorderWindow{250};
  // At most this many records are held; beyond, the oldest go out early.
  static constexpr std::size_t kHeldMax = 2 * kRings * kRingCapacity;
  // An idle writer wakes this often even if no wake-up reached it.
  static constexpr std::chrono::seconds kIdleBound{1};
  // Room kept allocated beyond the file's end for its closing lines.
  static constexpr std::size_t kClosingRoom = 64 * 1024;

  // Makes the file at path and writes the header; null when it cannot.
  static std::unique_ptr<TraceWriter> Open(const std::string& path, const char* libraryVersion,
                                           FileLimit limit = {});

  // Finish(), then frees the trace.
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Nanoseconds since the trace was opened.
  int64_t Now() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_).count();
  }
  // Queues r for the file; never waits on the file. key is the record's
  // channel or post.
  void Push(uint8_t key, const Record& r) {
    if (!rings_[key <= 30 ? key : kRings - 1]->TryPush(r)) tallies_[key].Add(r.timeNs);
    // The record (or its loss) and the writer's going to sleep are in one
    // order (seq_cst): either the writer sees the record, or this sees that
    // it sleeps.
    if (idle_.load(std::memory_order_seq_cst)) WakeFromIdle();
  }

  WriterStatus Status() const;

  // Writes everything recorded and the end line, stops the writer thread and
  // closes the file. Recording after it goes nowhere. Once only; later calls
  // do nothing.
  void Finish();
  // The same at the end of the process or the library, from the thread that
  // ends it: on Windows the system has stopped the writer thread already, so
  // it is not waited for, and nothing is written if it stopped mid-write.
  void FinishAtExit();

 private:
  using Clock = std::chrono::steady_clock;
  using Ring = RecordRing<kRingCapacity>;

  // Records of one key the rings had no room for, since the writer last
  // looked: how many and when.
  struct alignas(64) Tally {
    std::atomic<uint64_t> count{0};
    std::atomic<int64_t> from{INT64_MAX};
    std::atomic<int64_t> to{INT64_MIN};
    void Add(int64_t t) {
      int64_t v = from.load(std::memory_order_relaxed);
      while (t < v && !from.compare_exchange_weak(v, t, std::memory_order_relaxed)) {
      }
      v = to.load(std::memory_order_relaxed);
      while (t > v && !to.compare_exchange_weak(v, t, std::memory_order_relaxed)) {
      }
      count.fetch_add(1, std::memory_order_seq_cst);
    }
  };
  // Lost records of one key not yet told in the file (the writer's own).
  struct Span {
    uint64_t count = 0;
    int64_t from = INT64_MAX;
    int64_t to = INT64_MIN;
    void Add(uint64_t n, int64_t t0, int64_t t1) {
      count += n;
      from = std::min(from, t0);
      to = std::max(to, t1);
    }
  };
  enum Reason : std::size_t { kBufferFull, kWriteFailed, kReasons };

  TraceWriter(std::string path, std::string libraryVersion, FileLimit limit);
  void Run();
  void WakeFromIdle();
  bool AnythingQueued() const;
  // Takes the queued records in, writes those whose window has passed (all of
  // them when final) with the dropped lines due; whether records are held.
  bool Pass(bool final);
  void TakeTallies();
  // Writes records [from, to) of out_ and the pending dropped lines as one
  // write; on failure they become dropped. Whether it was written.
  bool WriteChunk(std::size_t from, std::size_t to);
  // Counts records [from, to) of out_ as lost to a failed write (error).
  void DropAsFailed(std::size_t from, std::size_t to, uint32_t error);
  void AppendDroppedLines(std::string& text, uint64_t& fileDropped) const;
  // The end line of the current file, after the pending dropped lines.
  void EndFile(bool rotated);
  // Sets the current file aside, shifts path.1 .. path.kept, renames the
  // current file path.1 and starts path anew. 0, or the error of a rotation
  // that could not begin: then no kept file has changed.
  uint32_t Rotate();
  // A current file that is no longer at path (removed or renamed by someone
  // else) is ended and path made anew.
  void RemakeIfGone();
  // Makes path and writes its header with the room for the closing lines;
  // false (and the error kept) when the file cannot be made.
  bool StartFile();
  void Finalize();

  const std::string path_;
  const std::string libraryVersion_;
  const FileLimit limit_;
  const Clock::time_point start_ = Clock::now();
  std::string headerStart_;  // what every file's header begins with
  std::string header_;       // the current file's header
  uint64_t fileNumber_ = 0;  // the current file's place in the trace, from 1
  std::array<std::unique_ptr<Ring>, kRings> rings_;
  std::array<Tally, 256> tallies_{};

  // The writer's own (under passMutex_).
  std::mutex passMutex_;
  std::unique_ptr<TraceFile> file_;
  std::vector<Record> held_;  // a heap, oldest on top
  std::vector<Record> out_;
  std::string text_;
  std::array<std::array<Span, 256>, kReasons> pending_{};
  std::array<uint64_t, 256> tallied_{};
  uint32_t pendingError_ = 0;  // the error of the pending write failures
  uint64_t fileRecords_ = 0;
  std::array<uint64_t, kReasons> fileDropped_{};
  uint32_t fileError_ = 0;  // the last write error in the current file
  bool headerDue_ = false;  // the current file has no header yet
  std::array<std::pair<int64_t, int64_t>, 256> lastSpan_{};  // of each key's ring losses
  bool finished_ = false;

  std::atomic<uint64_t> written_{0};
  std::array<std::atomic<uint64_t>, kReasons> dropped_{};
  std::atomic<uint32_t> lastError_{0};
  std::atomic<uint32_t> rotations_{0};

  // The writer's sleep; a call takes it only to wake a writer that sleeps.
  std::mutex mu_;
  std::condition_variable wake_;
  std::atomic<bool> idle_{false};
  bool stop_ = false;
  std::thread thread_;  // started once the file's header is written
};

// Appends r as one JSON line (with its newline) to out.
void AppendRecordLine(std::string& out, const Record& r);

}  // namespace vu30::trace
