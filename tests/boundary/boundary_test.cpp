// SPDX-License-Identifier: MIT
// The driver as a host drives it: GetVU30, then every call through the
// object's table, every frame through the host's dispatcher table.
#include <gtest/gtest.h>

#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "call_into_library.h"
#include "host_threads.h"
#include "recording_dispatcher.h"
#include "temp_windir.h"
#include "vu30.h"

namespace vu30::test {
namespace {

class BoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windir_.emplace();
    dispatcher_.SetDefaultReply(ScriptedReply::Ack());
    driver_ = GetVU30(0, nullptr, dispatcher_.Host());
    ASSERT_NE(driver_, nullptr);
    t_ = host::HostTable(driver_->table);  // errors as C++ exceptions on every platform
  }
  void TearDown() override {
    if (driver_ != nullptr) t_->Destroy(driver_);
    windir_.reset();
  }

  // The request digits of the last Transact, decoded.
  std::vector<uint8_t> LastDigits() {
    const auto transacts = dispatcher_.Transacts();
    std::vector<uint8_t> digits;
    if (transacts.empty()) return digits;
    for (uint8_t b : transacts.back().request) digits.push_back(DecodeByte(b));
    return digits;
  }

  std::optional<TempWindir> windir_;
  RecordingDispatcher dispatcher_;
  Vu30Driver* driver_ = nullptr;
  const Vu30DriverTable* t_ = nullptr;
};

TEST_F(BoundaryTest, IdentityAndLinkStatus) {
  uint8_t info[VU30_DRIVER_INFO_SIZE + 1];
  std::memset(info, 0xEE, sizeof info);
  EXPECT_EQ(t_->GetDriverInfo(info, driver_), info);
  EXPECT_EQ(info[0], 31);
  EXPECT_EQ(std::memcmp(info + 1,
                        "v2.41#\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB \xEA \xD2\xD0\xCA Trovelheim", 31),
            0);
  EXPECT_EQ(info[32], 0xEE);  // exactly 32 bytes are written
  for (uint8_t post = 1; post <= 30; ++post) EXPECT_EQ(t_->GetLinkStatus(driver_, post), 1);
  t_->SetLinkStatus(driver_, 7, 3);
  EXPECT_EQ(t_->GetLinkStatus(driver_, 7), 3);
  EXPECT_EQ(t_->GetLinkStatus(driver_, 8), 1);
  EXPECT_TRUE(dispatcher_.Calls().empty());  // nothing reaches the dispatcher
}

TEST_F(BoundaryTest, RefusalsAndTheAbstractSlotAreCatchableExceptions) {
  EXPECT_THROW(t_->Abstract(driver_), EAbstractError);
  try {
    t_->Abstract(driver_);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Abstract error");
  }
  EXPECT_THROW(t_->GetLinkStatus(driver_, 31), EVu30Refused);
  EXPECT_THROW(t_->StartPump(driver_, 0, 0, 0), std::invalid_argument);
  EXPECT_THROW(t_->GetPumpState(driver_, 200, 0), EVu30Refused);
  EXPECT_THROW(t_->PresetVolume(driver_, 1, 0, 1, 0, 10.0), EVu30Refused);  // not opened
  EXPECT_THROW(t_->GetDriverInfo(nullptr, driver_), EVu30Refused);
  EXPECT_THROW(t_->OpenPost(nullptr, 1), EVu30Refused);
  EXPECT_THROW(host::HostGetVU30(&GetVU30, 0, nullptr, nullptr), EVu30Refused);
  EXPECT_TRUE(dispatcher_.Transacts().empty());
}

TEST_F(BoundaryTest, AFailedExchangeRaisesESerialIOWithItsMessage) {
  dispatcher_.SetDefaultReply(ScriptedReply::Failure(5));
  try {
    t_->StartPump(driver_, 3, 0, 0);
    FAIL() << "no exception";
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't START POMP");
  }
  EXPECT_THROW(t_->StopPumpNow(driver_, 3), ESerialIO);
  // An exception inside the dispatcher's exchange never reaches the host: the
  // channel's error becomes the result.
  dispatcher_.SetDefaultReply(ScriptedReply::Throw(0x42));
  EXPECT_THROW(t_->StartPump(driver_, 3, 0, 0), ESerialIO);
}

