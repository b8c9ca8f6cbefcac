/* SPDX-License-Identifier: MIT */
// The object handed to the host: the boundary's first word (the driver
// table) followed by the driver it stands for.
#pragma once

#include <cstddef>
#include <memory>

#include "driver/zud30.h"
#include "vu30.h"

namespace vu30::boundary {

// The host holds a pointer to the Vu30Driver part and reads the table from
// its first word; the library gets back from that pointer to the whole object
// by a cast from base to derived.
struct DriverObject : Vu30Driver {
  std::unique_ptr<driver::ZUD30> driver;
};
static_assert(std::is_standard_layout_v<Vu30Driver> && offsetof(Vu30Driver, table) == 0,
              "the host reads the driver table from the first word of the object it holds");

// The table every driver object points to.
const Vu30DriverTable& DriverTable();

// The driver behind a host's pointer; refuses a null pointer or an object
// that is not one of ours.
driver::ZUD30& DriverOf(Vu30Driver* self);
DriverObject& ObjectOf(Vu30Driver* self);

// Clears the library-wide driver reference when it names self.
void ForgetDriver(Vu30Driver* self);

}  // namespace vu30::boundary
