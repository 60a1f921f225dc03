// SPDX-License-Identifier: MIT
#include "state_lock.h"

#include <atomic>

namespace nbt {
namespace {

std::mutex &StateMutex() {
    // Never destroyed: handlers may still run while statics are torn down.
    static auto *mutex = new std::mutex;
    return *mutex;
}

// Threads blocked on the lock. While any is, a thread coming for it waits
// until they have had it. A caller that lets the lock go and takes it again
// at once, message after message, would otherwise keep a blocked thread (the
// network thread with a timer due) out for as long as it loops, and wake it
// for nothing at every release: in a loop of 64 KiB sends, tens of
// milliseconds per handler and a wake-up of the other core per message.
std::atomic<int> &BlockedThreads() {
    static auto *blocked = new std::atomic<int>(0);
    return *blocked;
}

void Lock() {
    auto &blocked = BlockedThreads();
    for (int seen; (seen = blocked.load(std::memory_order_acquire)) > 0;) blocked.wait(seen);
    if (StateMutex().try_lock()) return;
    blocked.fetch_add(1, std::memory_order_relaxed);
    StateMutex().lock();
    blocked.fetch_sub(1, std::memory_order_release);
    blocked.notify_all();
}

thread_local int held_depth = 0;
thread_local std::vector<std::pair<void (*)(void *), void *>> after_unlock;

}  // namespace

StateGuard::StateGuard() {
    if (held_depth++ == 0) Lock();
}

StateGuard::~StateGuard() {
    if (--held_depth > 0) return;
    StateMutex().unlock();
    if (after_unlock.empty()) return;
    // Swapped out first: what runs may take the lock again and defer more.
    std::vector<std::pair<void (*)(void *), void *>> due;
    due.swap(after_unlock);
    for (const auto &[fn, arg] : due) fn(arg);
    due.clear();
    if (after_unlock.empty()) after_unlock.swap(due);  // its room serves the next time
}

bool StateGuard::Held() {
    return held_depth > 0;
}

int StateGuard::Blocked() {
    return BlockedThreads().load(std::memory_order_relaxed);
}

void StateGuard::LockForFork() {
    if (held_depth++ == 0) Lock();
}

void StateGuard::UnlockAfterFork(bool child) {
    // In the child the forking thread is the owner, so this is sound there
    // too; the threads that were blocked stayed in the parent.
    if (child) BlockedThreads().store(0, std::memory_order_relaxed);
    if (--held_depth == 0) StateMutex().unlock();
}

void StateGuard::AfterUnlock(void (*fn)(void *), void *arg) {
    if (held_depth == 0) return fn(arg);
    after_unlock.emplace_back(fn, arg);
}

}  // namespace nbt
