#include "trace_reader.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace vu30::trace {
namespace {

constexpr std::size_t kMaxLine = 64 * 1024;

// A value of a flat JSON object: what the trace's lines hold.
struct Value {
  enum class Kind { String, Number, Bool, Null } kind = Kind::Null;
  std::string text;
  double number = 0;
  bool boolean = false;
};

// Parses one line: a JSON object whose values are strings, numbers, true,
// false or null. Throws std::invalid_argument with what is wrong.
class LineParser {
 public:
  explicit LineParser(std::string_view s) : s_(s) {}

  std::map<std::string, Value, std::less<>> Object() {
    std::map<std::string, Value, std::less<>> fields;
    Skip();
    Expect('{');
    Skip();
    if (Peek() == '}') {
      ++i_;
    } else {
      for (;;) {
        Skip();
        std::string key = String();
        Skip();
        Expect(':');
        Skip();
        Value v = Parse();
        if (!fields.emplace(std::move(key), std::move(v)).second) Fail("a field appears twice");
        Skip();
        if (Peek() == ',') {
          ++i_;
          continue;
        }
        Expect('}');
        break;
      }
    }
    Skip();
    if (i_ != s_.size()) Fail("text after the object");
    return fields;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) { throw std::invalid_argument(what); }
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  void Skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  void Expect(char c) {
    if (Peek() != c) Fail(std::string("'") + c + "' expected at column " + std::to_string(i_ + 1));
    ++i_;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      const char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = Peek();
      ++i_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        default:
          Fail("an escape the trace does not use");
      }
    }
    Expect('"');
    return out;
  }
  Value Parse() {
    Value v;
    const char c = Peek();
    if (c == '"') {
      v.kind = Value::Kind::String;
      v.text = String();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = Value::Kind::Number;
      const char* begin = s_.data() + i_;
      const auto [end, ec] = std::from_chars(begin, s_.data() + s_.size(), v.number);
      if (ec != std::errc() || !std::isfinite(v.number)) Fail("a bad number");
      i_ += static_cast<std::size_t>(end - begin);
    } else if (s_.substr(i_, 4) == "true" || s_.substr(i_, 5) == "false") {
      v.kind = Value::Kind::Bool;
      v.boolean = c == 't';
      i_ += v.boolean ? 4 : 5;
    } else if (s_.substr(i_, 4) == "null") {
      i_ += 4;
    } else {
      Fail("a value expected at column " + std::to_string(i_ + 1));
    }
    return v;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

using Fields = std::map<std::string, Value, std::less<>>;

// Typed access to a line's fields; every miss says which field.
class Line {
 public:
  Line(const Fields& f) : f_(f) {}

  const Value* Find(std::string_view name) const {
    const auto it = f_.find(name);
    return it == f_.end() || it->second.kind == Value::Kind::Null ? nullptr : &it->second;
  }
  std::string Text(std::string_view name) const {
    const Value* v = Find(name);
    if (v == nullptr || v->kind != Value::Kind::String) Missing(name, "a string");
    return v->text;
  }
  std::optional<int64_t> OptInt(std::string_view name, int64_t lo, int64_t hi) const {
    const Value* v = Find(name);
    if (v == nullptr) return std::nullopt;
    if (v->kind != Value::Kind::Number || v->number != std::floor(v->number) ||
        v->number < static_cast<double>(lo) || v->number > static_cast<double>(hi)) {
      Missing(name, "a whole number in " + std::to_string(lo) + ".." + std::to_string(hi));
    }
    return static_cast<int64_t>(v->number);
  }
  int64_t Int(std::string_view name, int64_t lo, int64_t hi) const {
    const auto v = OptInt(name, lo, hi);
    if (!v) Missing(name, "a whole number");
    return *v;
  }
  double Time(std::string_view name) const {
    const Value* v = Find(name);
    if (v == nullptr || v->kind != Value::Kind::Number || v->number < 0 || v->number > 1e15) {
      Missing(name, "a time in microseconds");
    }
    return v->number;
  }
  std::optional<bool> OptBool(std::string_view name) const {
    const Value* v = Find(name);
    if (v == nullptr) return std::nullopt;
    if (v->kind != Value::Kind::Bool) Missing(name, "true or false");
    return v->boolean;
  }
  std::optional<std::vector<uint8_t>> OptBytes(std::string_view name) const {
    const Value* v = Find(name);
    if (v == nullptr) return std::nullopt;
    if (v->kind != Value::Kind::String || v->text.size() % 2 != 0 ||
        v->text.size() > 2 * kKeptBytes) {
      Missing(name, "bytes in hex");
    }
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < v->text.size(); i += 2) {
      uint8_t b = 0;
      const auto [end, ec] = std::from_chars(v->text.data() + i, v->text.data() + i + 2, b, 16);
      if (ec != std::errc() || end != v->text.data() + i + 2) Missing(name, "bytes in hex");
      out.push_back(b);
    }
    return out;
  }
  std::vector<uint8_t> Bytes(std::string_view name) const {
    auto v = OptBytes(name);
    if (!v) Missing(name, "bytes in hex");
    return *v;
  }

 private:
  [[noreturn]] static void Missing(std::string_view name, const std::string& what) {
    throw std::invalid_argument("field \"" + std::string(name) + "\" must be " + what);
  }
  const Fields& f_;
};

