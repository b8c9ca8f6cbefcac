/* SPDX-License-Identifier: MIT */
// Reading a trace file (JSON Lines, as the tracing dispatcher writes it) one
// line at a time, with every field checked: a file that is not a trace, a
// corrupt line, a line longer than any the writer writes, an unknown version
// or an empty file raises TraceError with the line. A torn last line (no
// newline, and not a whole record: the writer was cut off) is left out, with
// a note. What the reader holds does not grow with the file: one line, the
// header and the totals.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "trace/trace_format.h"

namespace vu30::trace {

// What is wrong with a trace: at a line of it, or (line 0) with the file
// itself, in which case the text says why without a line.
class TraceError : public std::runtime_error {
 public:
  TraceError(std::size_t line, const std::string& what)
      : std::runtime_error(line == 0 ? what : "line " + std::to_string(line) + ": " + what),
        line_(line) {}
  std::size_t Line() const { return line_; }

 private:
  std::size_t line_;
};

// The longest line the reader takes; the writer's lines are far shorter.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;
// The most bytes of a text of the file (a fault, a reason, the header's
// words) that are kept; a longer one is cut, with an ellipsis.
inline constexpr std::size_t kKeptTextBytes = 200;

// The bytes a record keeps (at most kKeptBytes), held in place: a long
// trace has millions of records.
class KeptBytes {
 public:
  KeptBytes() = default;
  explicit KeptBytes(std::span<const uint8_t> bytes)
      : size_(static_cast<uint8_t>(std::min(bytes.size(), kKeptBytes))) {
    std::copy_n(bytes.begin(), size_, data_.begin());
  }
  operator std::span<const uint8_t>() const { return {data_.data(), size_}; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  const uint8_t* begin() const { return data_.data(); }
  const uint8_t* end() const { return data_.data() + size_; }
  bool operator==(std::span<const uint8_t> other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }
  // The bytes a text writes in hex, two digits a byte in either case, at
  // most kKeptBytes of them; false for any other text, and then empty.
  bool ReadHex(std::string_view hex);

 private:
  std::array<uint8_t, kKeptBytes> data_{};
  uint8_t size_ = 0;
};

struct TraceRecord {
  std::size_t line = 0;
  Entry entry{};
  double t = 0;    // microseconds since the trace was opened
  double dur = 0;  // of the call, microseconds
  uint32_t thread = 0;
  int channel = -1;       // the channel, or the post for the entries that name one
  int address = -1;       // line address (Transact) or worker address (RouteMessage)
  KeptBytes request;      // also a message's bytes
  int requestLength = 0;  // full length; more than request.size() when cut
  int type = 0;           // the reply type as sent: a line code
  int awaited = -1;
  // The reply: checked (the received bytes the check saw) or copied from the
  // buffer when no check ran.
  KeptBytes reply;
  bool replyChecked = false;
  int count = -1;
  int countAfter = -1;
  std::optional<bool> verdict;
  std::optional<int64_t> result;  // Transact, ConfigureChannel
  std::optional<int64_t> value;   // Get*/Set* entries
  std::optional<int64_t> status;  // set on the channel during the exchange
  std::optional<int64_t> error;
  int64_t mode = 0;
  int64_t settings = 0;
  std::string fault;  // "exception", "0x0EEDFADE"; empty when none

  // Each field as a new record has it, without a new record's cost: a slot
  // that is read into line after line is cleared so.
  void Clear() {
    line = 0;
    entry = {};
    t = dur = 0;
    thread = 0;
    channel = address = -1;
    request.clear();
    requestLength = type = 0;
    awaited = -1;
    reply.clear();
    replyChecked = false;
    count = countAfter = -1;
    verdict.reset();
    result.reset();
    value.reset();
    status.reset();
    error.reset();
    mode = settings = 0;
    fault.clear();
  }
};

// Records the trace lost: on one channel (or, in files that do not say, on
// any), over a span of time.
struct DroppedSpan {
  std::size_t line = 0;
  std::optional<int> channel;  // none: the file does not say which
  double fromUs = 0;
  double toUs = 0;
  bool spanGiven = false;  // false: the span is what the reader could infer
  uint64_t count = 0;
  std::string reason;
};

// A byte source the reader pulls from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to size bytes into to; 0 at the end. A failed read raises TraceError
  // (line 0) saying why.
  virtual std::size_t Read(char* to, std::size_t size) = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t Read(char* to, std::size_t size) override;

 private:
  std::string_view bytes_;
};

class FileSource : public ByteSource {
 public:
  // A file that cannot be opened raises TraceError (line 0) saying why.
  explicit FileSource(const std::string& path);
  std::size_t Read(char* to, std::size_t size) override;

