#include <windows.h>

#include "platform/thread.h"

namespace vu30::platform {

void ApplyPriority(ThreadPriority priority) {
  const int level = priority == ThreadPriority::TimeCritical ? THREAD_PRIORITY_TIME_CRITICAL
                                                             : THREAD_PRIORITY_NORMAL;
  (void)SetThreadPriority(GetCurrentThread(), level);
}

}  // namespace vu30::platform
