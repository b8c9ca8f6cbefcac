// The tracing dispatcher: a port dispatcher whose every entry forwards to the
// host's own (the inner dispatcher), unchanged and on the calling thread, and
// records the call. The callbacks the driver registers (reply check, message
// hook, post initialisation) are passed on wrapped, so that the dispatcher's
// calls into the driver are recorded as well.
//
// What the host and the inner dispatcher hold of a trace (the dispatcher
// object and the wrapped callbacks) lives in a TraceGates that is kept until
// the library is unloaded, because registrations are never withdrawn: the
// inner dispatcher may call a wrapped callback after the trace was closed,
// and the call then goes straight to the driver's own. The trace itself (the
// file, its writer and its buffers) is freed by vu30_trace_close.
//
// Recording takes no lock and shares nothing between posts: each channel has
// its own gate counter and its own ring of records.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <forward_list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

#include "trace/trace_writer.h"
#include "vu30_trace.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/host_call.h"
#else
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

// A registration of the driver's, as the trace passed it on: the driver's
// method, and where the wrapped call finds its trace.
struct Binding {
  std::atomic<void*> code{nullptr};
  std::atomic<void*> data{nullptr};
  std::atomic<bool> ready{false};
  TraceGates* gates = nullptr;
  uint8_t key = 0;
};

enum Kind : std::size_t { kChecker, kHook, kInit, kKinds };
// Distinct methods wrapped per channel and kind; the driver registers one.
// A further method is passed on unwrapped (its calls are then not recorded).
constexpr std::size_t kBindingsPerKind = 2;

// What one channel (or post) of a trace has of its own.
struct alignas(64) Lane {
  std::atomic<uint32_t> inside{0};  // calls under way that may use the trace
  std::array<std::atomic<uint32_t>, kKinds> used{};
  std::array<std::array<Binding, kBindingsPerKind>, kKinds> bindings{};

  // The binding of method, made if new (created then set); null when the
  // lane has no room left.
  Binding* Bind(Kind kind, Vu30BoundMethod method, bool& created) {
    auto& slots = bindings[kind];
    const uint32_t n =
        std::min<uint32_t>(used[kind].load(std::memory_order_acquire), kBindingsPerKind);
    for (uint32_t i = 0; i < n; ++i) {
      Binding& b = slots[i];
      if (b.ready.load(std::memory_order_acquire) &&
          b.code.load(std::memory_order_relaxed) == method.code &&
          b.data.load(std::memory_order_relaxed) == method.data) {
        return &b;
      }
    }
    uint32_t i = used[kind].load(std::memory_order_relaxed);
    do {
      if (i >= kBindingsPerKind) return nullptr;
    } while (!used[kind].compare_exchange_weak(i, i + 1, std::memory_order_acq_rel));
    Binding& b = slots[i];
    b.code.store(method.code, std::memory_order_relaxed);
    b.data.store(method.data, std::memory_order_relaxed);
    b.ready.store(true, std::memory_order_release);
    created = true;
    return &b;
  }
};

constexpr std::size_t kLanes = 256;  // one per value of a channel or post byte

class TraceGates {
 public:
  struct Handle {
    Vu30Dispatcher base;  // first: the address the host gets
    TraceGates* gates;
  };

  explicit TraceGates(Vu30Dispatcher* inner);
  TraceGates(const TraceGates&) = delete;
  TraceGates& operator=(const TraceGates&) = delete;

  static TraceGates& From(Vu30Dispatcher* self) { return *reinterpret_cast<Handle*>(self)->gates; }
  // A new set of gates, kept until the library is unloaded: the inner
  // dispatcher may hold its callbacks that long, so it is never reused. The
  // kept gates are never destroyed, not even when the process ends: a trace
  // the host left open then keeps what its writer wrote, and its writer
  // thread, which the system has already stopped on Windows, is not waited for.
  static TraceGates& KeepNew(Vu30Dispatcher* inner) {
    static std::mutex mutex;
    static NeverDestroyed<std::forward_list<TraceGates>> kept;
    std::lock_guard lock(mutex);
    return kept.Get().emplace_front(inner);
  }

  Vu30Dispatcher* Traced() { return &handle_.base; }
  Vu30Dispatcher* Inner() const { return inner_; }
  Lane& LaneOf(uint8_t key) { return lanes_[key]; }

