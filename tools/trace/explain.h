/* SPDX-License-Identifier: MIT */
// What a trace's records mean in the system's own terms: each exchange of the
// driver with a dispenser becomes one timeline entry ("post 3 SetPrice nozzle
// 2 41.30 → acknowledged"), with a dispenser's message and the worker's
// answer to it joined in one entry. The explainer streams: what it holds is
// bounded by a window of time and a number of bytes, not by the trace's size.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "trace_reader.h"

namespace vu30::trace {

enum class Outcome {
  Good,      // acknowledged, answered, figures read
  Rejected,  // the reply check refused the reply
  Failed,    // the exchange was not made (a result other than 0), or no answer came
  Fault,     // the dispatcher raised
  Refused,   // the worker refused a dose
  Ignored,   // the driver dropped a message
  Setup,     // registrations and channel set-up
  Unknown,   // records were dropped where this exchange's end would be
};

const char* OutcomeName(Outcome o);

// The post of an exchange that concerns every post: records dropped on a
// line the file does not name. (A message's post is its address less 32, and
// may be below 0 in a damaged file.)
inline constexpr int kAllPosts = -1000;

// The record lines an exchange was made of: its own, and for a message the
// worker's answer. Held in place: a trace has millions of exchanges.
class RecordLines {
 public:
  void push_back(std::size_t line) {
    if (size_ < lines_.size()) lines_[size_++] = line;
  }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t front() const { return lines_[0]; }
  std::size_t operator[](std::size_t i) const { return lines_[i]; }
  const std::size_t* begin() const { return lines_.data(); }
  const std::size_t* end() const { return lines_.data() + size_; }

 private:
  std::array<std::size_t, 2> lines_{};
  std::size_t size_ = 0;
};

struct Exchange {
  double t = 0;  // microseconds since the trace was opened
  double dur = 0;
  int post = 0;  // or kAllPosts
  // What it was, e.g. "SetPrice", "price request": one of the explainer's
  // names, which are kept for the whole run.
  std::string_view kind;
  std::string text;  // the timeline's words, without time and post
  Outcome outcome = Outcome::Good;
  std::string cause;               // why it failed, for failures
  std::optional<double> answerUs;  // a message: the time to the worker's answer
  std::string detail;              // the bytes, decoded
  RecordLines lines;               // the records it was made of
  bool dropped = false;            // not an exchange: a span of dropped records
  uint64_t droppedCount = 0;       // of such a span

  // A failure is what the summary counts by cause.
  bool IsFailure() const { return !cause.empty(); }
  // Each field as a new exchange has it; the texts keep their room, as the
  // explainer builds each exchange in a slot that held an earlier one.
  void Clear() {
    t = dur = 0;
    post = 0;
    kind = {};
    text.clear();
    outcome = Outcome::Good;
    cause.clear();
    answerUs.reset();
    detail.clear();
    lines = {};
    dropped = false;
    droppedCount = 0;
  }
};

// A first-in-first-out queue in one block that grows to the most it held
// and is then reused: items go in and out without an allocation each, as a
// deque of items this large would make. Its room is a power of two, so that
// a place in the block is found with a mask.
template <typename T>
class RingQueue {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  T& front() { return slots_[head_]; }
  const T& front() const { return slots_[head_]; }
  T& back() { return (*this)[size_ - 1]; }
  const T& back() const { return (*this)[size_ - 1]; }
  T& operator[](std::size_t i) { return slots_[Slot(i)]; }
  const T& operator[](std::size_t i) const { return slots_[Slot(i)]; }
  // A slot at the back, holding whatever its last item left there: the
  // caller assigns it whole.
  T& push_back_slot() {
    if (size_ == slots_.size()) Grow();
    ++size_;
    return back();
  }
  void push_back(T&& v) { push_back_slot() = std::move(v); }
  void pop_back() { --size_; }
  void pop_front() {
    head_ = (head_ + 1) & mask_;
    --size_;
  }

 private:
  std::size_t Slot(std::size_t i) const { return (head_ + i) & mask_; }
  // Seldom: out of the way of the paths that put items in.
  [[gnu::noinline]] void Grow() {
    std::vector<T> grown(std::max<std::size_t>(16, slots_.size() * 2));
    for (std::size_t i = 0; i < size_; ++i) grown[i] = std::move((*this)[i]);
    slots_ = std::move(grown);
    mask_ = slots_.size() - 1;
    head_ = 0;
  }