// Bytes kept of something length long: all of them, or the first kKeptBytes.
void CheckKept(const KeptBytes& bytes, int length, const char* what) {
  const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(length), kKeptBytes);
  if (bytes.size() != expected) {
    throw std::invalid_argument(std::string(what) + " holds " + std::to_string(bytes.size()) +
                                " bytes for a length of " + std::to_string(length));
  }
}

void ReadReply(const Line& l, TraceRecord& r) {
  if (const auto checked = l.OptBytes("reply")) {
    r.replyChecked = true;
    r.reply = KeptBytes(*checked);
    r.count = static_cast<int>(l.Int("count", 0, 255));
    r.countAfter = static_cast<int>(l.Int("count_after", 0, 255));
    r.awaited = static_cast<int>(l.Int("awaited", 0, 255));
    r.verdict = l.OptBool("verdict");
    if (!r.verdict) throw std::invalid_argument("a checked reply without its verdict");
    CheckKept(r.reply, static_cast<int>(l.OptInt("reply_length", 0, 255).value_or(r.count)),
              "the reply");
  } else if (const auto copied = l.OptBytes("reply_unchecked")) {
    r.reply = KeptBytes(*copied);
  }
  r.status = l.OptInt("status", 0, 255);
  r.error = l.OptInt("error", INT32_MIN, INT32_MAX);
}

TraceRecord ReadRecord(const Fields& fields, std::size_t lineNumber) {
  const Line l(fields);
  TraceRecord r;
  r.line = lineNumber;
  const std::string name = l.Text("entry");
  const auto entry = EntryFromName(name);
  if (!entry) throw std::invalid_argument("unknown entry \"" + name + "\"");
  r.entry = *entry;
  r.t = l.Time("t");
  if (l.Find("dur") != nullptr) r.dur = l.Time("dur");
  r.thread = static_cast<uint32_t>(l.Int("thread", 0, UINT32_MAX));
  if (const Value* f = l.Find("fault")) {
    if (f->kind != Value::Kind::String || f->text.empty()) {
      throw std::invalid_argument("field \"fault\" must be a string");
    }
    r.fault = f->text;
  }
  const bool faulted = !r.fault.empty();
  switch (r.entry) {
    case Entry::Transact:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      r.address = static_cast<int>(l.Int("address", 0, 255));
      r.request = KeptBytes(l.Bytes("request"));
      r.requestLength =
          static_cast<int>(l.OptInt("request_length", 0, 255).value_or(r.request.size()));
      CheckKept(r.request, r.requestLength, "the request");
      r.type = static_cast<int>(l.Int("type", 0, 255));
      r.awaited = static_cast<int>(l.Int("awaited", 0, 255));
      if (!faulted) r.result = l.Int("result", INT32_MIN, INT32_MAX);
      ReadReply(l, r);
      break;
    case Entry::CheckReply:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      ReadReply(l, r);
      if (!r.replyChecked) throw std::invalid_argument("a reply check without its reply");
      break;
    case Entry::RouteMessage:
      r.channel = static_cast<int>(l.Int("address", 0, 255)) - 32;
      r.address = r.channel + 32;
      r.request = KeptBytes(l.Bytes("message"));
      r.requestLength = static_cast<int>(l.OptInt("length", 0, 255).value_or(r.request.size()));
      CheckKept(r.request, r.requestLength, "the message");
      break;
    case Entry::ConfigureChannel:
      r.channel = static_cast<int>(l.Int("post", 0, 255));
      r.mode = l.Int("mode", INT32_MIN, INT32_MAX);
      r.settings = l.Int("settings", 0, UINT32_MAX);
      if (!faulted) r.result = l.Int("result", INT32_MIN, INT32_MAX);
      break;
    case Entry::SetMessageHook:
    case Entry::SetPostInit:
    case Entry::PreparePost:
      r.channel = static_cast<int>(l.Int("post", 0, 255));
      break;
    case Entry::SetReplyChecker:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      break;
    case Entry::GetChannelError:
    case Entry::GetChannelStatus:
    case Entry::SetChannelError:
    case Entry::SetChannelStatus:
      r.channel = static_cast<int>(l.Int("channel", 0, 255));
      if (!faulted) r.value = l.Int("value", INT32_MIN, INT32_MAX);
      break;
  }
  return r;
}

