// SPDX-License-Identifier: MIT
// Issuing NCBs and waiting for them. Asynchronous blocks complete through
// ncb_post on the provider's thread; the post routine hands them to whoever
// waits here. Ctrl-C (SIGINT) and SIGTERM wake every waiter, so a command
// can hang up its sessions and delete its names before it exits; before a
// command runs there is nothing to undo and they end the process at once.
#pragma once

#include <chrono>
#include <optional>

#include "nb30.h"

namespace cli {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// Call first, before any other thread exists, so that every thread the
// provider starts inherits the blocked signals. Until CommandStarts() a
// signal ends the process at once; after it, a second signal does, and so
// does the first when the command has not ended kCleanupGrace after it (a
// call that does not wait here, such as a registration with a silent name
// server, would keep it). Those exits are 128 + the signal, as a shell
// reports a process the signal killed.
void InstallInterruptHandling();
void CommandStarts();
bool Interrupted();
// A command's exit status as the process's: kExitInterrupted becomes 128 +
// the signal that interrupted it (130 for Ctrl-C, 143 for SIGTERM).
int ProcessExitStatus(int command_status);

constexpr std::chrono::seconds kCleanupGrace{5};

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
