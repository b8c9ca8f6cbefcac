#include "platform/thread.h"

namespace vu30::platform {

Thread::Thread(ThreadPriority priority, std::function<void()> body, std::string name)
    : thread_([priority, body = std::move(body), name = std::move(name)] {
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
