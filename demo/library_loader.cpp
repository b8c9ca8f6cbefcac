// SPDX-License-Identifier: MIT
#include "library_loader.h"

#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vu30::demo {

#if defined(_WIN32)

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  handle_ = LoadLibraryA(path.c_str());
  if (handle_ == nullptr) {
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(GetLastError()));
  }
}

SharedLibrary::~SharedLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void (*SharedLibrary::FindAddress(const char* name) const)() {
  const FARPROC entry = GetProcAddress(static_cast<HMODULE>(handle_), name);
  if (entry == nullptr) throw std::runtime_error(path_ + " exports no " + name);
  return reinterpret_cast<void (*)()>(entry);
}

#else

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load: ") + dlerror());
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void (*SharedLibrary::FindAddress(const char* name) const)() {
  void* entry = dlsym(handle_, name);
  if (entry == nullptr) throw std::runtime_error(path_ + " exports no " + name);
  return reinterpret_cast<void (*)()>(entry);
}

#endif

}  // namespace vu30::demo
