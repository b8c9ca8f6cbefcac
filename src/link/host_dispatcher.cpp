// SPDX-License-Identifier: MIT
#include "link/host_dispatcher.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "link/own_exchange.h"
#include "platform/call_into_host.h"
#include "platform/fp_state.h"
#include "platform/hot_path.h"
#include "platform/thread_cancel.h"

namespace vu30::link {
namespace {

using platform::CallHost;

// The thunks: code of the bound methods registered with the host's
// dispatcher; data is the registered C++ object, cast from its interface type.
// Each is an entry from the host: it runs in the library's floating-point
// state, and nothing leaves it, neither an error of the library, nor a host
// exception that a dispatcher function called inside it raised, nor a
// structured exception raised in the library's frames under it (a buffer of
// the dispatcher's that cannot be read): the check then accepts nothing, the
// message is dropped.

// Runs fn under the thunk's entry: false when anything was raised.
template <typename Fn>
bool AsEntry(Fn fn) {
  const platform::HostEntry entry(platform::HostEntry::HostExceptions::kContain);
  const platform::LibraryFpScope fpState;
  bool completed = false;
  // Only a cancelled thread's unwind leaves it, on to the thread's start.
  auto body = [&]() noexcept(!platform::kCancellationUnwinds) {
    try {
      fn();
      completed = true;
    } catch (...) {
      if constexpr (platform::kCancellationUnwinds) {
        if (platform::HandlingThreadCancellation()) throw;
      }
      // Called on the dispatcher's own thread: nothing else may escape.
    }
  };
  platform::HostExceptionRecord fault;
  return platform::RunEntryBody(body, fault) && completed;
}

VU30_HOT_PATH bool VU30_CALL CheckReplyThunk(void* data, uint8_t channel, uint8_t* buffer,
                                             int32_t reserved, uint8_t* count, uint8_t* expected) {
  if (data == nullptr || count == nullptr || expected == nullptr) return false;
  bool accepted = false;
  // A check that could not be made accepts nothing.
  return AsEntry([&] {
           accepted = static_cast<ReplyChecker*>(data)->CheckReply(channel, buffer, reserved,
                                                                   *count, *expected);
         }) &&
         accepted;
}

VU30_HOT_PATH void VU30_CALL RouteMessageThunk(void* data, uint8_t workerAddress, uint8_t* buffer,
                                               int32_t reserved, uint8_t length) {
  if (data == nullptr) return;
  AsEntry([&] {
    static_cast<MessageHook*>(data)->RouteMessage(workerAddress, buffer, reserved, length);
  });
}

void VU30_CALL PreparePostThunk(void* data, uint8_t post) {
  if (data == nullptr) return;
  AsEntry([&] { static_cast<PostInitHandler*>(data)->PreparePost(post); });
}

// Checked so that the thunks' types match the boundary's callback types.
constexpr Vu30CheckReplyFn kCheckReply = &CheckReplyThunk;
constexpr Vu30RouteMessageFn kRouteMessage = &RouteMessageThunk;
constexpr Vu30PreparePostFn kPreparePost = &PreparePostThunk;

template <typename Fn>
Vu30BoundMethod Bind(Fn code, void* data) {
  return Vu30BoundMethod{reinterpret_cast<void*>(code), data};
}

// An entry of the host's table; a missing one is an error of the host. The
// calls of an exchange are made through CallHost: a host exception raised
// in them becomes a HostFault here. The registrations and the channel's
// set-up are made through CallHostPassing: under a function of the driver
// table a host exception raised in them goes on to the host unchanged.
template <typename Fn>
Fn Entry(Fn fn, const char* name) {
  if (fn == nullptr) {
    throw std::logic_error(std::string("vu30: the port dispatcher has no ") + name);
  }
  return fn;
}

// Every call into the host's dispatcher is made inside the driver's own
// exchange (own_exchange.h) of owner: the host may call the table from there.
template <typename F, typename... A>
decltype(auto) Contained(const void* owner, F f, A&&... args) {
  const OwnExchange inside(owner);
  return CallHost(f, std::forward<A>(args)...);
}

template <typename F, typename... A>
decltype(auto) Passing(const void* owner, F f, A&&... args) {
  const OwnExchange inside(owner);
  return platform::CallHostPassing(f, std::forward<A>(args)...);
}

}  // namespace

const void* HostDispatcher::Owner() const { return static_cast<const PortDispatcher*>(this); }

int32_t HostDispatcher::GetChannelError(uint8_t channel) {
  return Contained(Owner(), Entry(host_->table->GetChannelError, "GetChannelError"), host_,
                   channel);
}

VU30_HOT_PATH void HostDispatcher::SetChannelError(uint8_t channel, int32_t code) {
  Contained(Owner(), Entry(host_->table->SetChannelError, "SetChannelError"), host_, channel, code);
}

VU30_HOT_PATH void HostDispatcher::SetChannelStatus(uint8_t channel, uint8_t status) {
  Contained(Owner(), Entry(host_->table->SetChannelStatus, "SetChannelStatus"), host_, channel,
            status);
}

VU30_HOT_PATH uint8_t HostDispatcher::GetChannelStatus(uint8_t channel) {
  return Contained(Owner(), Entry(host_->table->GetChannelStatus, "GetChannelStatus"), host_,
                   channel);
}

int32_t HostDispatcher::ConfigureChannel(uint8_t post, int32_t mode, uint32_t lineSettings) {
  return Passing(Owner(), Entry(host_->table->ConfigureChannel, "ConfigureChannel"), host_, post,
                 mode, lineSettings);
}

VU30_HOT_PATH int32_t HostDispatcher::Transact(uint8_t channel, uint8_t lineAddress,
                                               const uint8_t* request, uint8_t requestLength,
                                               uint8_t* reply, uint8_t replyLength,
                                               uint8_t replyType) {
  return Contained(Owner(), Entry(host_->table->Transact, "Transact"), host_, channel, lineAddress,
                   request, requestLength, reply, replyLength, replyType);
}

VU30_HOT_PATH void HostDispatcher::SetReplyChecker(uint8_t channel, ReplyChecker& checker) {
  Passing(Owner(), Entry(host_->table->SetReplyChecker, "SetReplyChecker"), host_, channel,
          Bind(kCheckReply, static_cast<void*>(&checker)));
}

void HostDispatcher::SetMessageHook(uint8_t post, MessageHook& hook) {
  Passing(Owner(), Entry(host_->table->SetMessageHook, "SetMessageHook"), host_, post,
          Bind(kRouteMessage, static_cast<void*>(&hook)));
}

void HostDispatcher::SetPostInit(uint8_t post, PostInitHandler& handler) {
  Passing(Owner(), Entry(host_->table->SetPostInit, "SetPostInit"), host_, post,
          Bind(kPreparePost, static_cast<void*>(&handler)));
}

}  // namespace vu30::link
