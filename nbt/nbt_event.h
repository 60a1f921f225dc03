// SPDX-License-Identifier: MIT
// The completion event behind ncb_event. Linux has no event handle, so an
// NCB's HANDLE is a pointer to one of these: a manual-reset event that the
// provider sets when an asynchronous command completes.
//
// The provider marks the event as being set before it publishes the block's
// result, and unmarks it after Set(). Reset() and the destructor wait for
// that mark to go: a caller who saw ncb_cmd_cplt done may free the event or
// give it to its next block at once, and no late Set() of the old block can
// reach it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "nb30.h"

struct NbtEvent {
    NbtEvent() = default;
    ~NbtEvent() { AwaitSetters(); }
    NbtEvent(const NbtEvent &) = delete;
    NbtEvent &operator=(const NbtEvent &) = delete;

    // Signals the event and wakes every waiter; it stays set until Reset().
    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks until the event is set.
    void Wait();
    // Blocks until the event is set or the timeout runs out; true if set.
    bool WaitFor(std::chrono::milliseconds timeout);

    // The provider, around completing a block: BeginSet() before its result
    // is published, FinishSet() (which sets the event) after.
    void BeginSet();
    void FinishSet();
    // Returns once no completion is between BeginSet() and FinishSet().
    void AwaitSetters();

private:
    // One word on a futex: Set() makes a system call only when a thread
    // sleeps on it.
    static constexpr std::uint32_t kClear = 0, kSet = 1, kClearWithSleepers = 2;
    std::atomic<std::uint32_t> state_{kClear};
    // Completions under way, two a piece; the low bit marks a thread asleep
    // in AwaitSetters().
    static constexpr std::uint32_t kSetter = 2, kAwaited = 1;
    std::atomic<std::uint32_t> setters_{0};
};
