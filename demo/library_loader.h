/* SPDX-License-Identifier: MIT */
// Loading the driver library, and the line trace's, at run time as a station
// host does: LoadLibrary/GetProcAddress on Windows, dlopen/dlsym elsewhere.
#pragma once

#include <string>

#include "vu30.h"
#include "vu30_trace.h"

namespace vu30::demo {

// A loaded library, unloaded with the object.
class SharedLibrary {
 public:
  // Loads the library at path; throws std::runtime_error with the system's
  // reason when it cannot.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The exported function name; throws std::runtime_error when there is none.
  template <typename Fn>
  Fn Find(const char* name) const {
    return reinterpret_cast<Fn>(FindAddress(name));
  }

 private:
  void (*FindAddress(const char* name) const)();
  std::string path_;
  void* handle_ = nullptr;
};

class DriverLibrary {
 public:
  explicit DriverLibrary(const std::string& path)
      : library_(path), getVu30_(library_.Find<Vu30GetVU30Fn>("GetVU30")) {}
  Vu30GetVU30Fn GetVU30() const { return getVu30_; }

 private:
  SharedLibrary library_;
  Vu30GetVU30Fn getVu30_;
};

class TraceLibrary {
 public:
  explicit TraceLibrary(const std::string& path)
      : library_(path),
        open_(library_.Find<Vu30TraceOpenFn>("vu30_trace_open")),
        close_(library_.Find<Vu30TraceCloseFn>("vu30_trace_close")) {}
  Vu30TraceOpenFn Open() const { return open_; }
  Vu30TraceCloseFn Close() const { return close_; }

 private:
  SharedLibrary library_;
  Vu30TraceOpenFn open_;
  Vu30TraceCloseFn close_;
};

}  // namespace vu30::demo
