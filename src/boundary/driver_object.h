// The object handed to the host: the boundary's first word (the driver
// table) followed by the driver it stands for.
#pragma once

#include <memory>

#include "driver/zud30.h"
#include "vu30.h"

namespace vu30::boundary {

// The host holds a pointer to the Vu30Driver base, whose first word is the
// table; the boundary gets back to the whole object with a static_cast. (A
// member instead of a base would need standard layout, which a
// std::unique_ptr member does not give with every compiler.)
struct DriverObject : Vu30Driver {
  std::unique_ptr<driver::ZUD30> driver;
};

// The table every driver object points to.
const Vu30DriverTable& DriverTable();

// The driver behind a host's pointer; refuses a null pointer or an object
// that is not one of ours.
driver::ZUD30& DriverOf(Vu30Driver* self);
DriverObject& ObjectOf(Vu30Driver* self);

// Clears the library-wide driver reference when it names self.
void ForgetDriver(Vu30Driver* self);

}  // namespace vu30::boundary
