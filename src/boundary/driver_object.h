/* SPDX-License-Identifier: MIT */
// The object handed to the host: the boundary's first word (the driver
// table) followed by the driver it stands for.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "driver/zud30.h"
#include "platform/host_entry.h"
#include "vu30.h"

namespace vu30::boundary {

// The host holds a pointer to the Vu30Driver part and reads the table from
// its first word; the library gets back from that pointer to the whole object
// by a cast from base to derived.
struct DriverObject : Vu30Driver {
  // The top bit: the release has begun. The rest: the host's calls inside
  // the driver (HostCall), which the release waits for.
  static constexpr uint32_t kReleasing = 0x80000000u;
  std::unique_ptr<driver::ZUD30> driver;
  std::atomic<uint32_t> calls{0};
};
static_assert(std::is_standard_layout_v<Vu30Driver> && offsetof(Vu30Driver, table) == 0,
              "the host reads the driver table from the first word of the object it holds");

// The table every driver object points to.
const Vu30DriverTable& DriverTable();

// The driver object behind a host's pointer; refuses a null pointer or an
// object that is not one of ours.
DriverObject& ObjectOf(Vu30Driver* self);

// One call of the host inside the driver, from the check of the host's
// pointer to the call's return: the driver's release waits until the calls
// inside have returned, and a call that comes while the release waits is
// refused (EVu30Refused) with nothing done. The count is one atomic
// operation on the way in and one on the way out. It is given back also
// when a host's exception passes on to the host's handlers and ends the
// call's frames (platform/host_entry.h).
class HostCall {
 public:
  explicit HostCall(Vu30Driver* self);
  ~HostCall();
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;

  driver::ZUD30* operator->() const { return object_.driver.get(); }

 private:
  static void Leave(void* call) noexcept;

  DriverObject& object_;
  platform::ReleaseOnFault releaseOnFault_{&Leave, this};
};

// Clears the library-wide driver reference when it names self.
void ForgetDriver(Vu30Driver* self);

}  // namespace vu30::boundary
