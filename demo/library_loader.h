// Loading the driver library at run time, as a station host does:
// LoadLibrary/GetProcAddress on Windows, dlopen/dlsym elsewhere.
#pragma once

#include <string>

#include "vu30.h"

namespace vu30::demo {

class DriverLibrary {
 public:
  // Loads the library at path and finds its GetVU30; throws
  // std::runtime_error with the system's reason when either fails.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();  // unloads the library
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  Vu30GetVU30Fn GetVU30() const { return getVu30_; }

 private:
  void* handle_ = nullptr;
  Vu30GetVU30Fn getVu30_ = nullptr;
};

}  // namespace vu30::demo