  // Enters key's lane: the trace to record into, or null once closed. Every
  // Enter is followed by one Leave.
  TraceWriter* Enter(Lane& lane) {
    lane.inside.fetch_add(1, std::memory_order_seq_cst);
    return writer_.load(std::memory_order_seq_cst);
  }
  static void Leave(Lane& lane) { lane.inside.fetch_sub(1, std::memory_order_release); }

  void Start(std::unique_ptr<TraceWriter> writer) {
    owned_ = std::move(writer);
    writer_.store(owned_.get(), std::memory_order_seq_cst);
  }
  // No call records from now on; the trace is finished once the calls that
  // still use it are out. Must not be called from inside a traced call.
  void Stop() {
    writer_.store(nullptr, std::memory_order_seq_cst);
    for (Lane& lane : lanes_) {
      while (lane.inside.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    }
    owned_.reset();
  }

  static const Vu30DispatcherTable kTable;

 private:
  Handle handle_;
  Vu30Dispatcher* const inner_;
  std::atomic<TraceWriter*> writer_{nullptr};
  std::unique_ptr<TraceWriter> owned_;  // the open trace; Start and Stop only
  std::array<Lane, kLanes> lanes_{};
};

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
// (returned, fault code). An exception raised in call passes on unchanged
// after finish: on Windows the host's structured exception is taken by the
// guard and raised again from here, a frame that holds nothing to clean up;
// elsewhere a C++ exception passes through.
template <typename Call, typename Done>
void ForwardThen(Call& call, Done&& finish) {
  static_assert(std::is_trivially_destructible_v<std::remove_reference_t<Done>>);
#if defined(_WIN32)
  platform::HostExceptionRecord fault;
  const bool returned =
      platform::GuardedCall([](void* c) { (*static_cast<Call*>(c))(); }, &call, fault);
  finish(returned, fault.code);
  if (!returned) platform::RaiseHostException(fault);
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
  Binding& b = *static_cast<Binding*>(binding);
  return {*b.gates, b.gates->LaneOf(b.key), b.code.load(std::memory_order_acquire),
          b.data.load(std::memory_order_acquire)};
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
      t, Entry::RouteMessage, static_cast<Binding*>(binding)->key,
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

// A registration: the driver's method is passed on wrapped. It is recorded
// the first time; the driver renews its reply check with every request, and
// a renewal of the same method is not recorded again.
void Register(Vu30Dispatcher* self, Entry entry, Kind kind, uint8_t key, Vu30BoundMethod method,
              void* wrapper) {
  TraceGates& g = TraceGates::From(self);
  bool created = false;
  Binding* b = method.code != nullptr ? g.LaneOf(key).Bind(kind, method, created) : nullptr;
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

TraceGates::TraceGates(Vu30Dispatcher* inner) : handle_{{&kTable}, this}, inner_(inner) {
  for (std::size_t key = 0; key < kLanes; ++key) {
    for (auto& slots : lanes_[key].bindings) {
      for (Binding& b : slots) {
        b.gates = this;
        b.key = static_cast<uint8_t>(key);
      }
    }
  }
}

}  // namespace
}  // namespace vu30::trace

extern "C" {

VU30_TRACE_EXPORT Vu30Dispatcher* VU30_CALL vu30_trace_open(Vu30Dispatcher* inner, const char* path,
                                                            uint32_t options) {
  using vu30::trace::TraceGates;
  if (inner == nullptr || inner->table == nullptr || path == nullptr ||
      options != VU30_TRACE_DEFAULTS) {
    return nullptr;
  }
  try {
    auto writer = vu30::trace::TraceWriter::Open(path, VU30_TRACE_LIBRARY_VERSION);
    if (!writer) return nullptr;
    TraceGates& gates = TraceGates::KeepNew(inner);
    gates.Start(std::move(writer));
    return gates.Traced();
  } catch (...) {
    return nullptr;  // no memory or no thread for the writer
  }
}

VU30_TRACE_EXPORT void VU30_CALL vu30_trace_close(Vu30Dispatcher* traced) {
  using vu30::trace::TraceGates;
  if (traced == nullptr || traced->table != &TraceGates::kTable) return;
  TraceGates::From(traced).Stop();
}

}  // extern "C"
