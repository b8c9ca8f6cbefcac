// SPDX-License-Identifier: MIT
// The driver table: one function per slot, each forwarding to the driver
// object behind the host's pointer. Each slot is a plain function; errors
// leave it as boundary_errors.h says. A slot that the design defines through
// another slot calls that slot's inner function, never the table: only the
// outermost entry switches the floating-point state and raises, and the inner
// function checks the driver object.
#include <memory>

#include "boundary/boundary_errors.h"
#include "boundary/driver_object.h"
#include "config/menu_entry.h"
#include "driver/messages.h"
#include "driver/zud30.h"
#include "platform/hot_path.h"
#include "platform/sleep.h"
#include "platform/thread_cancel.h"
#include "vu30.h"

namespace vu30::boundary {

DriverObject& ObjectOf(Vu30Driver* self) {
  if (self == nullptr || self->table != &DriverTable()) {
    throw EVu30Refused("vu30: not a driver object of this library");
  }
  // Every object whose table is ours was made by GetVU30 as a DriverObject.
  return *static_cast<DriverObject*>(self);
}

VU30_HOT_PATH HostCall::HostCall(Vu30Driver* self) : object_(ObjectOf(self)) {
  // One read-modify-write: either the release's mark comes first and this
  // call sees it, or this call comes first and the release sees it inside.
  if ((object_.calls.fetch_add(1, std::memory_order_acquire) & DriverObject::kReleasing) != 0) {
    object_.calls.fetch_sub(1, std::memory_order_release);
    throw EVu30Refused("vu30: the driver is being released");
  }
}

VU30_HOT_PATH HostCall::~HostCall() {
  if (!releaseOnFault_.Released()) Leave(this);
}

void HostCall::Leave(void* call) noexcept {
  static_cast<HostCall*>(call)->object_.calls.fetch_sub(1, std::memory_order_release);
}

namespace {

void VU30_CALL Abstract(Vu30Driver* /*self*/) { throw EAbstractError(driver::messages::kAbstract); }

uint8_t* VU30_CALL GetDriverInfo(uint8_t* result, Vu30Driver* self) {
  const HostCall call(self);
  driver::ZUD30::GetDriverInfo(result);
  return result;
}

void VU30_CALL SetLinkStatus(Vu30Driver* self, uint8_t post, uint8_t value) {
  HostCall(self)->SetLinkStatus(post, value);
}

uint8_t VU30_CALL GetLinkStatus(Vu30Driver* self, uint8_t post) {
  return HostCall(self)->GetLinkStatus(post);
}

VU30_HOT_PATH uint8_t VU30_CALL StopPump(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                         int32_t exchange) {
  return HostCall(self)->StopPump(post, exchange);
}

int32_t VU30_CALL StopPumpNow(Vu30Driver* self, int32_t post) {
  StopPump(self, post & 0xFF, 0, 1);
  return 0;
}

VU30_HOT_PATH void VU30_CALL ReadFinalDispense(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                               double* volume, double* money) {
  HostCall(self)->ReadFinalDispense(post, volume, money);
}

VU30_HOT_PATH void VU30_CALL ReadCounter(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                         int32_t nozzle, double* counter, double* second,
                                         int32_t /*reserved2*/, int32_t /*reserved3*/) {
  HostCall(self)->ReadCounter(post, nozzle, counter, second);
}

void VU30_CALL Nop8(Vu30Driver* self, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                    int32_t) {
  const HostCall call(self);
}

VU30_HOT_PATH double VU30_CALL PollDispense(Vu30Driver* self, int32_t post, int32_t mode,
                                            double* money) {
  return HostCall(self)->PollDispense(post, mode, money);
}

uint32_t VU30_CALL GetPumpState(Vu30Driver* self, uint8_t post, int32_t /*reserved*/) {
  return HostCall(self)->GetPumpState(post);
}

VU30_HOT_PATH void VU30_CALL SetPrice(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                      int32_t nozzle, int32_t /*reserved2*/, int32_t /*reserved3*/,
                                      double price) {
  HostCall(self)->SetPrice(post, nozzle, price);
}

void VU30_CALL Nop12(Vu30Driver* self, int32_t, int32_t, int32_t) { const HostCall call(self); }

VU30_HOT_PATH void VU30_CALL PresetVolume(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                          int32_t nozzle, int32_t /*reserved2*/, double volume) {
  HostCall(self)->PresetVolume(post, nozzle, volume);
}

VU30_HOT_PATH void VU30_CALL PresetMoney(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                         int32_t nozzle, int32_t /*reserved2*/, double money) {
  HostCall(self)->PresetMoney(post, nozzle, money);
}

VU30_HOT_PATH void VU30_CALL StartPump(Vu30Driver* self, int32_t post, int32_t /*reserved*/,
                                       int32_t /*reserved2*/) {
  HostCall(self)->StartPump(post);
}

void VU30_CALL OpenPost(Vu30Driver* self, int32_t post) { HostCall(self)->OpenPost(post); }

void VU30_CALL Nop17(Vu30Driver* self, int32_t, int32_t, int32_t) { const HostCall call(self); }

void VU30_CALL Nop18(Vu30Driver* self, int32_t, int32_t, int32_t, int32_t) {
  const HostCall call(self);
}

void VU30_CALL StartPumpAlias(Vu30Driver* self, int32_t post, int32_t a, int32_t b,
                              int32_t /*reserved*/) {
  StartPump(self, post, a, b);
}

bool VU30_CALL GetCapability(Vu30Driver* self, int32_t number, int32_t* value) {
  const HostCall call(self);
  return driver::ZUD30::GetCapability(number, value);
}

uint8_t* VU30_CALL GetStatusRecord(uint8_t* record, Vu30Driver* self, uint8_t post,
                                   uint8_t passedOn, int32_t /*reserved*/) {
  const HostCall call(self);
  if (record == nullptr) throw EVu30Refused("vu30: no status record to fill");
  // The state code first: a refused post leaves the host's record untouched.
  const auto code = static_cast<uint8_t>(GetPumpState(self, post, passedOn));
  record[0] = code;
  record[1] = 0;
  record[14] = static_cast<uint8_t>(code & 7);
  record[15] = 0;
  return record;
}

uint8_t VU30_CALL StopPumpEx(Vu30Driver* self, int32_t post, int32_t a, int32_t /*reserved*/,
                             int32_t exchange) {
  return StopPump(self, post, a, exchange & 0xFF);
}

uint8_t VU30_CALL StopPumpAlt(Vu30Driver* self, int32_t post, int32_t a, int32_t /*reserved*/,
                              int32_t /*reserved2*/) {
  return StopPump(self, post, a, 1);
}

void VU30_CALL AddMenuEntry(Vu30Driver* self, Vu30MenuItem* parentItem,
                            Vu30CreateItemFn createItem) {
  // Checked, and refused while the driver is being released, but not
  // counted while the entry is added: the entry is the library's, not the
  // driver's, and the host's menu functions it calls may release the driver.
  (void)HostCall(self);
  config::AddMenuEntry(parentItem, createItem, self);
}

// Waits until no call of the host is inside the driver but the release. A
// cancelled wait takes the release's mark back: the driver lives on.
void WaitForCalls(DriverObject& object) {
  try {
    while ((object.calls.load(std::memory_order_acquire) & ~DriverObject::kReleasing) != 0) {
      platform::SleepMs(1);
    }
  } catch (...) {  // only a cancellation: the sleep raises nothing else
    object.calls.fetch_and(~DriverObject::kReleasing, std::memory_order_release);
    throw;
  }
}

void VU30_CALL Destroy(Vu30Driver* self) {
  if (self == nullptr) return;
  DriverObject& object = ObjectOf(self);
  // From inside one of the driver's own calls into the host's dispatcher
  // (its Transact, or a dispatcher function that the reply check or a
  // worker calls) the destruction would wait for the very call it is made
  // from.
  if (object.driver->InsideOwnExchange()) {
    throw EVu30Refused("vu30: the driver cannot be destroyed from inside its own exchange");
  }
  // Calls that come from now on are refused; those inside are waited for.
  if ((object.calls.fetch_or(DriverObject::kReleasing, std::memory_order_acq_rel) &
       DriverObject::kReleasing) != 0) {
    throw EVu30Refused("vu30: the driver is being released");
  }
  WaitForCalls(object);
  // The workers are stopped and waited for: a cancellation of this thread
  // acts once the driver is released.
  const platform::CancellationHeldOff heldOff;
  const std::unique_ptr<DriverObject> owned(&object);
  ForgetDriver(self);
}

// The runtime's entries before slot 0 (vu30.h). Entry -1 is the destructor
// of an Object Pascal host's Free and Destroy; it releases the object
// whatever the outer-call flag says, as entry 25 does, errors included.
void VU30_RUNTIME_CALL RuntimeDestroy(Vu30Driver* self, int8_t /*outer*/) {
  Guarded<&Destroy>(self);
}

int32_t VU30_RUNTIME_CALL RuntimeSafeCallException(Vu30Driver* /*self*/, void* /*exceptObject*/,
                                                   void* /*exceptAddress*/) {
  return VU30_SAFECALL_RESULT;
}

// AfterConstruction, BeforeDestruction, Dispatch, DefaultHandler,
// NewInstance and FreeInstance: the driver has nothing to do there.
intptr_t VU30_RUNTIME_CALL RuntimeNothing(Vu30Driver* /*self*/, void* /*argument*/) { return 0; }

// The runtime's entries lie right before slot 0, in one block as vu30.h
// describes it; the object's table pointer points at slot 0. Every slot is
// behind the guard of boundary_errors.h: on Windows an error leaves as the
// library's structured exception.
constexpr Vu30DriverTableBlock kBlock = {
    {
        &RuntimeSafeCallException,
        &RuntimeNothing,
        &RuntimeNothing,
        &RuntimeNothing,
        &RuntimeNothing,
        &RuntimeNothing,
        &RuntimeNothing,
        &RuntimeDestroy,
    },
    {
        Guarded<&Abstract>,
        Guarded<&GetDriverInfo>,
        Guarded<&SetLinkStatus>,
        Guarded<&GetLinkStatus>,
        Guarded<&StopPump>,
        Guarded<&StopPumpNow>,
        Guarded<&ReadFinalDispense>,
        Guarded<&ReadCounter>,
        Guarded<&Nop8>,
        Guarded<&PollDispense>,
        Guarded<&GetPumpState>,
        Guarded<&SetPrice>,
        Guarded<&Nop12>,
        Guarded<&PresetVolume>,
        Guarded<&PresetMoney>,
        Guarded<&StartPump>,
        Guarded<&OpenPost>,
        Guarded<&Nop17>,
        Guarded<&Nop18>,
        Guarded<&StartPumpAlias>,
        Guarded<&GetCapability>,
        Guarded<&GetStatusRecord>,
        Guarded<&StopPumpEx>,
        Guarded<&StopPumpAlt>,
        Guarded<&AddMenuEntry>,
        Guarded<&Destroy>,
    },
};

}  // namespace

const Vu30DriverTable& DriverTable() { return kBlock.table; }

}  // namespace vu30::boundary
