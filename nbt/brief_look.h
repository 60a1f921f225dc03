// SPDX-License-Identifier: MIT
// A short look at descriptors before sleeping on them, for an answer another
// process gives sooner than a sleeping thread would wake (tens of
// microseconds on an idle virtual machine).
#pragma once

#include <poll.h>
#include <sched.h>

#include <chrono>

namespace nbt {

// poll()s fds without waiting until one is ready or `look` has passed,
// yielding the core between looks: the process that is to answer is often
// queued on this very core, and a bare spin would hold it off. poll()'s
// result: 0 when nothing was ready in time.
inline int LookBriefly(pollfd *fds, nfds_t count, std::chrono::microseconds look) {
    const auto until = std::chrono::steady_clock::now() + look;
    int ready;
    while ((ready = ::poll(fds, count, 0)) == 0 && std::chrono::steady_clock::now() < until) ::sched_yield();
    return ready;
}

}  // namespace nbt
