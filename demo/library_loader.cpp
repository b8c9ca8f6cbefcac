#include "library_loader.h"

#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vu30::demo {

#if defined(_WIN32)

DriverLibrary::DriverLibrary(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    throw std::runtime_error("cannot load the driver " + path + ": error " +
                             std::to_string(GetLastError()));
  }
  handle_ = module;
  const FARPROC entry = GetProcAddress(module, "GetVU30");
  if (entry == nullptr) {
    FreeLibrary(module);
    throw std::runtime_error("the library exports no GetVU30");
  }
  getVu30_ = reinterpret_cast<Vu30GetVU30Fn>(reinterpret_cast<void (*)()>(entry));
}

DriverLibrary::~DriverLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

#else

DriverLibrary::DriverLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr)
    throw std::runtime_error(std::string("cannot load the driver: ") + dlerror());
  void* entry = dlsym(handle_, "GetVU30");
  if (entry == nullptr) {
    dlclose(handle_);
    throw std::runtime_error("the library exports no GetVU30");
  }
  getVu30_ = reinterpret_cast<Vu30GetVU30Fn>(entry);
}

DriverLibrary::~DriverLibrary() { dlclose(handle_); }

#endif

}  // namespace vu30::demo
