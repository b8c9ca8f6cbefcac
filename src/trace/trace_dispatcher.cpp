// SPDX-License-Identifier: MIT
// The tracing dispatcher: a port dispatcher whose every entry forwards to the
// host's own (the inner dispatcher), unchanged and on the calling thread, and
// records the call. The callbacks the driver registers (reply check, message
// hook, post initialisation) are passed on wrapped, so that the dispatcher's
// calls into the driver are recorded as well.
//
// What the host and the inner dispatcher hold of a trace (the dispatcher
// object and the wrapped callbacks) lives in a TraceGates that outlives the
// trace, because registrations are never withdrawn: the inner dispatcher may
// call a wrapped callback after the trace was closed, and the call then goes
// straight to the driver's own. The trace itself (the file, its writer and
// its buffers) is freed by vu30_trace_close. Closed gates are reused: first
// by a trace around the same inner dispatcher, and once a few are kept, by
// any, so that opening and closing traces does not grow the process.
//
// Recording takes no lock and shares nothing between posts: each channel has
// its own gate counter and its own ring of records.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <deque>
#include <forward_list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

#include "platform/thread_cancel.h"
#include "trace/trace_writer.h"
#include "vu30_trace.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/call_into_host.h"
#else
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vu30::trace {
namespace {

uint32_t ThreadId() {
#if defined(_WIN32)
  thread_local const uint32_t id = static_cast<uint32_t>(GetCurrentThreadId());
#else
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
#endif
  return id;
}

class TraceGates;

// A T made in place whose destructor never runs.
template <typename T>
class NeverDestroyed {
 public:
  NeverDestroyed() { new (storage_) T(); }
  T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

// The callbacks the driver registered for one channel (or post) and kind, as
// the trace passed them on: the wrapped call finds the driver's method here.
// A new registration replaces the method, as it replaces the registration
// in the inner dispatcher; a call under way reads either the old method or
// the new one whole (the version is odd while they change).
class Binding {
 public:
  Binding(TraceGates* gates, uint8_t key) : gates_(gates), key_(key) {}

  TraceGates& Gates() const { return *gates_; }
  uint8_t Key() const { return key_; }

  Vu30BoundMethod Method() const {
    for (;;) {
      // Acquired: a method written after the version turned odd makes the
      // second look see that version or a later one.
      const uint32_t before = version_.load(std::memory_order_acquire);
      void* const code = code_.load(std::memory_order_acquire);
      void* const data = data_.load(std::memory_order_acquire);
      if ((before & 1u) == 0 && version_.load(std::memory_order_relaxed) == before) {
        return {code, data};
      }
      std::this_thread::yield();
    }
  }

  // Makes method the one called; whether it is new to the trace of the given
  // generation (and so to be recorded).
  bool Set(Vu30BoundMethod method, uint32_t generation) {
    const Vu30BoundMethod now = Method();
    if (now.code == method.code && now.data == method.data &&
        recorded_.load(std::memory_order_acquire) == generation) {
      return false;
    }
    uint32_t v = version_.load(std::memory_order_relaxed);
    for (;;) {
      if ((v & 1u) != 0) {
        std::this_thread::yield();
        v = version_.load(std::memory_order_relaxed);
      } else if (version_.compare_exchange_weak(v, v + 1, std::memory_order_acquire)) {
        break;
      }
    }
    code_.store(method.code, std::memory_order_release);
    data_.store(method.data, std::memory_order_release);
    const bool fresh = recorded_.exchange(generation, std::memory_order_acq_rel) != generation ||
                       now.code != method.code || now.data != method.data;
    version_.store(v + 2, std::memory_order_release);
    return fresh;
  }

 private:
  std::atomic<uint32_t> version_{0};
  std::atomic<void*> code_{nullptr};
  std::atomic<void*> data_{nullptr};
  std::atomic<uint32_t> recorded_{0};  // the trace generation that recorded the method
  TraceGates* const gates_;
  const uint8_t key_;
};

enum Kind : std::size_t { kChecker, kHook, kInit, kKinds };

// What one channel (or post) of a trace has of its own.
struct alignas(64) Lane {
  std::atomic<uint32_t> inside{0};                       // calls under way that may use the trace
  std::array<std::atomic<Binding*>, kKinds> bindings{};  // made on first use, never freed
};

constexpr std::size_t kLanes = 256;  // one per value of a channel or post byte

class TraceGates {
 public:
  struct Handle {
    Vu30Dispatcher base;  // first: the address the host gets
    TraceGates* gates;
  };

  TraceGates() : handle_{{&kTable}, this} {}
  TraceGates(const TraceGates&) = delete;
  TraceGates& operator=(const TraceGates&) = delete;

  static TraceGates& From(Vu30Dispatcher* self) { return *reinterpret_cast<Handle*>(self)->gates; }

  Vu30Dispatcher* Traced() { return &handle_.base; }
  Vu30Dispatcher* Inner() const { return inner_.load(std::memory_order_acquire); }
  Lane& LaneOf(uint8_t key) { return lanes_[key]; }
  uint32_t Generation() const { return generation_.load(std::memory_order_acquire); }

  // The binding of key's lane for kind, made if there is none yet.
  Binding& BindingOf(uint8_t key, Kind kind) {
    std::atomic<Binding*>& slot = lanes_[key].bindings[kind];
    Binding* b = slot.load(std::memory_order_acquire);
    if (b != nullptr) return *b;
    auto made = std::make_unique<Binding>(this, key);
    if (slot.compare_exchange_strong(b, made.get(), std::memory_order_acq_rel)) {
      return *made.release();
    }
    return *b;
  }

  // Enters key's lane: the trace to record into, or null once closed. Every
  // Enter is followed by one Leave.
  TraceWriter* Enter(Lane& lane) {
    lane.inside.fetch_add(1, std::memory_order_seq_cst);
    return writer_.load(std::memory_order_seq_cst);
  }
  static void Leave(Lane& lane) { lane.inside.fetch_sub(1, std::memory_order_release); }

  void Start(Vu30Dispatcher* inner, std::unique_ptr<TraceWriter> writer) {
    inner_.store(inner, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_acq_rel);
    owned_ = std::move(writer);
    writer_.store(owned_.get(), std::memory_order_seq_cst);
  }
  // No call records from now on; the trace is finished once the calls that
  // still use it are out. Must not be called from inside a traced call.
  void Stop() {
    writer_.store(nullptr, std::memory_order_seq_cst);
    // seq_cst as Enter's increment and load: of the two stores, each side
    // sees the other's (a call either sees the trace closed, or is seen
    // here), by the language's single order of seq_cst operations.
    for (Lane& lane : lanes_) {
      while (lane.inside.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }
    owned_.reset();
  }
  // At the end of the process or the library: what was recorded goes to the
  // file; calls under way are not waited for, and the trace is not freed.
  void FinishAtExit() {
    writer_.store(nullptr, std::memory_order_seq_cst);
    if (owned_ && !leftToParent_) owned_->FinishAtExit();
  }
  // In a forked child: the trace is the parent's (its file, its writer
  // thread, which the child does not have). The child records nothing and
  // never finishes it; the gates are not reused.
  void LeaveToParent() {
    if (!Open()) return;
    writer_.store(nullptr, std::memory_order_seq_cst);
    leftToParent_ = true;
  }
  bool Open() const { return writer_.load(std::memory_order_acquire) != nullptr; }
  // The open trace's figures; false when the trace is closed.
  bool Status(WriterStatus& status) {
    Lane& lane = lanes_[0];
    TraceWriter* w = Enter(lane);
    if (w != nullptr) status = w->Status();
    Leave(lane);
    return w != nullptr;
  }

  static const Vu30DispatcherTable kTable;

 private:
  Handle handle_;
  std::atomic<Vu30Dispatcher*> inner_{nullptr};
  std::atomic<uint32_t> generation_{0};
  std::atomic<TraceWriter*> writer_{nullptr};
  std::unique_ptr<TraceWriter> owned_;  // the open trace; Start and Stop only
  bool leftToParent_ = false;           // set in a forked child before it runs on
  std::array<Lane, kLanes> lanes_{};
};

// Every TraceGates ever made, never destroyed (the inner dispatchers may hold
// their callbacks as long as the library is loaded), and the closed ones.
class GatesPool {
 public:
  // Closed gates beyond this many are reused for any inner dispatcher.
  static constexpr std::size_t kKeptForTheirDispatcher = 16;

  static GatesPool& Get() {
    static NeverDestroyed<GatesPool> pool;
    return pool.Get();
  }

  GatesPool() {
#if !defined(_WIN32)
    // The child has only the forking thread: the gates are walked without
    // the lock (a thread that held it is not there to let it go; a gates
    // being added is linked whole or not at all, and not yet open). Not
    // locked across fork either: a thread closing a trace holds the lock
    // while it waits for calls under way, one of which may be the fork.
    pthread_atfork(nullptr, nullptr, [] {
      GatesPool& pool = Get();
      pool.forked_ = true;
      for (TraceGates& g : pool.all_) g.LeaveToParent();
    });
#endif
  }

  // Gates for a new trace around inner, started with writer: closed ones of
  // inner if there are, new ones while few are kept, else the longest closed.
  TraceGates& Start(Vu30Dispatcher* inner, std::unique_ptr<TraceWriter> writer) {
    std::lock_guard lock(mutex_);
    TraceGates& g = Take(inner);
    g.Start(inner, std::move(writer));
    return g;
  }
  // Ends g's trace; false when it was not open.
  bool Close(TraceGates& g) {
    std::lock_guard lock(mutex_);
    if (!g.Open()) return false;
    g.Stop();
    closed_.push_back(&g);
    return true;
  }
  void FinishAtExit() {
#if defined(_WIN32)
    // The system has stopped the other threads; one may have held this.
    const bool mayBeHeldByAGoneThread = true;
#else
    // In a forked child, a thread the child does not have may have held it.
    const bool mayBeHeldByAGoneThread = forked_;
#endif
    if (!mayBeHeldByAGoneThread) {
      mutex_.lock();
    } else if (!mutex_.try_lock()) {
      return;
    }
    std::lock_guard lock(mutex_, std::adopt_lock);
    for (TraceGates& g : all_) g.FinishAtExit();
  }

 private:
  TraceGates& Take(Vu30Dispatcher* inner) {
    auto same = std::find_if(closed_.begin(), closed_.end(),
                             [&](TraceGates* g) { return g->Inner() == inner; });
    if (same == closed_.end() && made_ >= kKeptForTheirDispatcher && !closed_.empty()) {
      same = closed_.begin();
    }
    if (same != closed_.end()) {
      TraceGates* g = *same;
      closed_.erase(same);
      return *g;
    }
    all_.emplace_front();
    ++made_;
    return all_.front();
  }

 private:
  std::mutex mutex_;
  std::forward_list<TraceGates> all_;
  std::size_t made_ = 0;
  std::deque<TraceGates*> closed_;
  bool forked_ = false;  // this process is a forked child; set before it runs on
};

// A trace the host left open still gets what it recorded into its file when
// the process ends normally or the library is unloaded.
struct FinishOpenTracesAtExit {
  ~FinishOpenTracesAtExit() { GatesPool::Get().FinishAtExit(); }
} finishOpenTracesAtExit;

// The exchange under way on this thread, so that the reply check and the
// status and error set during it land in the exchange's own record.
struct ExchangeContext {
  const TraceGates* gates;
  uint8_t channel;
  Record* record;
  ExchangeContext* outer;
};
thread_local ExchangeContext* tExchange = nullptr;

ExchangeContext* ExchangeOf(const TraceGates& g, uint8_t channel) {
  ExchangeContext* c = tExchange;
  return c != nullptr && c->gates == &g && c->channel == channel ? c : nullptr;
}

Record NewRecord(const TraceWriter& w, Entry entry, uint8_t key) {
  Record r;
  r.timeNs = w.Now();
  r.thread = ThreadId();
  r.entry = entry;
  r.channel = key;
  return r;
}

void Finish(Record& r, const TraceWriter& w, bool returned, uint32_t faultCode) {
  r.durationNs = w.Now() - r.timeNs;
  if (!returned) {
    r.flags |= Record::kFaulted;
    r.faultCode = faultCode;
  }
}

void Keep(std::array<uint8_t, kKeptBytes>& to, const uint8_t* from, std::size_t length) {
  if (from != nullptr) std::memcpy(to.data(), from, std::min(length, to.size()));
}

// Runs call (a call into the host's or the driver's code), then finish
// (returned, fault code). An exception raised in call passes on unchanged.
// On Windows the host's structured exception passes the trace's frames as
// an entry that lets host exceptions pass: the search goes on to whatever
// lies below (the driver's guard, the host's handlers), so the host's
// frames and what they hold stay intact. When an unwind then crosses the
// forwarding frame, finish runs there (as a release of that entry) with the
// exception's code; an exception that a handler continues lets call return,
// and the record is completed as returned. Elsewhere a C++ exception passes
// through.
template <typename Call, typename Done>
void ForwardThen(Call& call, Done&& finish) {
  static_assert(std::is_trivially_destructible_v<std::remove_reference_t<Done>>);
#if defined(_WIN32)
  using Finish = std::remove_reference_t<Done>;
  struct Pending {
    Finish* finish;
    uint32_t code;
  } pending{&finish, 0u};
  // The entry first: its releases are those registered after it.
  const platform::HostEntry entry(platform::HostEntry::HostExceptions::kPass);
  const platform::ReleaseOnFault unwound(
      [](void* p) noexcept {
        auto* const forwarded = static_cast<Pending*>(p);
        (*forwarded->finish)(false, forwarded->code);
      },
      &pending);
  platform::PassingCall([](void* c) { (*static_cast<Call*>(c))(); }, &call, &pending.code);
  if (!unwound.Released()) finish(true, 0u);
#else
  try {
    call();
  } catch (...) {
    finish(false, 0u);
    throw;
  }
  finish(true, 0u);
#endif
}

// Forwards fn(inner) for an entry on key and records it; fill(record,
// result) completes the record and says whether it is to be kept on its own.
template <typename R, typename Fn, typename Fill>
R Recorded(Vu30Dispatcher* self, Entry entry, uint8_t key, Fn fn, Fill fill) {
  TraceGates& g = TraceGates::From(self);
  Lane& lane = g.LaneOf(key);
  TraceWriter* w = g.Enter(lane);
  if (w == nullptr) {
    TraceGates::Leave(lane);
    return fn(g.Inner());
  }
  Record r = NewRecord(*w, entry, key);
  std::conditional_t<std::is_void_v<R>, char, R> result{};
  auto call = [&] {
    if constexpr (std::is_void_v<R>) {
      fn(g.Inner());
    } else {
      result = fn(g.Inner());
    }
  };
  ForwardThen(call, [&](bool returned, uint32_t code) {
    Finish(r, *w, returned, code);
    if (!returned || fill(r, result)) w->Push(key, r);
    TraceGates::Leave(lane);
  });
  if constexpr (!std::is_void_v<R>) return result;
}

int32_t VU30_CALL GetChannelError(Vu30Dispatcher* self, uint8_t channel) {
  return Recorded<int32_t>(
      self, Entry::GetChannelError, channel,
      [&](Vu30Dispatcher* in) { return in->table->GetChannelError(in, channel); },
      [](Record& r, int32_t v) { return r.value = v, true; });
}

uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher* self, uint8_t channel) {
  return Recorded<uint8_t>(
      self, Entry::GetChannelStatus, channel,
      [&](Vu30Dispatcher* in) { return in->table->GetChannelStatus(in, channel); },
      [](Record& r, uint8_t v) { return r.value = v, true; });
}

// The status or error set during an exchange goes into the exchange's
// record (set applies it there); set at any other time it is a record of its
// own. Returns whether r is to be kept.
template <typename Set>
bool SetOnChannel(ExchangeContext* x, Record& r, int32_t value, Set set) {
  r.value = value;
  if (x == nullptr) return true;
  set(*x->record);
  return false;
}

void VU30_CALL SetChannelError(Vu30Dispatcher* self, uint8_t channel, int32_t code) {
  ExchangeContext* x = ExchangeOf(TraceGates::From(self), channel);
  Recorded<void>(
      self, Entry::SetChannelError, channel,
      [&](Vu30Dispatcher* in) { in->table->SetChannelError(in, channel, code); },
      [&](Record& r, char) {
        return SetOnChannel(x, r, code, [&](Record& e) {
          e.error = code;
          e.flags |= Record::kHasError;
        });
      });
}

void VU30_CALL SetChannelStatus(Vu30Dispatcher* self, uint8_t channel, uint8_t status) {
  ExchangeContext* x = ExchangeOf(TraceGates::From(self), channel);
  Recorded<void>(
      self, Entry::SetChannelStatus, channel,
      [&](Vu30Dispatcher* in) { in->table->SetChannelStatus(in, channel, status); },
      [&](Record& r, char) {
        return SetOnChannel(x, r, status, [&](Record& e) {
          e.status = status;
          e.flags |= Record::kHasStatus;
        });
      });
}

int32_t VU30_CALL ConfigureChannel(Vu30Dispatcher* self, uint8_t post, int32_t mode,
                                   uint32_t lineSettings) {
  return Recorded<int32_t>(
      self, Entry::ConfigureChannel, post,
      [&](Vu30Dispatcher* in) { return in->table->ConfigureChannel(in, post, mode, lineSettings); },
      [&](Record& r, int32_t v) {
        r.mode = mode;
        r.settings = lineSettings;
        r.value = v;
        return true;
      });
}

int32_t VU30_CALL Transact(Vu30Dispatcher* self, uint8_t channel, uint8_t lineAddress,
                           const uint8_t* request, uint8_t requestLength, uint8_t* reply,
                           uint8_t replyLength, uint8_t replyType) {
  TraceGates& g = TraceGates::From(self);
  Vu30Dispatcher* inner = g.Inner();
  Lane& lane = g.LaneOf(channel);
  TraceWriter* w = g.Enter(lane);
  if (w == nullptr) {
    TraceGates::Leave(lane);
    return inner->table->Transact(inner, channel, lineAddress, request, requestLength, reply,
                                  replyLength, replyType);
  }
  Record r = NewRecord(*w, Entry::Transact, channel);
  r.lineAddress = lineAddress;
  r.requestLength = requestLength;
  Keep(r.request, request, requestLength);
  r.replyAwaited = replyLength;
  r.replyType = replyType;
  ExchangeContext x{&g, channel, &r, tExchange};
  tExchange = &x;
  int32_t result = 0;
  auto call = [&] {
    result = inner->table->Transact(inner, channel, lineAddress, request, requestLength, reply,
                                    replyLength, replyType);
  };
  ForwardThen(call, [&](bool returned, uint32_t code) {
    tExchange = x.outer;
    Finish(r, *w, returned, code);
    r.value = result;
    if (returned && !(r.flags & Record::kChecked) && reply != nullptr && replyLength > 0) {
      Keep(r.reply, reply, replyLength);
      r.flags |= Record::kReplyCopied;
    }
    w->Push(channel, r);
    TraceGates::Leave(lane);
  });
  return result;
}

// The driver's callbacks, wrapped.

struct Target {
  TraceGates& gates;
  Lane& lane;
  void* code;
  void* data;
};

Target TargetOf(void* binding) {
  const Binding& b = *static_cast<const Binding*>(binding);
  const Vu30BoundMethod method = b.Method();
  return {b.Gates(), b.Gates().LaneOf(b.Key()), method.code, method.data};
}

bool VU30_CALL TracedCheckReply(void* binding, uint8_t channel, uint8_t* buffer, int32_t reserved,
                                uint8_t* count, uint8_t* expected) {
  const Target t = TargetOf(binding);
  const auto check = std::bit_cast<Vu30CheckReplyFn>(t.code);
  TraceWriter* w = t.gates.Enter(t.lane);
  if (w == nullptr) {
    TraceGates::Leave(t.lane);
    return check(t.data, channel, buffer, reserved, count, expected);
  }
  // Called inside the exchange it checks (as dispatchers mostly do), it
  // completes the exchange's record; called on another thread, it is a
  // record of its own.
  ExchangeContext* outer = ExchangeOf(t.gates, channel);
  Record own;
  Record& r = outer != nullptr ? *outer->record : own;
  if (outer == nullptr) own = NewRecord(*w, Entry::CheckReply, channel);
  r.replyCount = count != nullptr ? *count : 0;
  r.replyAwaited = expected != nullptr ? *expected : 0;
  Keep(r.reply, buffer, r.replyCount);
  ExchangeContext x{&t.gates, channel, &r, tExchange};
  tExchange = &x;
  bool accepted = false;
  auto call = [&] { accepted = check(t.data, channel, buffer, reserved, count, expected); };
  ForwardThen(call, [&](bool returned, uint32_t code) {
    tExchange = x.outer;
    r.flags |= Record::kChecked | (accepted ? Record::kAccepted : 0);
    r.countAfter = count != nullptr ? *count : 0;
    if (outer == nullptr) {
      Finish(r, *w, returned, code);
      w->Push(channel, r);
    }
    TraceGates::Leave(t.lane);
  });
  return accepted;
}

// A call of the dispatcher into the driver that is a record of its own:
// call forwards it, fill completes the record.
template <typename Call, typename Fill>
void RecordedCallback(const Target& t, Entry entry, uint8_t key, Call call, Fill fill) {
  TraceWriter* w = t.gates.Enter(t.lane);
  if (w == nullptr) {
    TraceGates::Leave(t.lane);
    return call();
  }
  Record r = NewRecord(*w, entry, key);
  fill(r);
  ForwardThen(call, [&](bool returned, uint32_t code) {
    Finish(r, *w, returned, code);
    w->Push(key, r);
    TraceGates::Leave(t.lane);
  });
}

void VU30_CALL TracedRouteMessage(void* binding, uint8_t workerAddress, uint8_t* buffer,
                                  int32_t reserved, uint8_t length) {
  const Target t = TargetOf(binding);
  const auto route = std::bit_cast<Vu30RouteMessageFn>(t.code);
  RecordedCallback(
      t, Entry::RouteMessage, static_cast<const Binding*>(binding)->Key(),
      [&] { route(t.data, workerAddress, buffer, reserved, length); },
      [&](Record& r) {
        r.lineAddress = workerAddress;
        r.requestLength = length;
        Keep(r.request, buffer, length);  // before the driver decodes it in place
      });
}

void VU30_CALL TracedPreparePost(void* binding, uint8_t post) {
  const Target t = TargetOf(binding);
  const auto prepare = std::bit_cast<Vu30PreparePostFn>(t.code);
  RecordedCallback(
      t, Entry::PreparePost, post, [&] { prepare(t.data, post); }, [](Record&) {});
}

// A registration: the driver's method is passed on wrapped, whichever driver
// object registers it. It is recorded when it is new to the trace; the
// driver renews its reply check with every request, and a renewal of the
// same method is not recorded again.
void Register(Vu30Dispatcher* self, Entry entry, Kind kind, uint8_t key, Vu30BoundMethod method,
              void* wrapper) {
  TraceGates& g = TraceGates::From(self);
  bool created = false;
  Binding* b = nullptr;
  if (method.code != nullptr) {
    b = &g.BindingOf(key, kind);
    created = b->Set(method, g.Generation());
  }
  const Vu30BoundMethod passed = b != nullptr ? Vu30BoundMethod{wrapper, b} : method;
  const Vu30SetCallbackFn forward = kind == kChecker ? g.Inner()->table->SetReplyChecker
                                    : kind == kHook  ? g.Inner()->table->SetMessageHook
                                                     : g.Inner()->table->SetPostInit;
  Recorded<void>(
      self, entry, key, [&](Vu30Dispatcher* in) { forward(in, key, passed); },
      [&](Record&, char) { return created || b == nullptr; });
}

template <typename Fn>
void* CodeOf(Fn* fn) {
  return reinterpret_cast<void*>(fn);
}

void VU30_CALL SetReplyChecker(Vu30Dispatcher* self, uint8_t channel, Vu30BoundMethod method) {
  Register(self, Entry::SetReplyChecker, kChecker, channel, method, CodeOf(&TracedCheckReply));
}
void VU30_CALL SetMessageHook(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  Register(self, Entry::SetMessageHook, kHook, post, method, CodeOf(&TracedRouteMessage));
}
void VU30_CALL SetPostInit(Vu30Dispatcher* self, uint8_t post, Vu30BoundMethod method) {
  Register(self, Entry::SetPostInit, kInit, post, method, CodeOf(&TracedPreparePost));
}

const Vu30DispatcherTable TraceGates::kTable = {
    nullptr,           &GetChannelError, &SetChannelError, &SetChannelStatus, &GetChannelStatus, {},
    &ConfigureChannel, &Transact,        &SetReplyChecker, &SetMessageHook,   &SetPostInit,
};

}  // namespace
}  // namespace vu30::trace

namespace {

// The size limit and rotation the host asked for in options; false when
// options asks for something else.
bool LimitOf(uint32_t options, vu30::trace::FileLimit& limit) {
  if ((options & ~(VU30_TRACE_LIMIT_MIB_MASK | VU30_TRACE_KEPT_MASK)) != 0) return false;
  const uint32_t mib = options & VU30_TRACE_LIMIT_MIB_MASK;
  const uint32_t kept = (options & VU30_TRACE_KEPT_MASK) >> VU30_TRACE_KEPT_SHIFT;
  if ((mib == 0) != (kept == 0)) return false;
  limit.bytes = uint64_t{mib} << 20;
  limit.kept = kept;
  return true;
}

}  // namespace

extern "C" {

VU30_TRACE_EXPORT Vu30Dispatcher* VU30_CALL vu30_trace_open(Vu30Dispatcher* inner, const char* path,
                                                            uint32_t options) {
  using vu30::trace::GatesPool;
  vu30::trace::FileLimit limit;
  if (inner == nullptr || inner->table == nullptr || path == nullptr || !LimitOf(options, limit)) {
    return nullptr;
  }
  try {
    auto writer = vu30::trace::TraceWriter::Open(path, VU30_TRACE_LIBRARY_VERSION, limit);
    if (!writer) return nullptr;
#if defined(_WIN32)
    // An open trace keeps the library loaded, so that its writer thread
    // never runs in an unloaded library; vu30_trace_close lets go.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&vu30_trace_open), &self)) {
      return nullptr;
    }
    Vu30Dispatcher* traced = GatesPool::Get().Start(inner, std::move(writer)).Traced();
    return traced;
#else
    return GatesPool::Get().Start(inner, std::move(writer)).Traced();
#endif
  } catch (...) {
    // The host's thread cancelled while the file was opened goes on ending.
    if (vu30::platform::HandlingThreadCancellation()) throw;
    return nullptr;  // no memory or no thread for the writer
  }
}

VU30_TRACE_EXPORT void VU30_CALL vu30_trace_close(Vu30Dispatcher* traced) {
  using vu30::trace::TraceGates;
  if (traced == nullptr || traced->table != &TraceGates::kTable) return;
  // The writer is waited for and the file finished in destructors, which a
  // cancellation's unwind cannot leave: a cancellation of the host's thread
  // acts once the trace is closed.
  const vu30::platform::CancellationHeldOff heldOff;
#if defined(_WIN32)
  if (vu30::trace::GatesPool::Get().Close(TraceGates::From(traced))) {
    HMODULE self = nullptr;
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&vu30_trace_close), &self)) {
      FreeLibrary(self);
    }
  }
#else
  vu30::trace::GatesPool::Get().Close(TraceGates::From(traced));
#endif
}

VU30_TRACE_EXPORT int VU30_CALL vu30_trace_status(Vu30Dispatcher* traced, Vu30TraceStatus* status) {
  using vu30::trace::TraceGates;
  if (traced == nullptr || status == nullptr || traced->table != &TraceGates::kTable) return 0;
  vu30::trace::WriterStatus s;
  if (!TraceGates::From(traced).Status(s)) return 0;
  status->recordsWritten = s.written;
  status->recordsDropped = s.dropped;
  status->droppedWriteFailed = s.droppedWriteFailed;
  status->lastWriteError = s.lastWriteError;
  status->filesRotated = s.rotations;
  return 1;
}

}  // extern "C"