void ReadHeader(const Fields& fields, Trace& trace) {
  const Line l(fields);
  const Value* format = l.Find("format");
  if (format == nullptr || format->kind != Value::Kind::String || format->text != kFormatName) {
    throw std::invalid_argument("not a vu30 trace (the first line is no trace header)");
  }
  trace.version = static_cast<int>(l.Int("version", 0, INT32_MAX));
  if (trace.version != kFormatVersion) {
    throw std::invalid_argument("trace format version " + std::to_string(trace.version) +
                                " is not known (this reader knows version " +
                                std::to_string(kFormatVersion) + ")");
  }
  trace.library = l.Text("library");
  trace.start = l.Text("start");
}

// Reads the file's lines one by one into trace. torn: the line is the last
// and has no newline.
void ReadLine(Trace& trace, std::size_t lineNumber, std::string_view line, bool torn) {
  try {
    if (line.size() > kMaxLine) throw std::invalid_argument("the line is too long");
    if (trace.closed) throw std::invalid_argument("a line after the closing line");
    const Fields fields = LineParser(line).Object();
    if (lineNumber == 1) {
      ReadHeader(fields, trace);
      return;
    }
    const Line l(fields);
    const std::string entry = l.Text("entry");
    if (entry == kDroppedLine) {
      trace.dropped += static_cast<uint64_t>(l.Int("count", 0, INT64_C(1) << 50));
    } else if (entry == kEndLine) {
      trace.closed = true;
      const auto written = static_cast<uint64_t>(l.Int("records", 0, INT64_C(1) << 50));
      if (written != trace.records.size()) {
        trace.notes.push_back("line " + std::to_string(lineNumber) + ": the trace wrote " +
                              std::to_string(written) + " records, the file holds " +
                              std::to_string(trace.records.size()));
      }
      const auto dropped = static_cast<uint64_t>(l.Int("dropped", 0, INT64_C(1) << 50));
      if (dropped != trace.dropped) {
        throw std::invalid_argument("the closing line counts " + std::to_string(dropped) +
                                    " dropped records, the dropped lines " +
                                    std::to_string(trace.dropped));
      }
    } else {
      trace.records.push_back(ReadRecord(fields, lineNumber));
    }
  } catch (const std::invalid_argument& e) {
    if (!torn || lineNumber == 1) throw TraceError(lineNumber, e.what());
    trace.notes.push_back("line " + std::to_string(lineNumber) +
                          ": the last line is torn (the trace was cut off); it is left out");
  }
}

}  // namespace

Trace ParseTrace(std::string_view text) {
  if (text.empty()) throw TraceError(1, "the file is empty: not a trace");
  Trace trace;
  std::size_t lineNumber = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t newline = text.find('\n', pos);
    const bool torn = newline == std::string_view::npos;
    ReadLine(trace, ++lineNumber, text.substr(pos, torn ? std::string_view::npos : newline - pos),
             torn);
    pos = torn ? text.size() : newline + 1;
  }
  return trace;
}

// Line by line, so that a long trace is never held whole in memory.
Trace ReadTraceFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TraceError(0, "cannot open " + path);
  Trace trace;
  std::size_t lineNumber = 0;
  std::string line;
  while (std::getline(in, line)) {
    ReadLine(trace, ++lineNumber, line, in.eof());
  }
  if (in.bad()) throw TraceError(lineNumber, "cannot read " + path);
  if (lineNumber == 0) throw TraceError(1, "the file is empty: not a trace");
  return trace;
}

}  // namespace vu30::trace
