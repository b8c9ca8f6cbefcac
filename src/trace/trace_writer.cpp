// SPDX-License-Identifier: MIT
#include "trace/trace_writer.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <exception>
#include <random>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#endif

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

// A JSON string of text (UTF-8), quotes and controls escaped.
void AppendText(std::string& out, const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kDigits[u >> 4];
      out += kDigits[u & 0x0F];
    } else {
      out += c;
    }
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

std::unique_ptr<TraceWriter> TraceWriter::Open(const std::string& path, const char* libraryVersion,
                                               FileLimit limit) {
  if (limit.bytes != 0 && limit.kept == 0) return nullptr;
  std::unique_ptr<TraceWriter> w(new TraceWriter(path, libraryVersion, limit));
  // The header goes out now, so that a file that cannot take it is refused.
  if (!w->StartFile() || w->headerDue_) {
    w->finished_ = true;
    return nullptr;
  }
  w->thread_ = std::thread([p = w.get()] { p->Run(); });
#if defined(__linux__)
  pthread_setname_np(w->thread_.native_handle(), "vu30-trace");  // as ps and debuggers show it
#endif
  return w;
}

TraceWriter::TraceWriter(std::string path, std::string libraryVersion, FileLimit limit)
    : path_(std::move(path)), libraryVersion_(std::move(libraryVersion)), limit_(limit) {
  for (auto& ring : rings_) ring = std::make_unique<Ring>();
  char start[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  const bool haveTime = gmtime_s(&utc, &now) == 0;
#else
  const bool haveTime = gmtime_r(&now, &utc) != nullptr;
#endif
  if (haveTime) std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%SZ", &utc);
  // Names the trace in each of its files, so that the files of another
  // trace (a host restarted with the same path) are told apart.
  uint64_t id = static_cast<uint64_t>(start_.time_since_epoch().count());
  try {
    std::random_device random;
    id ^= uint64_t{random()} << 32 ^ random();
  } catch (const std::exception&) {
    // No source of randomness: the clock alone tells the traces apart.
  }
  char idText[20];
  const auto idEnd = std::to_chars(idText, idText + sizeof idText, id, 16).ptr;
  headerStart_ = std::string("{\"format\":\"") + std::string(kFormatName) +
                 "\",\"version\":" + std::to_string(kFormatVersion) + ",\"library\":\"" +
                 libraryVersion_ + "\",\"start\":\"" + start + "\",\"trace\":\"" +
                 std::string(idText, idEnd) + "\"";
}

TraceWriter::~TraceWriter() { Finish(); }

WriterStatus TraceWriter::Status() const {
  WriterStatus s;
  s.written = written_.load(std::memory_order_relaxed);
  s.droppedWriteFailed = dropped_[kWriteFailed].load(std::memory_order_relaxed);
  s.dropped = s.droppedWriteFailed + dropped_[kBufferFull].load(std::memory_order_relaxed);
  s.lastWriteError = lastError_.load(std::memory_order_relaxed);
  s.rotations = rotations_.load(std::memory_order_relaxed);
  return s;
}

void TraceWriter::Finish() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard pass(passMutex_);
  Finalize();
}

void TraceWriter::FinishAtExit() {
#if defined(_WIN32)
  // The writer thread is gone; if it went in the middle of a pass, what it
  // held is gone with it and the file is left as it is.
  if (!passMutex_.try_lock()) return;
  std::lock_guard pass(passMutex_, std::adopt_lock);
  Finalize();
#else
  Finish();
#endif
}

void TraceWriter::Finalize() {
  if (finished_) return;
  finished_ = true;
  Pass(true);
  if (file_) EndFile(false);
  file_.reset();
}

void TraceWriter::WakeFromIdle() {
  if (!idle_.exchange(false, std::memory_order_acq_rel)) return;
  // Taken so that the wake-up cannot fall between the writer's last look
  // and its sleep.
  { std::lock_guard lock(mu_); }
  wake_.notify_one();
}

bool TraceWriter::AnythingQueued() const {
  for (const auto& ring : rings_) {
    if (ring->HasRecord()) return true;
  }
  for (std::size_t key = 0; key < tallies_.size(); ++key) {
    if (tallies_[key].count.load(std::memory_order_seq_cst) != tallied_[key]) return true;
  }
  return !held_.empty();
}

void TraceWriter::Run() {
  for (;;) {
    bool busy;
    {
      std::lock_guard pass(passMutex_);
      if (finished_) return;
      busy = Pass(false);
    }
    std::unique_lock lock(mu_);
    if (stop_) return;
    if (busy) {
      wake_.wait_for(lock, kBatchInterval, [this] { return stop_; });
      continue;
    }
    // Nothing held: sleep until a call records something.
    idle_.store(true, std::memory_order_seq_cst);
    if (!AnythingQueued()) {
      wake_.wait_for(lock, kIdleBound,
                     [this] { return stop_ || !idle_.load(std::memory_order_relaxed); });
    }
    idle_.store(false, std::memory_order_relaxed);
  }
}

