/* SPDX-License-Identifier: MIT */
// The objects the dispatcher calls back. Registrations with the dispatcher
// are never withdrawn, so the dispatcher may call the reply check, the
// message hook or the post initialisation at any time, also while and after
// the driver object is destroyed. What it holds is the address of a gate:
// gates are never freed while the library is loaded, and a gate lets a call
// through only while its driver is alive. Destruction closes every gate of
// the driver and waits for the calls already inside before any memory goes.
//
// Each post has its own gate, so that a post's callbacks share no cache line
// with another post's.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "link/frame.h"
#include "link/message_router.h"
#include "link/port_dispatcher.h"

namespace vu30::link {

// The message hook is the first base: a message, the call that waits for an
// answer, reaches the gate without a this-adjusting thunk, and from the gate
// the router without a virtual call.
class alignas(64) CallbackGate final : public MessageHook,
                                       public ReplyChecker,
                                       public PostInitHandler {
 public:
  // The targets of the calls let through; the gate is open from now on.
  void Open(ReplyChecker& checker, MessageRouter& router, PostInitHandler& init);
  // No call passes from now on; returns once the calls inside have ended.
  // Must not be called from inside a call through this gate.
  void Close();

  bool CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved, uint8_t& count,
                  uint8_t& expected) override;
  void RouteMessage(uint8_t workerAddress, uint8_t* buffer, int32_t reserved,
                    uint8_t length) override;
  void PreparePost(uint8_t post) override;

  // A gate for each post 1..kPostCount ([0] unused) for one driver object,
  // kept until the library is unloaded, never destroyed: at process exit a
  // worker or the dispatcher's thread may still be inside a gate.
  static std::span<CallbackGate, kPostCount + 1> KeepNewGates();

 private:
  class Pass;

  std::atomic<bool> open_{false};
  std::atomic<uint32_t> inside_{0};
  std::atomic<ReplyChecker*> checker_{nullptr};
  std::atomic<MessageRouter*> router_{nullptr};
  std::atomic<PostInitHandler*> init_{nullptr};
};

}  // namespace vu30::link