TEST_F(BoundaryTest, ForwardingSlotsCallTheirTargets) {
  t_->StartPumpAlias(driver_, 4, 1, 2, 3);
  EXPECT_EQ(LastDigits(), std::vector<uint8_t>{0});
  EXPECT_EQ(t_->GetPumpState(driver_, 4, 0), 0xC8u);
  EXPECT_EQ(t_->StopPumpNow(driver_, 0x104), 0);  // the post's low byte counts
  EXPECT_EQ(LastDigits(), std::vector<uint8_t>{5});
  EXPECT_EQ(dispatcher_.Transacts().back().lineAddress, 4);
  t_->StartPump(driver_, 4, 0, 0);
  dispatcher_.ClearCalls();
  EXPECT_EQ(t_->StopPumpEx(driver_, 4, 0, 0, 0x100), 0);  // flag 0: no frame
  EXPECT_TRUE(dispatcher_.Transacts().empty());
  EXPECT_EQ(t_->GetPumpState(driver_, 4, 0), 0xC0u);
  t_->StopPumpEx(driver_, 4, 0, 0, 1);
  t_->StopPumpAlt(driver_, 4, 0, 0, 0);
  t_->StopPump(driver_, 4, 0, 1);
  ASSERT_EQ(dispatcher_.Transacts().size(), 3u);
  for (const auto& call : dispatcher_.Transacts()) {
    ASSERT_EQ(call.request.size(), 1u);
    EXPECT_EQ(DecodeByte(call.request[0]), 5);
  }
  t_->Nop8(driver_, 1, 2, 3, 4, 5, 6, 7);
  t_->Nop12(driver_, 1, 2, 3);
  t_->Nop17(driver_, 1, 2, 3);
  t_->Nop18(driver_, 1, 2, 3, 4);
  EXPECT_EQ(dispatcher_.Transacts().size(), 3u);
}

TEST_F(BoundaryTest, StatusRecordAndCapabilities) {
  t_->OpenPost(driver_, 2);
  // A dose request for nozzle 2 after a start: the worker releases it (0xDA).
  t_->SetPrice(driver_, 2, 0, 2, 0, 0, 41.3);
  t_->PresetVolume(driver_, 2, 0, 2, 0, 25.5);
  t_->StartPump(driver_, 2, 0, 0);
  dispatcher_.ClearCalls();
  dispatcher_.DeliverMessage(2, {0x22, CodeDigit(8), CodeDigit(1), CodeDigit(0), 0});
  ASSERT_TRUE(dispatcher_.WaitForCalls(DispatcherOp::Transact, 1));
  uint8_t record[16];
  std::memset(record, 0x77, sizeof record);
  EXPECT_EQ(t_->GetStatusRecord(record, driver_, 2, 0, 0), record);
  EXPECT_EQ(record[0], 0xDA);
  EXPECT_EQ(record[1], 0);
  EXPECT_EQ(record[14], 2);
  EXPECT_EQ(record[15], 0);
  for (int i = 2; i < 14; ++i) EXPECT_EQ(record[i], 0x77) << i;
  // A refused post leaves the host's record as it was.
  for (const int post : {0, 31, 255}) {
    std::memset(record, 0x77, sizeof record);
    EXPECT_THROW(t_->GetStatusRecord(record, driver_, static_cast<uint8_t>(post), 0, 0),
                 EVu30Refused);
    for (uint8_t byte : record) EXPECT_EQ(byte, 0x77) << post;
  }
  int32_t value = -1;
  EXPECT_TRUE(t_->GetCapability(driver_, 9, &value));
  EXPECT_EQ(value, 99999);
  EXPECT_FALSE(t_->GetCapability(driver_, -1, &value));
  EXPECT_EQ(value, 99999);
}

TEST_F(BoundaryTest, OpeningRegistersWithTheDispatcherInOrder) {
  t_->OpenPost(driver_, 17);
  const auto ops = dispatcher_.Ops();
  ASSERT_GE(ops.size(), 4u);
  EXPECT_EQ(ops[0], DispatcherOp::SetPostInit);
  EXPECT_EQ(ops[1], DispatcherOp::SetMessageHook);
  EXPECT_EQ(ops[2], DispatcherOp::ConfigureChannel);
  EXPECT_EQ(ops[3], DispatcherOp::SetReplyChecker);  // then the state request
  const auto configure = dispatcher_.Calls(DispatcherOp::ConfigureChannel);
  EXPECT_EQ(configure[0].channel, 17);
  EXPECT_EQ(configure[0].value, 3);
  EXPECT_EQ(configure[0].lineSettings, 0x030004B0u);
  // The dispatcher may run the post's initialisation again on its own.
  EXPECT_TRUE(dispatcher_.CallPostInit(17));
  EXPECT_EQ(dispatcher_.Calls(DispatcherOp::ConfigureChannel).size(), 2u);
}

