// SPDX-License-Identifier: MIT
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/thread.h"
#include "platform/worker_nice.h"

namespace vu30::platform {

void ApplyPriority(ThreadPriority priority) {
  // Time-critical maps to the strongest ordinary scheduling weight, not to a
  // real-time class: a worker answers its dispenser promptly but can never
  // starve the host's own threads.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  if (priority == ThreadPriority::Normal) {
    (void)setpriority(PRIO_PROCESS, tid, 0);
    return;
  }
  if (setpriority(PRIO_PROCESS, tid, kStrongestNice) == 0) return;
  const bool refused = errno == EACCES || errno == EPERM;
  if (!refused) return;
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno != 0) return;
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return;
  const int chosen = ChooseWorkerNice(true, current, static_cast<std::uint64_t>(limit.rlim_cur),
                                      limit.rlim_cur == RLIM_INFINITY);
  if (chosen != current) (void)setpriority(PRIO_PROCESS, tid, chosen);
}

void NameThisThread(const std::string& name) {
  // Linux keeps 15 characters and refuses longer names.
  const std::string kept = name.substr(0, 15);
  (void)pthread_setname_np(pthread_self(), kept.c_str());
}

}  // namespace vu30::platform
