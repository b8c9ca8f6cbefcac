// SPDX-License-Identifier: MIT
#include "explain.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "link/line_coding.h"

namespace vu30::trace {
namespace {

// Every byte's digit, or kNoLineCode: looked up, as every record's bytes are
// decoded, rather than tested bit pair by bit pair.
constexpr uint8_t kNoLineCode = 0xFF;
constexpr std::array<uint8_t, 256> kLineDigits = [] {
  std::array<uint8_t, 256> digits{};
  for (std::size_t b = 0; b < digits.size(); ++b) {
    const auto byte = static_cast<uint8_t>(b);
    digits[b] = link::IsValidLineByte(byte) ? link::DecodeLineByte(byte) : kNoLineCode;
  }
  return digits;
}();
bool IsValidLineByte(uint8_t b) { return kLineDigits[b] != kNoLineCode; }
uint8_t DecodeLineByte(uint8_t b) { return kLineDigits[b]; }

std::string Hex(int64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// "0x6b", as printf's "0x%02x" writes it.
std::string ByteHex(uint8_t b) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  return {'0', 'x', kDigits[b >> 4], kDigits[b & 0xF]};
}

// Decoded digits, held in place: no more than the bytes a record keeps, so
// that explaining a record allocates nothing for them.
class DigitList {
 public:
  void push_back(uint8_t d) {
    if (size_ < digits_.size()) digits_[size_++] = d;
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t operator[](std::size_t i) const { return digits_[i]; }
  const uint8_t* begin() const { return digits_.data(); }
  const uint8_t* end() const { return digits_.data() + size_; }
  operator std::span<const uint8_t>() const { return {digits_.data(), size_}; }

 private:
  std::array<uint8_t, kKeptBytes> digits_{};
  std::size_t size_ = 0;
};

// digits[from, from + n) as a decimal amount in hundredths: "41.30".
std::string Amount(const DigitList& digits, std::size_t from, std::size_t n) {
  if (from + n > digits.size()) return "?";
  uint64_t v = 0;
  for (std::size_t i = from; i < from + n; ++i) {
    if (digits[i] > 9) return "?";
    v = v * 10 + digits[i];
  }
  // As "%llu.%02llu" prints it, without printf's cost on every sale.
  char buf[32];
  char* end = std::to_chars(buf, buf + sizeof buf - 3, v / 100).ptr;
  *end++ = '.';
  *end++ = static_cast<char>('0' + v % 100 / 10);
  *end++ = static_cast<char>('0' + v % 10);
  return std::string(buf, end);
}

// The digits of coded request bytes, or nothing when a byte is no line code.
std::optional<DigitList> Digits(std::span<const uint8_t> coded) {
  DigitList d;
  for (uint8_t b : coded) {
    if (!IsValidLineByte(b)) return std::nullopt;
    d.push_back(DecodeLineByte(b));
  }
  return d;
}

// A received reply or message judged by the driver's rules: a leading byte
// that is no line code is dropped, every other byte but the closing zero
// must be one.
struct Judged {
  bool accepted = false;
  DigitList digits;  // decoded, without the closing zero
  std::string why;   // why it was refused
};

Judged Judge(std::span<const uint8_t> bytes, int count, int awaited) {
  Judged j;
  if (count != awaited) {
    j.why = std::to_string(count) + (count == 1 ? " byte, " : " bytes, ") +
            std::to_string(awaited) + " awaited (0xDB)";
    return j;
  }
  if (bytes.empty() || bytes.back() != 0) {
    j.why = "not closed by a zero byte (0xDE)";
    return j;
  }
  const std::size_t start = IsValidLineByte(bytes[0]) ? 0 : 1;
  for (std::size_t i = start; i + 1 < bytes.size(); ++i) {
    if (!IsValidLineByte(bytes[i])) {
      j.why = "byte " + ByteHex(bytes[i]) + " at " + std::to_string(i) + " is no line code (0xDE)";
      return j;
    }
    j.digits.push_back(DecodeLineByte(bytes[i]));
  }
  j.accepted = true;
  return j;
}

// kind: one of a few names, written where it is kept.
struct Request {
  std::string_view kind;
  std::string text;
};

Request NameHostRequest(const std::optional<DigitList>& digits, bool withText) {
  if (!digits || digits->empty()) return {"request", ""};
  const auto& d = *digits;
  const auto named = [withText](const char* kind, const auto& text) -> Request {
    if (!withText) return {kind, ""};
    return {kind, text()};
  };
  switch (d[0]) {
    case 2:
      if (d.size() == 6) {
        return named("SetPrice", [&] {
          return "SetPrice nozzle " + std::to_string(d[1] + 1) + " " + Amount(d, 2, 4);
        });
      }
      break;
    case 0:
      return named("StartPump", [] { return std::string("StartPump"); });
    case 5:
      return named("StopPump", [] { return std::string("StopPump"); });
    case 8:
      return named("PollDispense", [] { return std::string("PollDispense"); });
    case 4:
      return named("final figures",
                   [] { return std::string("final figures (ReadFinalDispense or PollDispense)"); });
    case 3:
      if (d.size() == 2) {
        return named("ReadCounter",
                     [&] { return "ReadCounter nozzle " + std::to_string(d[1] + 1); });
      }
      break;
    case 11:
      if (d.size() == 2 && d[1] == 2) {
        return named("GetPumpState", [] { return std::string("GetPumpState asks the dispenser"); });
      }
      if (d.size() == 2 && d[1] == 1) {
        return named("state request", [] { return std::string("state request at OpenPost"); });
      }
      break;
    default:
      break;
  }
  return {"request", ""};
}

std::string DigitsText(std::span<const uint8_t> digits) {
  std::string s;
  for (uint8_t d : digits) {
    if (!s.empty()) s += ' ';
    s += std::to_string(d);
  }
  return s;
}

// What an accepted reply to a host request says.
// On an impulse-counting port (line settings' top byte 4: "FAS", "ER112")
// the running figure counts impulses.
std::string ReadReply(const std::optional<DigitList>& request, const DigitList& r, int awaited,
                      bool impulses) {
  if (awaited <= 1) return "acknowledged";
  const uint8_t command = request && !request->empty() ? (*request)[0] : 0xFF;
  if (command == 8 && impulses && r.size() > 5) {
    std::string count = DigitsText({r.begin() + 1, r.begin() + 6});
    std::erase(count, ' ');
    return "running count " + count + " impulses";
  }
  if ((command == 8 || command == 4) && r.size() > 5) {
    return (command == 8 ? "running volume " : "volume ") + Amount(r, 1, 5);
  }
  if (command == 3 && r.size() > 11) {
    const int nozzle = r[11] + 1;
    if (request->size() == 2 && nozzle != (*request)[1] + 1) {
      return "counter of nozzle " + std::to_string(nozzle) + ", not the one asked";
    }
    return "counter " + Amount(r, 1, 10);
  }
  if (command == 11 && r.size() > 2) {
    if (r[1] == 0) return "nozzle " + std::to_string(r[2] + 1) + " in use";
    if (r[1] == 1) return "idle";
    return "state digit " + std::to_string(r[1]);
  }
  return "reply " + DigitsText(r);
}

// "message code N" for each code a message may have (a digit, 0 to 15, or
// -1 when it has none), kept for the whole run as the other names of kinds.
constexpr int kLeastCode = -1;
constexpr auto kMessageCodeKinds = [] {
  std::array<std::array<char, 16>, 17> kinds{};
  for (int code = kLeastCode; code <= 15; ++code) {
    auto& kind = kinds[static_cast<std::size_t>(code - kLeastCode)];
    std::size_t n = 0;
    for (const char c : std::string_view("message code ")) kind[n++] = c;
    const int magnitude = code < 0 ? -code : code;
    if (code < 0) kind[n++] = '-';
    if (magnitude >= 10) kind[n++] = '1';
    kind[n] = static_cast<char>('0' + magnitude % 10);
  }
  return kinds;
}();

std::string_view MessageCodeKind(int code) {
  if (code < kLeastCode || code > 15) return "message code";
  return kMessageCodeKinds[static_cast<std::size_t>(code - kLeastCode)].data();
}

struct Message {
  bool delivered = false;
  int code = -1;
  std::string_view kind;
  std::string text;
};

// A dispenser's message, judged as the driver's routing judges it.
Message NameMessage(const TraceRecord& m) {
  Message out;
  const int length = m.requestLength;
  if (length <= 3) {
    out.kind = "message ignored";
    out.text = "the dispenser sends " + std::to_string(length) + " bytes → ignored: too short";
    return out;
  }
  if (length > static_cast<int>(m.request.size())) {
    out.kind = "long message";
    out.text = "the dispenser sends " + std::to_string(length) + " bytes";
    out.delivered = true;
    return out;
  }
  const Judged j = Judge(m.request, length, length);
  if (!j.accepted) {
    out.kind = "message ignored";
    out.text = "the dispenser sends a message → ignored: " + j.why.substr(0, j.why.find(" ("));
    return out;
  }
  const auto& d = j.digits;
  out.code = d.empty() ? -1 : d[0];
  const std::string nozzle = d.size() > 1 ? std::to_string(d[1] + 1) : "?";
  if ((out.code == 0 || out.code == 8 || out.code == 9) && d.size() != 3) {
    out.kind = "message ignored";
    out.text = "the dispenser sends code " + std::to_string(out.code) + " with " +
               std::to_string(d.size()) + " digits → ignored: three awaited";
    return out;
  }
  out.delivered = true;
  switch (out.code) {
    case 0:
    case 9:
      out.kind = "price request";
      out.text = "the dispenser asks the price of nozzle " + nozzle;
      break;
    case 8:
      out.kind = "dose request";
      out.text = "the dispenser asks the dose of nozzle " + nozzle;
      break;
    case 1:
      out.kind = "report";
      out.text = "the dispenser reports the end of a dispense";
      if (d.size() > 11) {
        out.text += " on nozzle " + std::to_string(d[11] + 1) + ": " + Amount(d, 1, 5) + ", " +
                    Amount(d, 6, 5);
      }
      break;
    default:
      out.kind = MessageCodeKind(out.code);
      out.text = "the dispenser sends code " + std::to_string(out.code);
      break;
  }
  return out;
}

// The worker's answer as words, given the message it answers (code, or -1).
std::string NameAnswer(const TraceRecord& a, int code, Outcome& outcome) {
  const auto d = Digits(a.request);
  if (!d) return "answered " + DecodeBytes(a.request);
  if (d->empty()) {
    if (code == 8) {
      outcome = Outcome::Refused;
      return "refused; the pump is stopped";
    }
    return "acknowledged";
  }
  if (d->size() == 11 && (*d)[0] == 1) {
    const std::string price = Amount(*d, 7, 4);
    if (code == 8) return "released " + Amount(*d, 2, 5) + " L at " + price;
    return "answered " + price;
  }
  if (d->size() == 1 && (*d)[0] == 9) return "answered with command 9";
  return "answered " + DecodeBytes(a.request);
}

// How a Transact went, when not well: the outcome and its cause.
bool Failure(const TraceRecord& r, Outcome& outcome, std::string& words, std::string& cause) {
  if (!r.fault.empty()) {
    outcome = Outcome::Fault;
    cause = r.fault == "exception" ? "exception" : "raised " + r.fault;
    words = r.fault == "exception" ? "the dispatcher threw" : "the dispatcher raised " + r.fault;
    return true;
  }
  if (r.result && *r.result != 0) {
    outcome = Outcome::Failed;
    cause = "result " + Hex(*r.result);
    words = "failed: result " + Hex(*r.result);
    return true;
  }
  if (r.replyChecked && r.verdict == false) {
    const Judged j = Judge(r.reply, r.count, r.awaited);
    outcome = Outcome::Rejected;
    std::string why = j.accepted ? "refused" : j.why;
    if (r.error && j.accepted) why += " (" + Hex(*r.error) + ")";
    cause = "rejected " + (r.error ? Hex(*r.error) : std::string("reply"));
    words = "reply rejected: " + why;
    return true;
  }
  return false;
}

std::string Seconds(double us) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f s", us / 1e6);
  return buf;
}

// A message's bytes, and its length when they were cut.
std::string MessageDetail(std::span<const uint8_t> bytes, int length) {
  std::string s = "message [" + DecodeBytes(bytes) + "]";
  if (length > static_cast<int>(bytes.size())) s += " of " + std::to_string(length);
  return s;
}

std::string Detail(const TraceRecord& r) {
  std::string s;
  if (r.entry == Entry::Transact) {
    s += "address " + std::to_string(r.address) + ", request [" + DecodeBytes(r.request) + "]";
    if (r.awaited > 0) {
      // The type travels line-coded, as the request's digits do.
      const auto type = static_cast<uint8_t>(r.type);
      s += ", reply type " + DecodeBytes({&type, 1}) + ", awaited " + std::to_string(r.awaited);
    }
    if (r.replyChecked) {
      s += ", received [" + DecodeBytes(r.reply) + "] count " + std::to_string(r.count);
    }
    if (r.status) s += ", status " + std::to_string(*r.status);
    if (r.error) s += ", error " + Hex(*r.error);
  } else if (r.entry == Entry::RouteMessage) {
    s = MessageDetail(r.request, r.requestLength);
  }
  return s;
}

// What an item takes while queued: the texts a line may carry are cut where
// they are read, so this is bounded too. The part of the item its kind does
// not use counts as an empty text.
std::size_t ItemBytes(const TraceItem& item) {
  const std::size_t kEmptyText = std::string().capacity();
  return sizeof(TraceItem) + 2 * sizeof(double) +
         (item.kind == TraceItem::Kind::Record ? item.record.fault.capacity() + kEmptyText
                                               : kEmptyText + item.dropped.reason.capacity());
}

}  // namespace

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::Good:
      return "good";
    case Outcome::Rejected:
      return "rejected";
    case Outcome::Failed:
      return "failed";
    case Outcome::Fault:
      return "fault";
    case Outcome::Refused:
      return "refused";
    case Outcome::Ignored:
      return "ignored";
    case Outcome::Setup:
      return "setup";
    case Outcome::Unknown:
      return "unknown";
  }
  return "?";
}

