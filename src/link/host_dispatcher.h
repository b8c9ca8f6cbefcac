/* SPDX-License-Identifier: MIT */
// Adapter from the link layer's PortDispatcher contract to the host's
// dispatcher object and its table of operations. Callbacks are registered as
// bound methods whose code is a thunk of this file and whose data is the
// registered object.
#pragma once

#include "link/port_dispatcher.h"
#include "vu30.h"

namespace vu30::link {

class HostDispatcher final : public PortDispatcher {
 public:
  // host must not be null and must have a table; the caller checks that.
  explicit HostDispatcher(Vu30Dispatcher* host) : host_(host) {}

  int32_t GetChannelError(uint8_t channel) override;
  void SetChannelError(uint8_t channel, int32_t code) override;
  void SetChannelStatus(uint8_t channel, uint8_t status) override;
  uint8_t GetChannelStatus(uint8_t channel) override;
  int32_t ConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings) override;
  int32_t Transact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                   uint8_t requestLength, uint8_t* reply, uint8_t replyLength,
                   uint8_t replyType) override;
  void SetReplyChecker(uint8_t channel, ReplyChecker& checker) override;
  void SetMessageHook(uint8_t post, MessageHook& hook) override;
  void SetPostInit(uint8_t post, PostInitHandler& handler) override;

 private:
  // What the calls into the host mark the thread with: this dispatcher as
  // its driver holds it (a PortDispatcher*).
  const void* Owner() const;

  Vu30Dispatcher* host_;
};

}  // namespace vu30::link
