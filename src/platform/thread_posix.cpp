#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/thread.h"

namespace vu30::platform {

void ApplyPriority(ThreadPriority priority) {
  // Time-critical maps to the strongest ordinary scheduling weight (nice -20),
  // not to a real-time class: a worker answers its dispenser promptly but can
  // never starve the host's own threads.
  const int nice = priority == ThreadPriority::TimeCritical ? -20 : 0;
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, nice);  // refused without privilege: keep as is
}

}  // namespace vu30::platform