std::string DecodeBytes(std::span<const uint8_t> bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    if (IsValidLineByte(b)) {
      s += std::to_string(DecodeLineByte(b));
    } else {
      s += '[';
      s += ByteHex(b);
      s += ']';
    }
  }
  return s;
}

std::string TypeByteName(int typeByte) {
  switch (typeByte) {
    case 3:
      return "ЕС-2000";
    case 4:
      return "FAS or ER112";
    case 5:
      return "ER3/2";
    default:
      return "no dispenser type";
  }
}

Exchange* Explainer::Next() {
  if (handedOut_) {
    heldBytes_ -= held_.front().bytes;
    held_.pop_front();
    ++heldBase_;
    handedOut_ = false;
  }
  for (;;) {
    if (!held_.empty()) {
      Held& front = held_.front();
      if (front.awaiting) {
        const double waited = doneUs_ - front.e.t;
        if (ended_ && !AnyQueued()) {
          Unanswered(front.e.post, INFINITY, "");
        } else if (waited > kAnswerWaitUs || heldBytes_ > kHeldBytes) {
          char words[96];
          std::snprintf(words, sizeof words, "no answer within %.3g s%s", waited / 1e6,
                        waited > kAnswerWaitUs ? "" : " (no more could be held to wait longer)");
          Unanswered(front.e.post, doneUs_, words);
        }
      }
      if (!front.awaiting) {
        handedOut_ = true;
        return &front.e;
      }
    }
    if (AnyQueued() &&
        (ended_ || FirstQueuedUs() <= latestReadUs_ - kReorderUs || queuedBytes_ > kReorderBytes)) {
      // Explained where it waits, then let go.
      const bool early = OutOfOrderFirst();
      const TraceItem& first = early ? outOfOrder_.top().item : inOrder_.front().item;
      queuedBytes_ -= ItemBytes(first);
      Take(first);
      if (early) {
        outOfOrder_.pop();
      } else {
        inOrder_.pop_front();
      }
      continue;
    }
    if (!ended_) {
      // Read in place at the back of the queue: nearly every item stays there.
      Queued& slot = inOrder_.push_back_slot();
      bool read = false;
      try {
        read = source_.Next(slot.item);
      } catch (...) {
        // A reading that fails leaves the queue as it was.
        inOrder_.pop_back();
        throw;
      }
      if (!read) {
        inOrder_.pop_back();
        ended_ = true;
        continue;
      }
      const TraceItem& item = slot.item;
      double t = 0;
      if (item.kind == TraceItem::Kind::Record) {
        t = item.record.t;
      } else {
        // Known at once, so that a message is not called unanswered when
        // its answer may be among them.
        t = item.dropped.fromUs;
        spans_.push_back(item.dropped);
        while (
            spans_.size() > kKeptSpans ||
            (!spans_.empty() && spans_.front().toUs < doneUs_ - kAnswerWaitUs - 2 * kReorderUs)) {
          spans_.pop_front();
        }
      }
      latestReadUs_ = std::max(latestReadUs_, t);
      queuedBytes_ += ItemBytes(item);
      slot.t = t;
      slot.order = read_++;
      if (inOrder_.size() >= 2 && inOrder_[inOrder_.size() - 2].t > t) {
        outOfOrder_.push({t, slot.order, std::move(slot.item)});
        inOrder_.pop_back();
      }
      continue;
    }
    if (!AnyQueued() && held_.empty()) return nullptr;
  }
}

