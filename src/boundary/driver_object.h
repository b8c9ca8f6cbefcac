// The object handed to the host: the boundary's first word (the driver
// table) followed by the driver it stands for.
#pragma once

#include <memory>
#include <type_traits>

#include "driver/zud30.h"
#include "vu30.h"

namespace vu30::boundary {

struct DriverObject {
  Vu30Driver abi;  // first: the host reads the table from the object's first word
  std::unique_ptr<driver::ZUD30> driver;
};
static_assert(std::is_standard_layout_v<DriverObject>,
              "the host's pointer to the object is a pointer to its first member");

// The table every driver object points to.
const Vu30DriverTable& DriverTable();

// The driver behind a host's pointer; refuses a null pointer or an object
// that is not one of ours.
driver::ZUD30& DriverOf(Vu30Driver* self);
DriverObject& ObjectOf(Vu30Driver* self);

// Clears the library-wide driver reference when it names self.
void ForgetDriver(Vu30Driver* self);

}  // namespace vu30::boundary
