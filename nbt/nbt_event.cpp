#include "nbt_event.h"

void NbtEvent::Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    // Notify under the lock: a waiter that sees the event set may destroy it
    // at once, and the notify must not reach a destroyed object.
    changed_.notify_all();
}

void NbtEvent::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool NbtEvent::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

void NbtEvent::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

bool NbtEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return set_; });
}