 private:
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Close> file_;
};

// One item of a trace after its header, in the file's order.
struct TraceItem {
  enum class Kind { Record, Dropped } kind = Kind::Record;
  TraceRecord record;
  DroppedSpan dropped;
};

// Where a trace's items come from: a file, or a trace in memory.
class ItemSource {
 public:
  virtual ~ItemSource() = default;
  // The next record or dropped span in the file's order; false at the end.
  virtual bool Next(TraceItem& item) = 0;
};

// A trace as the views read it: its items, and what its file says of itself.
class TraceInput : public ItemSource {
 public:
  virtual const std::string& Library() const = 0;
  virtual const std::string& Start() const = 0;
  // So far: records read, records the file counts as dropped.
  virtual uint64_t Records() const = 0;
  virtual uint64_t Dropped() const = 0;
  virtual bool Closed() const = 0;  // the closing line is there
  virtual std::vector<std::string> Notes() const = 0;
};

// A line's fields as the reader parses them.
struct LineFields;

// Reads a trace item by item. The constructor reads the header.
class TraceReader final : public TraceInput {
 public:
  explicit TraceReader(ByteSource& source);
  ~TraceReader() override;
  TraceReader(const TraceReader&) = delete;
  TraceReader& operator=(const TraceReader&) = delete;

  bool Next(TraceItem& item) override;

  int Version() const { return version_; }
  // The trace the file belongs to and its place among the trace's files
  // (from 1); empty and 0 in files that do not say.
  const std::string& TraceId() const { return traceId_; }
  uint64_t FileNumber() const { return fileNumber_; }
  const std::string& Library() const override { return library_; }
  const std::string& Start() const override { return start_; }
  uint64_t Records() const override { return records_; }
  uint64_t Dropped() const override { return dropped_; }
  bool Closed() const override { return closed_; }
  std::vector<std::string> Notes() const override {
    std::vector<std::string> notes = notes_;
    if (rotated_) notes.push_back("the trace goes on in a newer file, not read");
    return notes;
  }
  // The notes on this file alone.
  const std::vector<std::string>& FileNotes() const { return notes_; }

 private:
  // The next line: in the chunk read when it is whole there, else gathered
  // in line_; false at the end. torn: it has no newline. Either way a byte
  // that is a newline or a NUL follows it, where the parser's loops stop.
  bool NextLine(std::string_view& line, bool& torn);
  // parsed: the line's fields are read already.
  bool ReadItem(std::string_view line, bool torn, TraceItem& item, bool parsed = false);

  ByteSource& source_;
  std::vector<char> chunk_;  // and a NUL after the bytes read
  std::size_t chunkPos_ = 0;
  std::size_t chunkEnd_ = 0;
  bool sourceEnded_ = false;
  std::string line_;
  std::size_t lineNumber_ = 0;
  std::unique_ptr<LineFields> fields_;  // reused line after line

  int version_ = 0;
  std::string traceId_;
  uint64_t fileNumber_ = 0;
  std::string library_;
  std::string start_;
  uint64_t records_ = 0;
  uint64_t dropped_ = 0;
  bool closed_ = false;
  bool rotated_ = false;  // the closing line says the trace goes on in a newer file
  std::vector<std::string> notes_;
  double latestUs_ = 0;         // the latest record time read
  double lastDroppedAtUs_ = 0;  // latestUs_ at the previous dropped line
};

// The files of one trace read one after another, as the writer's rotation
// leaves them: oldest first (path.2, path.1, path). Each file is whole; the
// times run on across them. Files whose headers name their trace are put in
// the trace's order whatever order they are named in; of several traces the
// latest started is read and the others are left out with a note. Files
// that name no trace are read in the order given. Of several files, one that
// cannot be read, or whose reading fails part way, is left out (from there)
// with a note; a single file that cannot be read raises TraceError.
class TraceFiles : public TraceInput {
 public:
  // Reads every file's header, then opens the first file of the trace.
  explicit TraceFiles(std::vector<std::string> paths);

  bool Next(TraceItem& item) override;
  const std::string& Library() const override { return library_; }
  const std::string& Start() const override { return start_; }
  uint64_t Records() const override { return records_ + reader_->Records(); }
  uint64_t Dropped() const override { return dropped_ + reader_->Dropped(); }
  bool Closed() const override { return reader_->Closed(); }
  std::vector<std::string> Notes() const override;
  // The file being read: the one a TraceError is about.
  const std::string& Path() const { return paths_[current_]; }

 private:
  void Open();
  // Leaves the current file with its notes and goes to the next; false when
  // there is none.
  bool NextFile();

  std::vector<std::string> paths_;
  std::size_t current_ = 0;
  std::unique_ptr<FileSource> source_;
  std::unique_ptr<TraceReader> reader_;
  std::string library_;
  std::string start_;
  uint64_t records_ = 0;  // of the files before the current one
  uint64_t dropped_ = 0;
  std::vector<std::string> notes_;
};

// A whole trace in memory: for small traces and the tests. The tool itself
// streams through TraceReader.
struct Trace {
  int version = 0;
  std::string library;
  std::string start;
  std::vector<TraceRecord> records;  // in the file's order
  std::vector<DroppedSpan> spans;    // the dropped lines, in the file's order
  uint64_t dropped = 0;              // records lost, as the file counts them
  bool closed = false;               // the closing line is there
  std::vector<std::string> notes;    // e.g. a torn last line
};

Trace ReadTrace(ByteSource& source);
// Reads a whole trace from text (the file's bytes).
Trace ParseTrace(std::string_view text);
// Reads the file at path; a file that cannot be read raises TraceError
// (line 0) saying why.
Trace ReadTraceFile(const std::string& path);

}  // namespace vu30::trace
