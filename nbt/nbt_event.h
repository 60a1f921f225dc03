// The completion event behind ncb_event. Linux has no event handle, so an
// NCB's HANDLE is a pointer to one of these: a manual-reset event that the
// provider sets when an asynchronous command completes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

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
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};