  std::vector<T> slots_;
  std::size_t mask_ = 0;  // the room less one
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

// Turns a trace's items into exchanges in time order. The file is in time
// order only within a window: records are put in order within kReorderUs,
// while they take at most kReorderBytes. A message waits for its answer at
// most kAnswerWaitUs of the trace's time, while the exchanges after it take
// at most kHeldBytes (a trace busier than about 10,000 exchanges a second
// waits less, and says so).
class Explainer {
 public:
  static constexpr double kReorderUs = 1e6;
  static constexpr std::size_t kReorderBytes = std::size_t{24} << 20;
  static constexpr double kAnswerWaitUs = 10e6;
  static constexpr std::size_t kHeldBytes = std::size_t{48} << 20;
  static constexpr std::size_t kKeptSpans = 1024;

  // withDetail: each exchange's detail is made (the page shows it).
  // allTexts: each exchange's text is made; else only those of failures,
  // messages and dropped spans (what the summary and the failures show).
  explicit Explainer(ItemSource& source, bool withDetail = true, bool allTexts = true)
      : source_(source), withDetail_(withDetail), allTexts_(allTexts) {}

  // From now on the detail is made for failures only (a page that draws no
  // more than these): a message's when it is judged to have failed.
  void DetailOfFailuresOnly() { detailOfFailuresOnly_ = true; }
  // From now on the texts are made as for allTexts false.
  void TextsOfFailuresOnly() { allTexts_ = false; }

  // The next exchange, or null at the end of the trace. It is the one the
  // explainer held, handed out in place: the caller may read it, or move
  // from it, until the next call.
  Exchange* Next();
  // Records that came later than kReorderUs after their time: they are
  // explained where they came, out of order.
  uint64_t LateRecords() const { return late_; }

 private:
  struct Queued {
    double t;
    uint64_t order;
    TraceItem item;
  };
  struct Later {
    bool operator()(const Queued& a, const Queued& b) const {
      return a.t != b.t ? a.t > b.t : a.order > b.order;
    }
  };
  struct Held {
    Exchange e;
    bool awaiting = false;  // a message whose answer may still come
    std::size_t bytes = 0;  // what it was counted as when held
    // A message whose detail is made only if it fails (a page that draws
    // no more than the failures): its bytes, kept until it is judged.
    bool detailIfFailed = false;
    KeptBytes message;
    int messageLength = 0;
  };
  struct Awaited {
    uint64_t held = 0;    // its place among the held exchanges
    int code = -1;        // the message's code
    bool active = false;  // a message awaits its answer on the post
  };

  bool AnyQueued() const { return !inOrder_.empty() || !outOfOrder_.empty(); }
  // Whether the queued item that comes first, by (time, place in the file),
  // is among those out of order; and its time.
  bool OutOfOrderFirst() const;
  double FirstQueuedUs() const;
  void Take(const TraceItem& item);
  void Explain(const TraceRecord& r);
  void ExplainDropped(const DroppedSpan& d);
  // A new exchange, built where it is held: at the back of the held ones,
  // not yet counted. Hold counts it; an exchange not held is popped.
  Exchange& NewExchange();
  void Hold(bool awaiting);
  // A judged message's detail, made now if it failed and was put off.
  static void DetailIfFailed(Held& h, const TraceRecord* answer);
  // A message that got no answer up to untilUs: not answered, or unknown
  // when records of its post were dropped in between.
  void Unanswered(int post, double untilUs, const std::string& words);
  // The message awaiting its answer on the post, or null.
  Awaited* AwaitedOn(int post);

  ItemSource& source_;
  const bool withDetail_;
  bool allTexts_;
  bool detailOfFailuresOnly_ = false;
  bool ended_ = false;
  // The items read and not yet explained. The file is nearly always in time
  // order: items that come in order wait in file order, and only those that
  // come earlier than the last of them are sorted.
  RingQueue<Queued> inOrder_;
  std::priority_queue<Queued, std::vector<Queued>, Later> outOfOrder_;
  std::size_t queuedBytes_ = 0;
  std::size_t heldBytes_ = 0;
  uint64_t read_ = 0;
  double latestReadUs_ = 0;
  double doneUs_ = 0;  // the latest time explained
  uint64_t late_ = 0;
  RingQueue<Held> held_;
  uint64_t heldBase_ = 0;   // the place of held_.front()
  bool handedOut_ = false;  // held_.front() is the exchange Next handed out
  // By post; an entry stays when its message is judged, so that the next
  // message on the post is no new entry in the map.
  std::map<int, Awaited> awaiting_;
  std::map<int, bool> impulsePorts_;
  std::deque<DroppedSpan> spans_;  // the recent ones
};

// The exchanges of a whole trace, in time order.
std::vector<Exchange> Explain(const Trace& trace);

// The digits of line-coded bytes as text: "2 1 4 1 3 0"; a byte that is not
// a line code is shown as [0x6b].
std::string DecodeBytes(std::span<const uint8_t> bytes);

// The dispenser type a line settings word's top byte names, as the port
// type table does.
std::string TypeByteName(int typeByte);

}  // namespace vu30::trace
