// SPDX-License-Identifier: MIT
#include "completion.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <vector>

#include "brief_look.h"
#include "futex.h"
#include "io_thread.h"
#include "nbt_event.h"
#include "state_lock.h"

namespace nbt {
namespace {

struct InFlight {
    std::mutex mutex;
    // A few blocks at a time, bounded by the nodes' NCB limits: a scan costs
    // less than a hashed node allocated and freed for every command.
    std::vector<const NCB *> blocks;
};

InFlight &Blocks() {
    // Never destroyed: the network thread may still finish blocks while
    // static objects are being torn down at exit.
    static auto *in_flight = new InFlight;
    return *in_flight;
}

std::atomic<std::uint64_t> thrown_post_routines{0};
std::atomic<bool> leave_pending_blocks{false};

// How a finished block is to be reported, read from it before its result is
// published: from then on the caller may free it or submit it again.
struct Notice {
    SyncWaiter *waiter = nullptr;
    void (*post)(NCB *) = nullptr;
    NbtEvent *event = nullptr;
};

Notice NoticeFor(const NCB *ncb, SyncWaiter *waiter) {
    Notice notice;
    notice.waiter = waiter;
    if (waiter || (ncb->ncb_command & ASYNCH) == 0) return notice;
    notice.post = ncb->ncb_post;
    if (!notice.post) notice.event = ncb->ncb_event;
    return notice;
}

// Takes the block out of flight and stores its result, ncb_cmd_cplt last:
// a caller of the asynchronous form may poll it from another thread. Under
// the in-flight lock, so a resubmission is accepted only once the result is
// in and can never be overwritten by it.
void Publish(NCB *ncb, UCHAR rc) {
    auto &in_flight = Blocks();
    std::lock_guard lock(in_flight.mutex);
    auto &blocks = in_flight.blocks;
    if (const auto it = std::find(blocks.begin(), blocks.end(), ncb); it != blocks.end()) {
        *it = blocks.back();
        blocks.pop_back();
    }
    ncb->ncb_retcode = rc;
    std::atomic_ref<UCHAR>(ncb->ncb_cmd_cplt).store(rc, std::memory_order_release);
}

void CallPost(void (*post)(NCB *), NCB *ncb) {
    // The caller's code on the network thread: what it throws must not cut
    // short the completions and the reset the provider is in the middle of.
    try {
        post(ncb);
    } catch (...) {
        thrown_post_routines.fetch_add(1, std::memory_order_relaxed);
    }
}

// Post routines of blocks completed off the network thread, in completion
// order. Guarded by the state lock.
using QueuedPost = std::pair<NCB *, void (*)(NCB *)>;

std::deque<QueuedPost> &QueuedNotices() {
    static auto *queue = new std::deque<QueuedPost>;
    return *queue;
}

// Network thread: runs what callers' threads queued. One at a time off the
// front, so a post routine that completes more blocks keeps the order.
void RunQueuedNotices() {
    auto &queue = QueuedNotices();
    while (!queue.empty()) {
        auto [ncb, post] = queue.front();
        queue.pop_front();
        CallPost(post, ncb);
    }
}

// The eventfd a thread polls beside its socket, so that a completion it
// does not make itself still wakes it. Never closed: a Signal() may write to
// it late, after its waiter has gone; a thread that ends hands it to the next
// one, where such a late write is at worst one spurious wake-up.
struct WakeFds {
    std::mutex mutex;
    std::vector<int> spare;
};

WakeFds &SpareWakeFds() {
    static auto *fds = new WakeFds;
    return *fds;
}

struct ThreadWakeFd {
    int fd = -1;
    ~ThreadWakeFd() {
        if (fd < 0) return;
        auto &fds = SpareWakeFds();
        std::lock_guard lock(fds.mutex);
        fds.spare.push_back(fd);
    }
};

thread_local ThreadWakeFd own;

int ThisThreadsWakeFd() {
    if (own.fd >= 0) return own.fd;
    auto &fds = SpareWakeFds();
    {
        std::lock_guard lock(fds.mutex);
        if (!fds.spare.empty()) {
            own.fd = fds.spare.back();
            fds.spare.pop_back();
            return own.fd;
        }
    }
    own.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return own.fd;
}

void DrainWakeFd(int fd) {
    std::uint64_t count;
    while (::read(fd, &count, sizeof count) == sizeof count) {
    }
}

void Refuse(NCB *ncb, UCHAR rc) {
    // Under the state lock, as Deliver() is, so that fork() never finds an
    // event between BeginSet() and FinishSet().
    StateGuard guard;
    NbtEvent *event = (ncb->ncb_command & ASYNCH) ? ncb->ncb_event : nullptr;
    if (event) event->BeginSet();
    Publish(ncb, rc);
    if (event) event->FinishSet();
}

}  // namespace

bool SyncWaiter::WorkOn(std::weak_ptr<CallerWork> work, int fd, short events,
                        std::chrono::microseconds spin) {
    if (fd < 0 || events == 0 || (wake_fd_ = ThisThreadsWakeFd()) < 0) return false;
    work_ = std::move(work);
    fd_ = fd;
    events_ = given_events_ = events;
    spin_ = spin;
    return true;
}

void SyncWaiter::Signal() {
    // The waiter may return and free *this as soon as it sees kDone: the
    // wakes below use only what was read before, the futex's address being a
    // number to the kernel.
    auto *word = &state_;
    const int wake_fd = wake_fd_;
    switch (state_.exchange(kDone, std::memory_order_acq_rel)) {
        case kSleeping:
            FutexWake(word, 1);
            break;
        case kPolling: {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(wake_fd, &one, sizeof one);
            break;
        }
        default:
            break;
    }
}

void SyncWaiter::Wait() {
    while (events_ != 0) {
        pollfd fds[2] = {{fd_, events_, 0}, {wake_fd_, POLLIN, 0}};
        std::uint32_t expected = kWaiting;
        if (!state_.compare_exchange_strong(expected, kPolling, std::memory_order_acq_rel)) break;  // done
        const auto asleep = std::chrono::steady_clock::now();
        const int ready = spin_.count() > 0 ? LookBriefly(fds, 2, spin_) : 0;
        if (ready == 0) ::poll(fds, 2, -1);
        // Far less than a wake-up takes: poll() did not sleep.
        const bool at_once = std::chrono::steady_clock::now() - asleep < std::chrono::microseconds(2);
        expected = kPolling;
        if (!state_.compare_exchange_strong(expected, kWaiting, std::memory_order_acq_rel)) {
            DrainWakeFd(wake_fd_);  // what Signal() wrote, or writes yet: then a spurious wake-up later
            break;
        }
        if (fds[1].revents) DrainWakeFd(wake_fd_);  // a late write meant for an earlier wait
        if (fds[0].revents == 0) continue;
        StateGuard guard;
        const auto work = work_.lock();
        events_ = work ? work->Step(events_, at_once) : 0;
    }
    if (given_events_ != 0) {
        StateGuard guard;
        if (const auto work = work_.lock()) work->Leave(given_events_);
    }
    // What is left is the network thread's to do. No spinning first: on two
    // cores a spinning caller holds the core the network thread or the peer
    // needs to produce the answer.
    std::uint32_t expected = kWaiting;
    if (!state_.compare_exchange_strong(expected, kSleeping, std::memory_order_acq_rel)) return;
    while (state_.load(std::memory_order_acquire) != kDone) FutexWait(&state_, kSleeping);
}

bool BeginInFlight(NCB *ncb) {
    auto &in_flight = Blocks();
    std::lock_guard lock(in_flight.mutex);
    auto &blocks = in_flight.blocks;
    if (std::find(blocks.begin(), blocks.end(), ncb) != blocks.end()) return false;
    blocks.push_back(ncb);
    return true;
}

void Deliver(NCB *ncb, SyncWaiter *waiter, UCHAR rc, Delivery how) {
    if (how == Delivery::kRefused) return Refuse(ncb, rc);
    if (leave_pending_blocks.load(std::memory_order_relaxed)) return;
    const Notice notice = NoticeFor(ncb, waiter);
    // An event is set here, whatever thread this is, and marked before the
    // result is out: the caller who sees ncb_cmd_cplt done may free or reuse
    // it at once (nbt_event.h). It runs no code of the caller's, so it need
    // not wait its turn behind post routines.
    if (notice.event) notice.event->BeginSet();
    Publish(ncb, rc);
    // The block is the caller's again: only what was read above is used.
    if (notice.event) return notice.event->FinishSet();
    if (notice.waiter) {
        // Woken once the lock is free, or it would wake only to wait for it.
        return StateGuard::AfterUnlock([](void *waiter) { static_cast<SyncWaiter *>(waiter)->Signal(); },
                                       notice.waiter);
    }
    if (!notice.post) return;
    auto &queue = QueuedNotices();
    auto &io = IoThread::Get();
    if (io.IsCurrent()) {
        RunQueuedNotices();  // those completed earlier go first
        return CallPost(notice.post, ncb);
    }
    if (queue.empty()) asio::post(io.executor(), [] { RunQueuedNotices(); });
    queue.emplace_back(ncb, notice.post);
}

void LeavePendingBlocksAtExit() {
    leave_pending_blocks.store(true, std::memory_order_relaxed);
}

void LockCompletionsForFork() {
    Blocks().mutex.lock();
    SpareWakeFds().mutex.lock();
}

void UnlockCompletionsInParent() {
    SpareWakeFds().mutex.unlock();
    Blocks().mutex.unlock();
}

void ForgetCompletionsInChild() {
    // The parent's wake-up descriptors are shared with it: a read here would
    // take a wake-up meant for a thread there. Closing the child's copies
    // leaves the parent's as they are.
    auto &fds = SpareWakeFds();
    for (const int fd : fds.spare) ::close(fd);
    fds.spare.clear();
    if (own.fd >= 0) ::close(own.fd);
    own.fd = -1;
    fds.mutex.unlock();

    QueuedNotices().clear();
    auto &in_flight = Blocks();
    for (const NCB *block : in_flight.blocks) {
        auto *ncb = const_cast<NCB *>(block);
        ncb->ncb_retcode = NRC_CMDCAN;
        ncb->ncb_cmd_cplt = NRC_CMDCAN;
        if ((ncb->ncb_command & ASYNCH) && !ncb->ncb_post && ncb->ncb_event) ncb->ncb_event->Set();
    }
    in_flight.blocks.clear();
    in_flight.mutex.unlock();
}

std::uint64_t ThrownPostRoutines() {
    return thrown_post_routines.load(std::memory_order_relaxed);
}

}  // namespace nbt