namespace {
bool Later(const Record& a, const Record& b) { return a.timeNs > b.timeNs; }
}  // namespace

void TraceWriter::TakeTallies() {
  for (std::size_t key = 0; key < tallies_.size(); ++key) {
    Tally& tally = tallies_[key];
    // The count first: every loss it counts has its time in the span.
    const uint64_t count = tally.count.load(std::memory_order_acquire);
    const uint64_t n = count - tallied_[key];
    if (n == 0) continue;
    tallied_[key] = count;
    int64_t from = tally.from.exchange(INT64_MAX, std::memory_order_relaxed);
    int64_t to = tally.to.exchange(INT64_MIN, std::memory_order_relaxed);
    // Losses whose times an earlier span took along.
    if (from == INT64_MAX) std::tie(from, to) = lastSpan_[key];
    lastSpan_[key] = {from, to};
    pending_[kBufferFull][key].Add(n, from, to);
    dropped_[kBufferFull].fetch_add(n, std::memory_order_relaxed);
  }
}

bool TraceWriter::Pass(bool final) {
  for (auto& ring : rings_) {
    Record r;
    for (std::size_t i = 0; i < kRingCapacity && ring->TryPop(r); ++i) {
      held_.push_back(r);
      std::push_heap(held_.begin(), held_.end(), Later);
    }
  }
  TakeTallies();
  const int64_t due =
      final ? INT64_MAX
            : Now() - std::chrono::duration_cast<std::chrono::nanoseconds>(kReorderWindow).count();
  out_.clear();
  while (!held_.empty() && (held_.front().timeNs <= due || held_.size() > kHeldMax)) {
    std::pop_heap(held_.begin(), held_.end(), Later);
    out_.push_back(held_.back());
    held_.pop_back();
  }
  bool lossesDue = false;
  for (const auto& spans : pending_) {
    for (const Span& span : spans) lossesDue = lossesDue || span.count != 0;
  }
  if (out_.empty() && !lossesDue) return !held_.empty();
  RemakeIfGone();
  if (!file_) StartFile();
  // In chunks, so that a file with a limit ends before the record that
  // would take it past the limit.
  std::size_t from = 0;
  const bool limited = limit_.bytes != 0;
  for (;;) {
    text_.clear();
    const uint64_t size = file_ ? file_->Size() : 0;
    const uint64_t room = !limited ? UINT64_MAX : size < limit_.bytes ? limit_.bytes - size : 0;
    std::size_t to = from;
    bool full = false;
    for (; to < out_.size(); ++to) {
      const std::size_t before = text_.size();
      AppendRecordLine(text_, out_[to]);
      if (text_.size() > room && (to > from || fileRecords_ > 0)) {
        text_.resize(before);
        full = true;
        break;
      }
    }
    // A full file takes no more dropped lines either: they wait for its
    // end line, in the room kept for it.
    if (!full || to > from) WriteChunk(from, to);
    if (!full) break;
    // A file that cannot be rotated takes nothing more: the limit holds, and
    // what does not fit is lost to the failed rotation, with its reason.
    if (const uint32_t error = Rotate(); error != 0) {
      DropAsFailed(to, out_.size(), error);
      break;
    }
    from = to;
  }
  return !held_.empty();
}

void TraceWriter::DropAsFailed(std::size_t from, std::size_t to, uint32_t error) {
  for (std::size_t i = from; i < to; ++i) {
    pending_[kWriteFailed][out_[i].channel].Add(1, out_[i].timeNs, out_[i].timeNs);
  }
  dropped_[kWriteFailed].fetch_add(to - from, std::memory_order_relaxed);
  pendingError_ = error;
  fileError_ = error;
  lastError_.store(error, std::memory_order_relaxed);
}

void TraceWriter::AppendDroppedLines(std::string& text, uint64_t& fileDropped) const {
  for (std::size_t reason = 0; reason < kReasons; ++reason) {
    for (std::size_t key = 0; key < 256; ++key) {
      const Span& span = pending_[reason][key];
      if (span.count == 0) continue;
      fileDropped += span.count;
      text += "{\"entry\":\"";
      text += kDroppedLine;
      text += '"';
      IntField(text, "channel", static_cast<int64_t>(key));
      Field(text, "from");
      AppendMicros(text, span.from);
      Field(text, "to");
      AppendMicros(text, span.to);
      IntField(text, "count", static_cast<int64_t>(span.count));
      IntField(text, "total", static_cast<int64_t>(fileDropped));
      Field(text, "reason");
      AppendText(text, reason == kBufferFull ? std::string("buffer full")
                                             : "write failed: " + SystemErrorText(pendingError_));
      text += "}\n";
    }
  }
}

