// Issuing NCBs and waiting for them. Asynchronous blocks complete through
// ncb_post on the provider's thread; the post routine hands them to whoever
// waits here. Ctrl-C (SIGINT) and SIGTERM wake every waiter, so a command
// can hang up its sessions and delete its names before it exits.
#pragma once

#include <chrono>
#include <optional>

#include "nb30.h"

namespace cli {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// Call first, before any other thread exists, so that every thread the
// provider starts inherits the blocked signals. A second signal ends the
// process at once (status 130).
void InstallInterruptHandling();
bool Interrupted();

// Submits the asynchronous form of the block. Returns what Netbios()
// returned: NRC_GOODRET once accepted, else the error found at once (then
// no completion follows).
UCHAR Submit(NCB &ncb);

enum class Wait { kCompleted, kTimedOut, kInterrupted };

// Waits until the submitted block completes, the deadline passes or (when
// `interruptible`) an interrupt arrives.
Wait WaitFor(const NCB &ncb, Deadline deadline, bool interruptible = true);
// Submits and waits; the block's return code, or NRC_PENDING when the wait
// ended first (the block is then still in flight).
UCHAR SubmitAndWait(NCB &ncb, Deadline deadline, bool interruptible = true);
// The next submitted block to complete, in completion order; null when the
// deadline passes or an interrupt arrives first.
NCB *WaitForAny(Deadline deadline);

// Sleeps for `period`; false when an interrupt arrives first.
bool Pause(std::chrono::milliseconds period);

inline Deadline After(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) return std::nullopt;
    return Clock::now() + *timeout;
}

}  // namespace cli
