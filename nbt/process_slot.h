// SPDX-License-Identifier: MIT
// The one instance per process of something that owns threads or
// descriptors (the network thread, the socket poller): made on first use,
// and left behind in a child after fork(). The parent's instance there is
// never used nor destroyed, since its descriptors are shared with the
// parent; the child's next Get() makes one of its own.
#pragma once

#include <atomic>
#include <mutex>

namespace nbt {

template <typename T>
class ProcessSlot {
public:
    // The instance, made with make() on first use.
    template <typename Make>
    T &Get(Make make) {
        if (T *current = current_.load(std::memory_order_acquire)) return *current;
        std::lock_guard lock(mutex_);
        if (!current_.load(std::memory_order_relaxed)) current_.store(make(), std::memory_order_release);
        return *current_.load(std::memory_order_relaxed);
    }
    T *Peek() const { return current_.load(std::memory_order_acquire); }

    // Around fork(): held across it, then let go in both processes; in the
    // child the instance is forgotten first.
    void LockForFork() { mutex_.lock(); }
    void UnlockInParent() { mutex_.unlock(); }
    void ForgetInChild() {
        if (T *parents = current_.exchange(nullptr, std::memory_order_relaxed)) left_behind_ = parents;
        mutex_.unlock();
    }

private:
    std::atomic<T *> current_{nullptr};
    std::mutex mutex_;
    T *left_behind_ = nullptr;  // the parent's, in a child: kept, never used
};

}  // namespace nbt
