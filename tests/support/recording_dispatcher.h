/* SPDX-License-Identifier: MIT */
// A recording host dispatcher for tests: a real C-style Vu30Dispatcher with a
// Vu30DispatcherTable of VU30_CALL functions, exactly as a host provides it.
// Hand Host() to GetVU30 or to link::HostDispatcher.
//
// It records every call in order with its arguments, keeps the status and the
// error of each channel, stores the registered bound methods, and lets a test
// script what each Transact does: which bytes arrive in the reply buffer and
// with what count (then it calls the channel's registered reply checker the
// way a real dispatcher does: checker(channel, buffer, 0, &count,
// &replyLength)), which result Transact returns, or that it throws.
//
// Thread-safe: every member may be called from any thread (host threads,
// post workers, the test). The mutex is never held while calling back into
// the driver (reply checker, message hook, post init) or a test's responder.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vu30.h"

namespace vu30::test {

using Clock = std::chrono::steady_clock;

// The dispatcher's operations, as recorded.
enum class DispatcherOp {
  GetChannelError,
  SetChannelError,
  SetChannelStatus,
  GetChannelStatus,
  ConfigureChannel,
  Transact,
  SetReplyChecker,
  SetMessageHook,
  SetPostInit,
};

// One call of the dispatcher's table, with its arguments.
struct RecordedCall {
  // Position of the call among all calls since the dispatcher was made (not
  // reset by ClearCalls).
  uint64_t sequence = 0;
  DispatcherOp op{};
  // The channel (GetChannel*, SetChannel*, Transact, SetReplyChecker) or the
  // post (ConfigureChannel, SetMessageHook, SetPostInit).
  uint8_t channel = 0;
  // Set*/Get* values: the error or status set, or the value returned;
  // ConfigureChannel: the mode; Transact: the value returned (0 when it threw).
  int32_t value = 0;
  // ConfigureChannel: the line settings.
  uint32_t lineSettings = 0;

  // Transact only.
  uint8_t lineAddress = 0;
  std::vector<uint8_t> request;  // the coded request bytes as received (requestLength of them)
  uint8_t requestLength = 0;
  bool replyPresent = false;  // the reply buffer pointer was not null
  uint8_t replyLength = 0;
  uint8_t replyType = 0;        // as received (coded, or 0)
  bool checkerCalled = false;   // the reply checker was called
  bool checkerResult = false;   // what the checker returned
  uint8_t countAfterCheck = 0;  // the count after the checker (lowered when a byte was removed)
  std::vector<uint8_t> replyAfterCheck;  // the reply buffer after the checker (replyLength bytes)

  // Every call: when it began and ended (steady clock) and on which thread.
  // A Transact is recorded when it begins (so that the checker's
  // SetChannelStatus/SetChannelError follow it); finished turns true and end
  // is set when it returns or throws. Other calls are finished when recorded.
  bool finished = false;
  Clock::time_point start{};
  Clock::time_point end{};
  std::thread::id thread{};
};

// What one Transact does. By default: no reply arrives (the checker is not
// called) and the result is 0.
struct ScriptedReply {
  // Bytes put into the caller's reply buffer, all of them whatever the
  // awaited length, as a dispatcher stores what it received (at most 255:
  // its count is 8 bits).
  std::vector<uint8_t> bytes;
  // The received count given to the checker; bytes.size() when unset.
  std::optional<uint8_t> count;
  // Call the channel's checker (only when replyLength > 0, a reply buffer is
  // present and a checker is registered).
  bool callChecker = true;
  // Transact's return value.
  int32_t result = 0;
  // When set, the channel's error is set to this before Transact returns or
  // throws (what a dispatcher would report through GetChannelError).
  std::optional<int32_t> channelError;
  // Throw std::runtime_error instead of returning (after the delay and after
  // channelError is applied; the checker is not called).
  bool throwError = false;
  // Time Transact takes before it replies (e.g. to make exchanges overlap).
  std::chrono::milliseconds delay{0};
  // When set, the channel's status after the check, as another exchange on
  // the channel would leave it before the caller reads it.
  std::optional<uint8_t> statusAfter;

  // A reply that is never received: no checker call, result 0.
  static ScriptedReply NoReply();
  // The one-byte acknowledgement 0x00.
  static ScriptedReply Ack();
  // A well-formed reply: the digits coded as line bytes, closed by 0x00, with
  // an optional leading (malformed) line address byte such as 0x21.
  static ScriptedReply Digits(const std::vector<uint8_t>& digits,
                              std::optional<uint8_t> leadingByte = std::nullopt);
  // Raw bytes, received as they are.
  static ScriptedReply Raw(std::vector<uint8_t> bytes);
  // Transact returns code (no reply received).
  static ScriptedReply Failure(int32_t code);
  // Transact throws std::runtime_error after setting the channel's error.
  static ScriptedReply Throw(int32_t channelError);
};

// The argument a responder sees for one Transact.
struct TransactRequest {
  uint8_t channel = 0;
  uint8_t lineAddress = 0;
  std::vector<uint8_t> request;  // coded bytes
  uint8_t replyLength = 0;
  uint8_t replyType = 0;
};

// Codes a digit into a line byte (an independent copy of the line coding, so
// that tests do not check the link layer against itself).
uint8_t CodeDigit(uint8_t digit);
// Decodes a line byte (its even bits); the byte is not tested.
uint8_t DecodeByte(uint8_t lineByte);

class RecordingDispatcher {
 public:
  RecordingDispatcher();
  ~RecordingDispatcher();
  RecordingDispatcher(const RecordingDispatcher&) = delete;
  RecordingDispatcher& operator=(const RecordingDispatcher&) = delete;

