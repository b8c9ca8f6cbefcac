#include "trace/trace_writer.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace vu30::trace {
namespace {

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  out.append(buf, end);
}

// Nanoseconds as microseconds with three decimals.
void AppendMicros(std::string& out, int64_t ns) {
  if (ns < 0) {
    out += '-';
    ns = -ns;
  }
  AppendInt(out, ns / 1000);
  const int64_t frac = ns % 1000;
  out += '.';
  out += static_cast<char>('0' + frac / 100);
  out += static_cast<char>('0' + frac / 10 % 10);
  out += static_cast<char>('0' + frac % 10);
}

void AppendHex(std::string& out, const uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  out += '"';
}

void Field(std::string& out, const char* name) {
  out += ",\"";
  out += name;
  out += "\":";
}

void IntField(std::string& out, const char* name, int64_t v) {
  Field(out, name);
  AppendInt(out, v);
}

void BoolField(std::string& out, const char* name, bool v) {
  Field(out, name);
  out += v ? "true" : "false";
}

// Bytes of a record, and their full length when not all of them were kept.
void BytesField(std::string& out, const char* name, const char* lengthName,
                const std::array<uint8_t, kKeptBytes>& bytes, std::size_t length) {
  Field(out, name);
  AppendHex(out, bytes.data(), std::min(length, bytes.size()));
  if (length > bytes.size()) IntField(out, lengthName, static_cast<int64_t>(length));
}

// What the reply check saw and decided, and what was set on the channel.
void AppendReplyFields(std::string& out, const Record& r) {
  if (r.flags & Record::kChecked) {
    BytesField(out, "reply", "reply_length", r.reply, r.replyCount);
    IntField(out, "count", r.replyCount);
    if (r.entry == Entry::CheckReply) IntField(out, "awaited", r.replyAwaited);
    BoolField(out, "verdict", (r.flags & Record::kAccepted) != 0);
    IntField(out, "count_after", r.countAfter);
  } else if (r.flags & Record::kReplyCopied) {
    BytesField(out, "reply_unchecked", "reply_length", r.reply, r.replyAwaited);
  }
  if (r.flags & Record::kHasStatus) IntField(out, "status", r.status);
  if (r.flags & Record::kHasError) IntField(out, "error", r.error);
}

}  // namespace

void AppendRecordLine(std::string& out, const Record& r) {
  out += "{\"t\":";
  AppendMicros(out, r.timeNs);
  IntField(out, "thread", r.thread);
  out += ",\"entry\":\"";
  out += EntryName(r.entry);
  out += '"';
  switch (r.entry) {
    case Entry::Transact:
      Field(out, "dur");
      AppendMicros(out, r.durationNs);
      IntField(out, "channel", r.channel);
      IntField(out, "address", r.lineAddress);
      BytesField(out, "request", "request_length", r.request, r.requestLength);
      IntField(out, "type", r.replyType);
      IntField(out, "awaited", r.replyAwaited);
      if (!(r.flags & Record::kFaulted)) IntField(out, "result", r.value);
      AppendReplyFields(out, r);
      break;
    case Entry::CheckReply:
      IntField(out, "channel", r.channel);
      AppendReplyFields(out, r);
      break;
    case Entry::RouteMessage:
      Field(out, "dur");
      AppendMicros(out, r.durationNs);
      IntField(out, "address", r.lineAddress);
      BytesField(out, "message", "length", r.request, r.requestLength);
      break;
    case Entry::ConfigureChannel:
      IntField(out, "post", r.channel);
      IntField(out, "mode", r.mode);
      IntField(out, "settings", r.settings);
      if (!(r.flags & Record::kFaulted)) IntField(out, "result", r.value);
      break;
    case Entry::SetMessageHook:
    case Entry::SetPostInit:
    case Entry::PreparePost:
      IntField(out, "post", r.channel);
      break;
    case Entry::SetReplyChecker:
      IntField(out, "channel", r.channel);
      break;
    case Entry::GetChannelError:
    case Entry::GetChannelStatus:
    case Entry::SetChannelError:
    case Entry::SetChannelStatus:
      IntField(out, "channel", r.channel);
      if (!(r.flags & Record::kFaulted)) IntField(out, "value", r.value);
      break;
  }
  if (r.flags & Record::kFaulted) {
    Field(out, "fault");
    if (r.faultCode == 0) {
      out += "\"exception\"";
    } else {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += "\"0x";
      for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(r.faultCode >> shift) & 0xF];
      out += '"';
    }
  }
  out += "}\n";
}

std::unique_ptr<TraceWriter> TraceWriter::Open(const char* path, const char* libraryVersion) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
  if (!file) return nullptr;
  char start[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  const bool haveTime = gmtime_s(&utc, &now) == 0;
#else
  const bool haveTime = gmtime_r(&now, &utc) != nullptr;
#endif
  if (haveTime) std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string header = std::string("{\"format\":\"") + std::string(kFormatName) +
                             "\",\"version\":" + std::to_string(kFormatVersion) +
                             ",\"library\":\"" + libraryVersion + "\",\"start\":\"" + start +
                             "\"}\n";
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size() ||
      std::fflush(file.get()) != 0) {
    return nullptr;
  }
  return std::unique_ptr<TraceWriter>(new TraceWriter(std::move(file)));
}

TraceWriter::TraceWriter(std::unique_ptr<std::FILE, FileCloser> file) : file_(std::move(file)) {
  for (auto& ring : rings_) ring = std::make_unique<Ring>();
  batch_.reserve(kRings * kRingCapacity);
  thread_ = std::thread([this] { Run(); });
}

TraceWriter::~TraceWriter() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
  WriteBatch();
  text_.clear();
  text_ += "{\"entry\":\"";
  text_ += kEndLine;
  text_ += '"';
  IntField(text_, "records", static_cast<int64_t>(written_));
  IntField(text_, "dropped", static_cast<int64_t>(droppedReported_));
  text_ += "}\n";
  std::fwrite(text_.data(), 1, text_.size(), file_.get());
}

void TraceWriter::Run() {
  std::unique_lock lock(mu_);
  while (!stop_) {
    wake_.wait_for(lock, kBatchInterval, [this] { return stop_; });
    lock.unlock();
    WriteBatch();
    lock.lock();
  }
}

void TraceWriter::WriteBatch() {
  batch_.clear();
  uint64_t dropped = 0;
  for (auto& ring : rings_) {
    Record r;
    while (batch_.size() < batch_.capacity() && ring->TryPop(r)) batch_.push_back(r);
    dropped += ring->Dropped();
  }
  if (batch_.empty() && dropped == droppedReported_) return;
  std::stable_sort(batch_.begin(), batch_.end(),
                   [](const Record& a, const Record& b) { return a.timeNs < b.timeNs; });
  text_.clear();
  for (const Record& r : batch_) AppendRecordLine(text_, r);
  written_ += batch_.size();
  if (dropped != droppedReported_) {
    // The ring counts grow only; the file tells each batch's new losses.
    text_ += "{\"entry\":\"";
    text_ += kDroppedLine;
    text_ += '"';
    IntField(text_, "count", static_cast<int64_t>(dropped - droppedReported_));
    IntField(text_, "total", static_cast<int64_t>(dropped));
    text_ += "}\n";
    droppedReported_ = dropped;
  }
  std::fwrite(text_.data(), 1, text_.size(), file_.get());
  std::fflush(file_.get());
}

}  // namespace vu30::trace
