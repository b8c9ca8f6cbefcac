// Reading a trace file (JSON Lines, as the tracing dispatcher writes it) into
// records, with every field checked: a file that is not a trace, a corrupt
// line, an unknown version or an empty file raises TraceError with the line.
// A torn last line (no newline, and not a whole record: the writer was cut
// off) is left out, with a note.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "trace/trace_format.h"

namespace vu30::trace {

class TraceError : public std::runtime_error {
 public:
  TraceError(std::size_t line, const std::string& what)
      : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
  std::size_t Line() const { return line_; }

 private:
  std::size_t line_;
};

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
  const uint8_t* begin() const { return data_.data(); }
  const uint8_t* end() const { return data_.data() + size_; }
  bool operator==(std::span<const uint8_t> other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
  }

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
  int type = 0;
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
};

struct Trace {
  int version = 0;
  std::string library;
  std::string start;
  std::vector<TraceRecord> records;  // in the file's order
  uint64_t dropped = 0;              // records lost, as the file counts them
  bool closed = false;               // the closing line is there
  std::vector<std::string> notes;    // e.g. a torn last line
};

// Reads a whole trace from text (the file's bytes).
Trace ParseTrace(std::string_view text);
// Reads the file at path; a file that cannot be read raises TraceError (line 0).
Trace ReadTraceFile(const std::string& path);

}  // namespace vu30::trace