  // The C-style dispatcher object to give to GetVU30 or link::HostDispatcher.
  Vu30Dispatcher* Host();

  // ---- Scripting Transact -------------------------------------------------

  // Queues a reply for the next Transact on channel (FIFO per channel), and,
  // when lineAddress is given, only for a Transact to that line address (so
  // that host requests and worker requests of one post can be told apart).
  void QueueReply(uint8_t channel, ScriptedReply reply,
                  std::optional<uint8_t> lineAddress = std::nullopt);
  // Called (outside the mutex, on the calling thread) for a Transact that no
  // queued reply matches; its result is used when it returns one.
  void SetResponder(std::function<std::optional<ScriptedReply>(const TransactRequest&)> responder);
  // Used for a Transact that neither a queued reply nor the responder covers.
  void SetDefaultReply(ScriptedReply reply);

  // ---- Channel state --------------------------------------------------------

  // Status and error of a channel as last set (initially 0, 0). Reading them
  // here is not recorded.
  uint8_t Status(uint8_t channel) const;
  int32_t Error(uint8_t channel) const;
  // Sets the status directly (not recorded).
  void SetStatus(uint8_t channel, uint8_t status);

  // ---- Registered callbacks ---------------------------------------------------

  // The bound method last registered for the channel or post, if any.
  std::optional<Vu30BoundMethod> ReplyChecker(uint8_t channel) const;
  std::optional<Vu30BoundMethod> MessageHook(uint8_t post) const;
  std::optional<Vu30BoundMethod> PostInit(uint8_t post) const;

  // Calls the channel's reply checker as a dispatcher would; returns its result
  // (false when none is registered). buffer, count and expected as the checker
  // leaves them.
  bool CallReplyChecker(uint8_t channel, uint8_t* buffer, uint8_t& count, uint8_t& expected);
  // Hands a message to the post's hook as a dispatcher would:
  // hook(workerAddress, buffer, 0, length), workerAddress post + 32 unless
  // given. Returns the buffer as the hook left it (empty when no hook is
  // registered).
  std::vector<uint8_t> DeliverMessage(uint8_t post, std::vector<uint8_t> bytes,
                                      std::optional<uint8_t> workerAddress = std::nullopt);
  // Calls the post's initialisation handler with the post number; false when
  // none is registered.
  bool CallPostInit(uint8_t post);

  // ---- Records ---------------------------------------------------------------

  // A copy of every call so far, in order.
  std::vector<RecordedCall> Calls() const;
  // Only the calls of one operation.
  std::vector<RecordedCall> Calls(DispatcherOp op) const;
  // Only the Transact calls.
  std::vector<RecordedCall> Transacts() const { return Calls(DispatcherOp::Transact); }
  // The operations of all calls, in order (for order checks).
  std::vector<DispatcherOp> Ops() const;
  // Forgets the records (not the channel state, the scripts or the callbacks).
  void ClearCalls();
  // Waits until at least n calls of op have finished (Transact: returned or
  // thrown); false on time-out.
  bool WaitForCalls(DispatcherOp op, std::size_t n,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  struct HostObject {
    Vu30Dispatcher base;  // first member: the Vu30Dispatcher* the driver gets
    RecordingDispatcher* owner;
  };
  struct Queued {
    std::optional<uint8_t> lineAddress;
    ScriptedReply reply;
  };

  friend struct DispatcherThunks;

  // The table's operations.
  int32_t DoGetChannelError(uint8_t channel);
  void DoSetChannelError(uint8_t channel, int32_t code);
  void DoSetChannelStatus(uint8_t channel, uint8_t status);
  uint8_t DoGetChannelStatus(uint8_t channel);
  int32_t DoConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings);
  int32_t DoTransact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                     uint8_t requestLength, uint8_t* reply, uint8_t replyLength, uint8_t replyType);
  void DoSetCallback(DispatcherOp op, uint8_t channelOrPost, Vu30BoundMethod method);

  // Appends a record (mutex held) and returns its sequence number.
  uint64_t RecordLocked(RecordedCall call);

  HostObject host_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<RecordedCall> calls_;
  uint64_t nextSequence_ = 0;
  std::map<uint8_t, std::deque<Queued>> queued_;
  std::function<std::optional<ScriptedReply>(const TransactRequest&)> responder_;
  ScriptedReply defaultReply_;
  uint8_t status_[256] = {};
  int32_t error_[256] = {};
  std::map<uint8_t, Vu30BoundMethod> checkers_;
  std::map<uint8_t, Vu30BoundMethod> hooks_;
  std::map<uint8_t, Vu30BoundMethod> postInits_;
};

}  // namespace vu30::test
