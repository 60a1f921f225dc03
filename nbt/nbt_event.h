// The completion event behind ncb_event. Linux has no event handle, so an
// NCB's HANDLE is a pointer to one of these: a manual-reset event that the
// provider sets when an asynchronous command completes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "nb30.h"

struct NbtEvent {
    // Signals the event and wakes every waiter; it stays set until Reset().
    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks until the event is set.
    void Wait();
    // Blocks until the event is set or the timeout runs out; true if set.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    // One word on a futex: Set() makes a system call only when a thread
    // sleeps on it.
    static constexpr std::uint32_t kClear = 0, kSet = 1, kClearWithSleepers = 2;
    std::atomic<std::uint32_t> state_{kClear};
};
