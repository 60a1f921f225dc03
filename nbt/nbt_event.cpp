// SPDX-License-Identifier: MIT
#include "nbt_event.h"

#include <climits>

#include "futex.h"

using nbt::FutexWait;
using nbt::FutexWake;

void NbtEvent::Set() {
    // A waiter that sees the event set may destroy it at once: the wake
    // below uses only the word's address, a number to the kernel.
    auto *word = &state_;
    if (state_.exchange(kSet, std::memory_order_acq_rel) == kClearWithSleepers) FutexWake(word, INT_MAX);
}

void NbtEvent::BeginSet() {
    setters_.fetch_add(kSetter, std::memory_order_acq_rel);
}

void NbtEvent::FinishSet() {
    Set();
    // The last touch of *this: once the count drops, an awaiting Reset() or
    // destructor may go on; the wake uses only the word's address.
    auto *word = &setters_;
    if (setters_.fetch_sub(kSetter, std::memory_order_acq_rel) == (kSetter | kAwaited)) FutexWake(word, INT_MAX);
}

void NbtEvent::AwaitSetters() {
    for (;;) {
        std::uint32_t seen = setters_.load(std::memory_order_acquire);
        if (seen < kSetter) {
            if (seen == kAwaited) setters_.compare_exchange_strong(seen, 0, std::memory_order_acq_rel);
            return;
        }
        if (!(seen & kAwaited) &&
            !setters_.compare_exchange_strong(seen, seen | kAwaited, std::memory_order_acq_rel))
            continue;
        FutexWait(&setters_, seen | kAwaited);
    }
}

void NbtEvent::Reset() {
    // A completion still setting the event belongs to a block the caller
    // has seen done: it lands before the event is cleared, not after.
    AwaitSetters();
    // Sleepers (kClearWithSleepers) stay as they are: the event is clear.
    std::uint32_t expected = kSet;
    state_.compare_exchange_strong(expected, kClear, std::memory_order_acq_rel);
}

bool NbtEvent::IsSet() const {
    return state_.load(std::memory_order_acquire) == kSet;
}

void NbtEvent::Wait() {
    WaitFor(std::chrono::milliseconds::max());
}

bool NbtEvent::WaitFor(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeout >= std::chrono::hours(24 * 365);
    const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
    for (;;) {
        std::uint32_t seen = state_.load(std::memory_order_acquire);
        if (seen == kSet) return true;
        if (seen == kClear &&
            !state_.compare_exchange_strong(seen, kClearWithSleepers, std::memory_order_acq_rel))
            continue;  // set or reset meanwhile: look again
        if (forever) {
            FutexWait(&state_, kClearWithSleepers, nullptr);
            continue;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return IsSet();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        FutexWait(&state_, kClearWithSleepers, &wait);
    }
}
