// SPDX-License-Identifier: MIT
#include "link/callback_gate.h"

#include <array>
#include <forward_list>
#include <mutex>
#include <thread>

#include "platform/host_entry.h"
#include "platform/hot_path.h"

namespace vu30::link {

// Entry through the gate. The count of calls inside is raised before the
// open flag is read, and Close clears the flag before it reads the count
// (both sequentially consistent): either Close sees this call inside and
// waits for it, or this call sees the gate closed.
// The count is given back also when a structured exception ends the call's
// frames (platform/host_entry.h).
class CallbackGate::Pass {
 public:
  explicit Pass(CallbackGate& gate) : gate_(gate) {
    gate_.inside_.fetch_add(1, std::memory_order_seq_cst);
    open_ = gate_.open_.load(std::memory_order_seq_cst);
  }
  ~Pass() {
    if (!releaseOnFault_.Released()) Leave(this);
  }
  Pass(const Pass&) = delete;
  Pass& operator=(const Pass&) = delete;
  explicit operator bool() const { return open_; }

 private:
  static void Leave(void* pass) noexcept {
    static_cast<Pass*>(pass)->gate_.inside_.fetch_sub(1, std::memory_order_release);
  }

  CallbackGate& gate_;
  bool open_ = false;
  platform::ReleaseOnFault releaseOnFault_{&Leave, this};
};

void CallbackGate::Open(ReplyChecker& checker, MessageRouter& router, PostInitHandler& init) {
  checker_.store(&checker, std::memory_order_relaxed);
  router_.store(&router, std::memory_order_relaxed);
  init_.store(&init, std::memory_order_relaxed);
  open_.store(true, std::memory_order_seq_cst);
}

void CallbackGate::Close() {
  open_.store(false, std::memory_order_seq_cst);
  while (inside_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

VU30_HOT_PATH bool CallbackGate::CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved,
                                            uint8_t& count, uint8_t& expected) {
  const Pass pass(*this);
  if (!pass) return false;
  return checker_.load(std::memory_order_relaxed)
      ->CheckReply(channel, buffer, reserved, count, expected);
}

VU30_HOT_PATH void CallbackGate::RouteMessage(uint8_t workerAddress, uint8_t* buffer,
                                              int32_t reserved, uint8_t length) {
  const Pass pass(*this);
  if (!pass) return;
  router_.load(std::memory_order_relaxed)->RouteMessage(workerAddress, buffer, reserved, length);
}

void CallbackGate::PreparePost(uint8_t post) {
  const Pass pass(*this);
  if (!pass) return;
  init_.load(std::memory_order_relaxed)->PreparePost(post);
}

std::span<CallbackGate, kPostCount + 1> CallbackGate::KeepNewGates() {
  // The dispatcher may hold a gate's address for as long as the library is
  // loaded, so gates are never reused for another driver object (an old
  // registration would reach the new driver) and never freed before unload.
  using Gates = std::array<CallbackGate, kPostCount + 1>;
  // Neither the list nor its lock is destroyed, not even at process exit:
  // a host may exit with a live driver, whose workers and the dispatcher's
  // threads may still pass its gates while the statics are torn down.
  static std::mutex& mutex = *new std::mutex;
  static std::forward_list<Gates>& kept = *new std::forward_list<Gates>;
  std::lock_guard lock(mutex);
  return kept.emplace_front();
}

}  // namespace vu30::link
