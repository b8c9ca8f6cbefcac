/* SPDX-License-Identifier: MIT */
// The port dispatcher contract as the link layer sees it. The host's
// dispatcher is reached through HostDispatcher (host_dispatcher.h), an
// adapter over the host's table; tests may implement this interface directly.
#pragma once

#include <cstdint>

namespace vu30::link {

// Tests a received frame and decodes its digits in place (the reply check).
class ReplyChecker {
 public:
  virtual bool CheckReply(uint8_t channel, uint8_t* buffer, int32_t reserved, uint8_t& count,
                          uint8_t& expected) = 0;

 protected:
  ~ReplyChecker() = default;
};

// Receives the dispenser's own messages for a post.
class MessageHook {
 public:
  virtual void RouteMessage(uint8_t workerAddress, uint8_t* buffer, int32_t reserved,
                            uint8_t length) = 0;

 protected:
  ~MessageHook() = default;
};

// Readies a post; the dispatcher may call it whenever it chooses.
class PostInitHandler {
 public:
  virtual void PreparePost(uint8_t post) = 0;

 protected:
  ~PostInitHandler() = default;
};

class PortDispatcher {
 public:
  virtual ~PortDispatcher() = default;
  virtual int32_t GetChannelError(uint8_t channel) = 0;
  virtual void SetChannelError(uint8_t channel, int32_t code) = 0;
  virtual void SetChannelStatus(uint8_t channel, uint8_t status) = 0;
  virtual uint8_t GetChannelStatus(uint8_t channel) = 0;
  virtual int32_t ConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings) = 0;
  // May throw; SendRequest keeps such exceptions from its callers.
  virtual int32_t Transact(uint8_t channel, uint8_t lineAddress, const uint8_t* request,
                           uint8_t requestLength, uint8_t* reply, uint8_t replyLength,
                           uint8_t replyType) = 0;
  // The registered objects must outlive their registration (the driver object
  // registers its own members; registrations are never withdrawn).
  virtual void SetReplyChecker(uint8_t channel, ReplyChecker& checker) = 0;
  virtual void SetMessageHook(uint8_t post, MessageHook& hook) = 0;
  virtual void SetPostInit(uint8_t post, PostInitHandler& handler) = 0;
};

}  // namespace vu30::link