bool TraceWriter::WriteChunk(std::size_t from, std::size_t to) {
  uint32_t error = lastError_.load(std::memory_order_relaxed);
  if (file_) {
    uint64_t fileDropped = fileDropped_[kBufferFull] + fileDropped_[kWriteFailed];
    AppendDroppedLines(text_, fileDropped);
    if (text_.empty()) return true;
    if (headerDue_) text_.insert(0, header_);
    // The closing lines' room first: records take only what is left.
    error = file_->KeepRoom(text_.size() + kClosingRoom);
    if (error == 0) error = file_->Append(text_.data(), text_.size());
    if (error == 0) {
      headerDue_ = false;
      fileRecords_ += to - from;
      written_.fetch_add(to - from, std::memory_order_relaxed);
      for (std::size_t reason = 0; reason < kReasons; ++reason) {
        for (Span& span : pending_[reason]) {
          fileDropped_[reason] += span.count;
          span = Span{};
        }
      }
      return true;
    }
  }
  DropAsFailed(from, to, error);
  return false;
}

void TraceWriter::EndFile(bool rotated) {
  const auto endLine = [&](uint64_t full, uint64_t failed) {
    text_ += "{\"entry\":\"";
    text_ += kEndLine;
    text_ += '"';
    IntField(text_, "records", static_cast<int64_t>(fileRecords_));
    IntField(text_, "dropped", static_cast<int64_t>(full + failed));
    IntField(text_, "dropped_buffer_full", static_cast<int64_t>(full));
    IntField(text_, "dropped_write_failed", static_cast<int64_t>(failed));
    if (fileError_ != 0) {
      Field(text_, "write_error");
      AppendText(text_, SystemErrorText(fileError_));
    }
    if (rotated) BoolField(text_, "rotated", true);
    text_ += "}\n";
  };
  text_.clear();
  if (headerDue_) text_ = header_;
  uint64_t fileDropped = fileDropped_[kBufferFull] + fileDropped_[kWriteFailed];
  AppendDroppedLines(text_, fileDropped);
  uint64_t full = fileDropped_[kBufferFull];
  uint64_t failed = fileDropped_[kWriteFailed];
  for (const Span& span : pending_[kBufferFull]) full += span.count;
  for (const Span& span : pending_[kWriteFailed]) failed += span.count;
  endLine(full, failed);
  // Into the room kept for it; if even that fails, the end line alone with
  // what the file tells.
  if (file_->Append(text_.data(), text_.size()) == 0) {
    for (auto& spans : pending_) spans.fill(Span{});
    return;
  }
  // The totals still count every loss: those whose dropped lines did not
  // fit are told by the end line alone.
  text_.clear();
  if (headerDue_) text_ = header_;
  endLine(full, failed);
  text_.pop_back();
  text_.pop_back();
  const uint64_t listed = fileDropped_[kBufferFull] + fileDropped_[kWriteFailed];
  IntField(text_, "dropped_not_listed", static_cast<int64_t>(full + failed - listed));
  text_ += "}\n";
  if (file_->Append(text_.data(), text_.size()) == 0) {
    for (auto& spans : pending_) spans.fill(Span{});
  }
}

uint32_t TraceWriter::Rotate() {
  // Set aside first, while still open: a rotation that cannot begin (the
  // file is gone, the folder refuses) changes no kept file.
  const std::string aside = path_ + ".rotating";
  if (const uint32_t error = RenameOver(path_, aside); error != 0) return error;
  for (unsigned n = limit_.kept; n > 1; --n) {
    RenameOver(path_ + "." + std::to_string(n - 1), path_ + "." + std::to_string(n));
  }
  const uint32_t error = RenameOver(aside, path_ + ".1");
  if (error != 0) {
    fileError_ = error;
    lastError_.store(error, std::memory_order_relaxed);
  }
  if (file_) {
    EndFile(true);
    // Closed before the next is made: the room it kept is the new file's.
    file_.reset();
  }
  rotations_.fetch_add(1, std::memory_order_relaxed);
  StartFile();
  return 0;
}

void TraceWriter::RemakeIfGone() {
  if (!file_) return;
  const uint32_t gone = file_->MissingFrom(path_);
  if (gone == 0) return;
  // Whoever moved it may still read it: it is ended as any file is.
  fileError_ = gone;
  lastError_.store(gone, std::memory_order_relaxed);
  EndFile(false);
  file_.reset();
  StartFile();
}

bool TraceWriter::StartFile() {
  uint32_t error = 0;
  file_ = TraceFile::Create(path_, error);
  ++fileNumber_;
  header_ = headerStart_ + ",\"file\":" + std::to_string(fileNumber_) + "}\n";
  fileRecords_ = 0;
  fileDropped_ = {};
  fileError_ = 0;
  headerDue_ = true;
  if (!file_) {
    pendingError_ = error;
    lastError_.store(error, std::memory_order_relaxed);
    return false;
  }
  // The room for the closing lines from the start, so that a disk that
  // fills before the first batch still leaves room to say what was lost.
  // Without it the header still goes out; its end line then tells the
  // totals alone if need be.
  file_->KeepRoom(header_.size() + kClosingRoom);
  headerDue_ = file_->Append(header_.data(), header_.size()) != 0;
  return true;
}

}  // namespace vu30::trace
