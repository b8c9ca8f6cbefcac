// SPDX-License-Identifier: MIT
// A host that leaves its trace open: it loads the trace library at run time,
// makes calls through a traced dispatcher and ends without closing the trace,
// either by a normal exit or by unloading the library and ending at once.
//   trace_left_open_host LIBRARY TRACE_FILE CALLS exit|unload
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vu30_trace.h"

namespace {

uint8_t VU30_CALL GetChannelStatus(Vu30Dispatcher*, uint8_t) { return VU30_LINK_GOOD; }

const Vu30DispatcherTable kTable = [] {
  Vu30DispatcherTable t{};
  t.GetChannelStatus = &GetChannelStatus;
  return t;
}();

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: trace_left_open_host LIBRARY TRACE_FILE CALLS exit|unload\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const auto open = reinterpret_cast<Vu30TraceOpenFn>(dlsym(library, "vu30_trace_open"));
  Vu30Dispatcher inner{&kTable};
  Vu30Dispatcher* traced = open != nullptr ? open(&inner, argv[2], VU30_TRACE_DEFAULTS) : nullptr;
  if (traced == nullptr) return 2;
  const int calls = std::atoi(argv[3]);
  for (int i = 0; i < calls; ++i)
    traced->table->GetChannelStatus(traced, static_cast<uint8_t>(1 + i % 8));
  if (std::string(argv[4]) == "unload") {
    dlclose(library);
    _exit(0);  // no exit handlers: only the unloading wrote the rest
  }
  return 0;
}