bool Explainer::OutOfOrderFirst() const {
  return !outOfOrder_.empty() && (inOrder_.empty() || Later()(inOrder_.front(), outOfOrder_.top()));
}

double Explainer::FirstQueuedUs() const {
  return OutOfOrderFirst() ? outOfOrder_.top().t : inOrder_.front().t;
}

void Explainer::Take(const TraceItem& item) {
  if (item.kind == TraceItem::Kind::Dropped) {
    ExplainDropped(item.dropped);
    return;
  }
  if (item.record.t < doneUs_) ++late_;
  doneUs_ = std::max(doneUs_, item.record.t);
  Explain(item.record);
}

Exchange& Explainer::NewExchange() {
  Held& h = held_.push_back_slot();
  h.e.Clear();
  h.awaiting = false;
  h.bytes = 0;
  h.detailIfFailed = false;
  return h.e;
}

void Explainer::DetailIfFailed(Held& h, const TraceRecord* answer) {
  if (!h.detailIfFailed) return;
  h.detailIfFailed = false;
  if (!h.e.IsFailure()) return;
  const KeptBytes& message = h.message;
  h.e.detail = MessageDetail(message, h.messageLength);
  if (answer != nullptr) h.e.detail += "; answer: " + Detail(*answer);
}

void Explainer::Hold(bool awaiting) {
  Held& h = held_.back();
  const Exchange& e = h.e;
  if (awaiting) awaiting_[e.post] = {heldBase_ + held_.size() - 1, -1, true};
  // The texts' lengths, not their room: the slot's texts keep the room an
  // earlier exchange needed. The answer's words and detail join a message
  // later: counted now.
  const std::size_t bytes = sizeof(Held) + e.kind.size() + e.text.size() + e.cause.size() +
                            e.detail.size() + (awaiting ? 256 : 0);
  heldBytes_ += bytes;
  h.awaiting = awaiting;
  h.bytes = bytes;
}