TEST_F(BoundaryTest, DriversAreIndependentAndDestroyedWithBusyWorkers) {
  RecordingDispatcher second;
  second.SetDefaultReply(ScriptedReply::Ack());
  Vu30Driver* other = GetVU30(0, nullptr, second.Host());
  ASSERT_NE(other, driver_);
  other->table->OpenPost(other, 1);
  t_->OpenPost(driver_, 1);
  dispatcher_.ClearCalls();
  second.ClearCalls();
  // A message to the first driver's post is answered by the first driver only.
  dispatcher_.DeliverMessage(1, {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0});
  ASSERT_TRUE(dispatcher_.WaitForCalls(DispatcherOp::Transact, 1));
  EXPECT_TRUE(second.Transacts().empty());
  other->table->Destroy(other);
  // The first driver still works after the second one is gone.
  dispatcher_.DeliverMessage(1, {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0});
  ASSERT_TRUE(dispatcher_.WaitForCalls(DispatcherOp::Transact, 2));
  EXPECT_EQ(DecodeByte(dispatcher_.Transacts().back().request.at(0)), 9);
}

// An Object Pascal host releases the driver through the runtime's
// destructor, the entry right before slot 0: it stops the workers as entry
// 25 does, and a message after it is not answered. The runtime's other
// entries do nothing.
TEST_F(BoundaryTest, TheRuntimesDestructorBeforeSlotZeroReleasesTheDriver) {
  const Vu30RuntimeEntries* runtime = VU30_RUNTIME_ENTRIES(driver_);
  EXPECT_EQ(runtime->SafeCallException(driver_, nullptr, nullptr), VU30_SAFECALL_RESULT);
  for (Vu30RuntimeFn entry :
       {runtime->AfterConstruction, runtime->BeforeDestruction, runtime->Dispatch,
        runtime->DefaultHandler, runtime->NewInstance, runtime->FreeInstance}) {
    EXPECT_EQ(entry(driver_, nullptr), 0);
  }
  t_->OpenPost(driver_, 1);
  dispatcher_.ClearCalls();
  const std::vector<uint8_t> message = {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0};
  dispatcher_.DeliverMessage(1, message);
  ASSERT_TRUE(dispatcher_.WaitForCalls(DispatcherOp::Transact, 1));

  host::HostCall([&] { runtime->Destroy(driver_, 1); });
  driver_ = nullptr;  // released
  dispatcher_.ClearCalls();
  // The worker has been waited for and the post's gate is shut: the message
  // reaches no worker, nothing answers it.
  EXPECT_EQ(dispatcher_.DeliverMessage(1, message), message);
  EXPECT_TRUE(dispatcher_.Calls().empty());
}

// A host that destroys the driver from inside one of the driver's own calls
// into its dispatcher (the host's request, a worker's answer) is refused,
// through entry 25 and through the runtime's destructor alike, and nothing
// changes: the driver goes on working and a later destruction from outside
// completes.
TEST_F(BoundaryTest, DestroyFromInsideTheDriversOwnExchangeIsRefused) {
  const Vu30RuntimeEntries* runtime = VU30_RUNTIME_ENTRIES(driver_);
  std::mutex mutex;
  std::vector<std::string> refusals;
  std::atomic<bool> destroyInside{true};
  dispatcher_.SetResponder([&](const TransactRequest&) -> std::optional<ScriptedReply> {
    if (!destroyInside.load()) return std::nullopt;
    for (int entry = 0; entry < 2; ++entry) {
      std::string outcome = "destroyed";
      try {
        if (entry == 0) {
          t_->Destroy(driver_);
        } else {
          host::HostCall([&] { runtime->Destroy(driver_, 1); });
        }
      } catch (const EVu30Refused& e) {
        outcome = e.what();
      }
      const std::lock_guard lock(mutex);
      refusals.push_back(outcome);
    }
    return std::nullopt;  // the default acknowledgement
  });
  const std::string refused = "vu30: the driver cannot be destroyed from inside its own exchange";

  t_->OpenPost(driver_, 2);  // its state request, on this thread
  t_->StartPump(driver_, 2, 0, 0);
  EXPECT_EQ(t_->GetPumpState(driver_, 2, 0), 0xC8u);
  dispatcher_.ClearCalls();
  dispatcher_.DeliverMessage(2, {CodeDigit(2), CodeDigit(0), CodeDigit(0), 0});
  ASSERT_TRUE(dispatcher_.WaitForCalls(DispatcherOp::Transact, 1));  // the worker's answer
  destroyInside = false;
  {
    const std::lock_guard lock(mutex);
    EXPECT_GE(refusals.size(), 6u);  // two for each of the three exchanges
    for (const std::string& outcome : refusals) EXPECT_EQ(outcome, refused);
  }
  t_->StopPump(driver_, 2, 0, 1);
  EXPECT_EQ(t_->GetPumpState(driver_, 2, 0), 0xC0u);
  // TearDown destroys it from outside.
}

