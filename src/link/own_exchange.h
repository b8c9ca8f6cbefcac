/* SPDX-License-Identifier: MIT */
// Which drivers the calling thread is inside of. A driver is inside its own
// exchange while it calls the host's dispatcher, on a host's thread or on a
// post worker (HostDispatcher marks every such call). Its callbacks reach
// the host's code only through those calls, so a host function running
// inside the reply check, the message hook or the post initialisation is
// inside them too. A host may call the driver's table from there; destroying
// the driver from there would wait for the very call it is made from (the
// worker, the gate, the lock), so the destruction asks first and refuses.
#pragma once

#include "platform/host_entry.h"

namespace vu30::link {

class OwnExchange {
 public:
  // The calling thread is inside owner's exchange until this is destroyed.
  // Scopes nest; each is destroyed on the thread that made it, innermost
  // first. A host's exception that passes on to the host's own handlers, or
  // a fault taken by an entry's guard, ends the scope's frame without its
  // destructor: the guard then ends the scope (host_entry.h).
  explicit OwnExchange(const void* owner) noexcept;
  ~OwnExchange();
  OwnExchange(const OwnExchange&) = delete;
  OwnExchange& operator=(const OwnExchange&) = delete;

  // True while the calling thread is inside an exchange of owner.
  static bool Inside(const void* owner) noexcept;

 private:
  static void End(void* scope) noexcept;

  const void* owner_;
  const OwnExchange* outer_;
  platform::ReleaseOnFault releaseOnFault_{&End, this};
};

}  // namespace vu30::link