Explainer::Awaited* Explainer::AwaitedOn(int post) {
  const auto it = awaiting_.find(post);
  return it != awaiting_.end() && it->second.active ? &it->second : nullptr;
}

void Explainer::Unanswered(int post, double untilUs, const std::string& words) {
  Awaited* const a = AwaitedOn(post);
  if (a == nullptr) return;
  Held& h = held_[static_cast<std::size_t>(a->held - heldBase_)];
  a->active = false;
  h.awaiting = false;
  Exchange& m = h.e;
  const DroppedSpan* lost = nullptr;
  for (const DroppedSpan& s : spans_) {
    if ((!s.channel || *s.channel == post) && s.toUs >= m.t && s.fromUs <= untilUs) lost = &s;
  }
  if (lost != nullptr) {
    m.text += " → answer unknown: " + std::to_string(lost->count) + " records " +
              (lost->channel ? "of this post " : "") + "dropped (line " +
              std::to_string(lost->line) + ")";
    m.outcome = Outcome::Unknown;
  } else if (words.empty()) {
    m.text += " → the trace ends before an answer";
    m.outcome = Outcome::Unknown;
  } else {
    m.text += " → ";
    m.text += words;
    m.outcome = Outcome::Failed;
    m.cause = "message not answered";
  }
  DetailIfFailed(h, nullptr);
}