// The host releases the driver while its poll thread is inside a call: the
// release waits until that call has returned, and a call that comes
// meanwhile is refused.
TEST_F(BoundaryTest, DestroyWaitsForTheCallsInsideAndRefusesNewOnes) {
  using namespace std::chrono_literals;
  ScriptedReply slow = ScriptedReply::Ack();
  slow.delay = 500ms;
  dispatcher_.QueueReply(5, slow);
  std::atomic<bool> returned{false};
  std::thread poll([&] {
    t_->StartPump(driver_, 5, 0, 0);
    returned = true;
  });
  while (dispatcher_.Transacts().empty()) std::this_thread::sleep_for(1ms);
  std::string refusal;
  std::thread late([&] {
    while (refusal.empty() && !returned) {
      try {
        t_->GetLinkStatus(driver_, 5);
      } catch (const EVu30Refused& e) {
        refusal = e.what();
      }
    }
  });
  t_->Destroy(driver_);
  driver_ = nullptr;
  const RecordedCall exchange = dispatcher_.Transacts().at(0);
  poll.join();
  late.join();
  EXPECT_TRUE(exchange.finished);
  EXPECT_GE(Clock::now() - exchange.end, 30ms);  // and its pause
  EXPECT_EQ(refusal, "vu30: the driver is being released");
}

#if !defined(_WIN32)
// A host thread cancelled inside a call ends cancelled: in OpenPost's state
// request while Transact waits, in StartPump's pause. The post goes on, its
// pair's next frame 30 ms after the pause, and the release waits for no call.
TEST_F(BoundaryTest, AHostThreadCancelledInsideACallEndsCancelled) {
  if (!test::kSanitizerFollowsCancellation) GTEST_SKIP() << "ThreadSanitizer: see host_threads.h";
  ScriptedReply slow = ScriptedReply::Ack();
  slow.delay = std::chrono::seconds(10);
  dispatcher_.QueueReply(4, slow);
  EXPECT_EQ(test::CancelInside([this] { t_->OpenPost(driver_, 4); },
                               [this] { return !dispatcher_.Transacts().empty(); }),
            PTHREAD_CANCELED);
  EXPECT_EQ(test::CancelInside([this] { t_->StartPump(driver_, 4, 0, 0); },
                               [this] { return dispatcher_.Transacts().back().finished; }),
            PTHREAD_CANCELED);
  t_->StartPump(driver_, 4, 0, 0);
  EXPECT_EQ(t_->GetPumpState(driver_, 4, 0), 0xC8u);
  const auto transacts = dispatcher_.Transacts();
  ASSERT_EQ(transacts.size(), 3u);
  EXPECT_GE(transacts[2].start - transacts[1].end, std::chrono::milliseconds(30));
  test::WithoutDeadlock([this] { t_->Destroy(driver_); });
  driver_ = nullptr;
}
#endif

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
// A host with a floating-point control of its own: rounding toward zero, and
// overflow, zero-divide and invalid unmasked (they trap). The price is sent
// as the library computes it (2.675 is 267.4999... hundredths in binary, to
// the nearest 267.5, half to even 268), an argument that would overflow is
// refused without trapping, and the host finds its own control again after
// the call and after the error. (Windows hosts: the C test host.)
TEST_F(BoundaryTest, FiguresDoNotDependOnTheHostsFloatingPointControl) {
  t_->OpenPost(driver_, 2);
  constexpr unsigned kHostMxcsr = 0x7900;
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(kHostMxcsr);
  t_->SetPrice(driver_, 2, 0, 1, 0, 0, 2.675);
  const unsigned afterCall = _mm_getcsr();
  bool refused = false;
  try {
    t_->SetPrice(driver_, 2, 0, 1, 0, 0, 1e308);
  } catch (const EVu30Refused&) {
    refused = true;
  }
  const unsigned afterError = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_EQ(LastDigits(), (std::vector<uint8_t>{2, 0, 0, 2, 6, 8}));
  EXPECT_TRUE(refused);
  EXPECT_EQ(afterCall, kHostMxcsr);
  EXPECT_EQ(afterError, kHostMxcsr);
}
#endif

}  // namespace
}  // namespace vu30::test
