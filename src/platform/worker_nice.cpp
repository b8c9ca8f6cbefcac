// SPDX-License-Identifier: MIT
#include "platform/worker_nice.h"

#include <algorithm>

namespace vu30::platform {

int ChooseWorkerNice(bool strongestRefused, int currentNice, std::uint64_t rlimitNice,
                     bool rlimitInfinite) {
  if (!strongestRefused) return kStrongestNice;
  // The lowest nice the limit allows: 20 - rlimitNice, within -20..19.
  int allowed = kWeakestNice;
  if (rlimitInfinite || rlimitNice >= 40) {
    allowed = kStrongestNice;
  } else if (rlimitNice > 1) {
    allowed = 20 - static_cast<int>(rlimitNice);
  }
  // The limit claims -20 is allowed, yet it was refused: something else
  // (a security policy) forbids raising the priority; keep what we have.
  if (allowed <= kStrongestNice) return currentNice;
  return std::min(allowed, currentNice);
}

}  // namespace vu30::platform