void Explainer::ExplainDropped(const DroppedSpan& d) {
  Exchange& e = NewExchange();
  e.t = d.fromUs;
  e.dur = d.toUs - d.fromUs;
  e.post = d.channel.value_or(kAllPosts);
  e.kind = "records dropped";
  e.outcome = Outcome::Unknown;
  e.dropped = true;
  e.droppedCount = d.count;
  e.text = "records dropped: " + std::to_string(d.count) + " (" + d.reason + ")";
  if (withDetail_) {
    e.detail = d.spanGiven ? "from " + Seconds(d.fromUs) + " to " + Seconds(d.toUs)
                           : "the file does not say when; about " + Seconds(d.fromUs) + " to " +
                                 Seconds(d.toUs);
  }
  e.lines.push_back(d.line);
  Hold(false);
}

void Explainer::Explain(const TraceRecord& r) {
  // Status and error reads and sets outside an exchange are counted only,
  // unless the dispatcher raised: no exchange is made for them.
  const bool countedOnly = r.entry == Entry::GetChannelError ||
                           r.entry == Entry::GetChannelStatus ||
                           r.entry == Entry::SetChannelError || r.entry == Entry::SetChannelStatus;
  if (countedOnly && r.fault.empty()) return;
  Exchange& e = NewExchange();
  e.t = r.t;
  e.dur = r.dur;
  e.post = r.channel;
  e.lines.push_back(r.line);
  switch (r.entry) {
    case Entry::Transact: {
      if (r.address >= 33) {
        // The worker's answer: joined to the message it answers.
        Awaited* const a = AwaitedOn(r.channel);
        const int code = a != nullptr ? a->code : -1;
        Outcome outcome = Outcome::Good;
        std::string words = NameAnswer(r, code, outcome);
        std::string cause;
        Failure(r, outcome, words, cause);
        if (a != nullptr) {
          held_.pop_back();  // no exchange of its own
          Held& h = held_[static_cast<std::size_t>(a->held - heldBase_)];
          Exchange& m = h.e;
          m.text += " → ";
          m.text += words;
          m.outcome = outcome;
          m.cause = cause;
          m.answerUs = r.t - m.t;
          m.lines.push_back(r.line);
          if (!m.detail.empty()) m.detail += "; answer: " + Detail(r);
          DetailIfFailed(h, &r);
          h.awaiting = false;
          a->active = false;
          return;
        }
        e.kind = "worker answer";
        e.text = "the worker sends [" + DecodeBytes(r.request) + "] → " + words;
        e.outcome = outcome;
        e.cause = cause;
        break;
      }
      const auto digits = Digits(r.request);
      std::string words;
      const bool failed = Failure(r, e.outcome, words, e.cause);
      // Only a failure's words when the view shows no others.
      Request q = NameHostRequest(digits, allTexts_ || failed);
      e.kind = q.kind;
      if (!failed && !allTexts_) break;
      if (!failed) {
        if (r.replyChecked) {
          const Judged j = Judge(r.reply, r.count, r.awaited);
          words = ReadReply(digits, j.digits, r.awaited, impulsePorts_[r.channel]);
        } else {
          words = r.awaited > 0 ? "reply not checked" : "sent";
        }
      }
      // Appended in place: no text made only to be copied.
      if (q.kind == "request") {
        e.text = "request [";
        e.text += DecodeBytes(r.request);
        e.text += ']';
      } else {
        e.text = std::move(q.text);
      }
      e.text += " → ";
      e.text += words;
      break;
    }
    case Entry::RouteMessage: {
      Message m = NameMessage(r);
      e.kind = m.kind;
      e.text = std::move(m.text);
      if (!m.delivered) {
        e.outcome = Outcome::Ignored;
        e.cause = "message ignored";
        break;
      }
      Unanswered(e.post, r.t, "no answer");  // a message overtaken by the next one
      if (withDetail_ && !detailOfFailuresOnly_) {
        e.detail = Detail(r);
      } else if (withDetail_) {
        // Made when it is judged, if it fails: most messages are answered.
        Held& h = held_.back();
        h.detailIfFailed = true;
        h.message = r.request;
        h.messageLength = r.requestLength;
      }
      Hold(true);
      awaiting_[r.channel].code = m.code;
      return;
    }
    case Entry::CheckReply: {
      e.kind = "reply check";
      const Judged j = Judge(r.reply, r.count, r.awaited);
      e.text = std::string("reply check on its own → ") +
               (r.verdict == true ? "accepted" : "rejected: " + j.why);
      e.outcome = r.verdict == true ? Outcome::Good : Outcome::Rejected;
      if (e.outcome == Outcome::Rejected) e.cause = "rejected reply";
      break;
    }
    case Entry::ConfigureChannel: {
      e.kind = "ConfigureChannel";
      e.outcome = Outcome::Setup;
      const int typeByte = static_cast<int>((r.settings >> 24) & 0xFF);
      impulsePorts_[r.channel] = typeByte == 4;
      e.text = "channel configured: " + std::to_string(r.settings & 0xFFFF) + " baud, type byte " +
               std::to_string(typeByte) + " (" + TypeByteName(typeByte) + ")";
      if (!r.fault.empty()) {
        e.outcome = Outcome::Fault;
        e.cause = "raised " + r.fault;
        e.text += " → the dispatcher raised " + r.fault;
      }
      break;
    }
    case Entry::SetMessageHook:
    case Entry::SetPostInit:
    case Entry::SetReplyChecker:
    case Entry::PreparePost:
      e.kind = EntryName(r.entry);
      e.outcome = Outcome::Setup;
      if (!allTexts_) break;
      e.text = r.entry == Entry::SetMessageHook    ? "message hook registered"
               : r.entry == Entry::SetPostInit     ? "post initialisation registered"
               : r.entry == Entry::SetReplyChecker ? "reply check registered"
                                                   : "the dispatcher prepares the post";
      break;
    default:
      // A status or error read or set that raised.
      e.kind = EntryName(r.entry);
      e.outcome = Outcome::Fault;
      e.cause = "raised " + r.fault;
      e.text = std::string(e.kind) + " → the dispatcher raised " + r.fault;
      break;
  }
  if (withDetail_ && (!detailOfFailuresOnly_ || e.IsFailure())) e.detail = Detail(r);
  Hold(false);
}

namespace {

// A trace in memory as items in the file's order.
class TraceItems : public ItemSource {
 public:
  explicit TraceItems(const Trace& trace) : trace_(trace) {}
  bool Next(TraceItem& item) override {
    const bool haveRecord = record_ < trace_.records.size();
    const bool haveSpan = span_ < trace_.spans.size();
    if (!haveRecord && !haveSpan) return false;
    if (haveRecord && (!haveSpan || trace_.records[record_].line < trace_.spans[span_].line)) {
      item.kind = TraceItem::Kind::Record;
      item.record = trace_.records[record_++];
    } else {
      item.kind = TraceItem::Kind::Dropped;
      item.dropped = trace_.spans[span_++];
    }
    return true;
  }

 private:
  const Trace& trace_;
  std::size_t record_ = 0;
  std::size_t span_ = 0;
};

}  // namespace

std::vector<Exchange> Explain(const Trace& trace) {
  TraceItems items(trace);
  Explainer explainer(items);
  std::vector<Exchange> out;
  while (Exchange* e = explainer.Next()) out.push_back(std::move(*e));
  return out;
}

}  // namespace vu30::trace
