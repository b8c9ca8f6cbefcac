// SPDX-License-Identifier: MIT
#include "platform/thread.h"

#include "platform/fp_state.h"

namespace vu30::platform {

Thread::Thread(ThreadPriority priority, std::function<void()> body, std::string name)
    : thread_([priority, body = std::move(body), name = std::move(name)] {
        // A new thread's floating-point state is the system's default; the
        // library's is made explicit, as at every entry from the host.
        ApplyLibraryFpState();
        if (!name.empty()) NameThisThread(name);
        ApplyPriority(priority);
        body();
      }) {}

Thread::~Thread() {
  Terminate();
  WaitFor();
}

void Thread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace vu30::platform
