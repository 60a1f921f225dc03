// SPDX-License-Identifier: MIT
#include "state_lock.h"

namespace nbt {
namespace {

std::mutex &StateMutex() {
    // Never destroyed: handlers may still run while statics are torn down.
    static auto *mutex = new std::mutex;
    return *mutex;
}

thread_local int held_depth = 0;
thread_local std::vector<std::pair<void (*)(void *), void *>> after_unlock;

}  // namespace

StateGuard::StateGuard() {
    if (held_depth++ == 0) StateMutex().lock();
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

void StateGuard::LockForFork() {
    if (held_depth++ == 0) StateMutex().lock();
}

void StateGuard::UnlockAfterFork() {
    // In the child the forking thread is the owner, so this is sound there too.
    if (--held_depth == 0) StateMutex().unlock();
}

void StateGuard::AfterUnlock(void (*fn)(void *), void *arg) {
    if (held_depth == 0) return fn(arg);
    after_unlock.emplace_back(fn, arg);
}

}  // namespace nbt
