// A trace's file and its writer thread. Records are pushed into per-channel
// rings by whatever thread makes the call; the writer takes them out every
// few milliseconds and appends them to the file as one batch (one write, then
// a flush), so that a host that crashes loses at most the batch under way.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace_ring.h"

namespace vu30::trace {

class TraceWriter {
 public:
  // Rings per trace: one for each channel 1..30, one for channel 0 and one
  // for every other value a dispatcher call may carry.
  static constexpr std::size_t kRings = 32;
  static constexpr std::size_t kRingCapacity = 256;
  static constexpr std::chrono::milliseconds kBatchInterval{20};

  // Makes the file at path and writes the header; null when it cannot.
  static std::unique_ptr<TraceWriter> Open(const char* path, const char* libraryVersion);

  // Writes what is left and the closing totals, then closes the file.
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Nanoseconds since the trace was opened.
  int64_t Now() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_).count();
  }
  // Queues r for the file; never waits. key is the record's channel or post.
  void Push(uint8_t key, const Record& r) { rings_[key <= 30 ? key : kRings - 1]->TryPush(r); }

 private:
  using Clock = std::chrono::steady_clock;
  using Ring = RecordRing<kRingCapacity>;
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  explicit TraceWriter(std::unique_ptr<std::FILE, FileCloser> file);
  void Run();
  // Takes every queued record out and writes them, oldest first.
  void WriteBatch();

  std::unique_ptr<std::FILE, FileCloser> file_;
  const Clock::time_point start_ = Clock::now();
  std::array<std::unique_ptr<Ring>, kRings> rings_;

  std::vector<Record> batch_;  // the writer's own
  std::string text_;
  uint64_t written_ = 0;
  uint64_t droppedReported_ = 0;

  std::mutex mu_;  // the writer's wake-up only; never on a call's path
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once everything else is ready
};

// Appends r as one JSON line (with its newline) to out.
void AppendRecordLine(std::string& out, const Record& r);

}  // namespace vu30::trace
