/* SPDX-License-Identifier: MIT */
// The nice value a time-critical worker thread asks for on POSIX systems.
// Workers never enter a real-time scheduling class, so a worker can never
// starve the host's own threads; they take the strongest ordinary weight the
// process is allowed instead.
#pragma once

#include <cstdint>

namespace vu30::platform {

// The strongest ordinary weight: what a process with CAP_SYS_NICE (or an
// RLIMIT_NICE of 40 or more) gets.
inline constexpr int kStrongestNice = -20;
inline constexpr int kWeakestNice = 19;

// The nice a worker ends up asking for. strongestRefused tells whether the
// system refused kStrongestNice; currentNice is the nice the thread has now;
// rlimitNice is the soft RLIMIT_NICE (rlimitInfinite for RLIM_INFINITY).
// RLIMIT_NICE lets an unprivileged thread lower its nice down to
// 20 - rlimitNice; the result never weakens the thread below currentNice.
int ChooseWorkerNice(bool strongestRefused, int currentNice, std::uint64_t rlimitNice,
                     bool rlimitInfinite);

}  // namespace vu30::platform
