#include "completion.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <unordered_set>

#include "io_thread.h"
#include "nbt_event.h"
#include "state_lock.h"

namespace nbt {
namespace {

struct InFlight {
    std::mutex mutex;
    std::unordered_set<const NCB *> blocks;
};

InFlight &Blocks() {
    // Never destroyed: the network thread may still finish blocks while
    // static objects are being torn down at exit.
    static auto *in_flight = new InFlight;
    return *in_flight;
}

std::atomic<std::uint64_t> thrown_post_routines{0};

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
    in_flight.blocks.erase(ncb);
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

// Post routines and events of blocks completed off the network thread, in
// completion order. Guarded by the state lock.
std::deque<std::pair<NCB *, Notice>> &QueuedNotices() {
    static auto *queue = new std::deque<std::pair<NCB *, Notice>>;
    return *queue;
}

void Notify(NCB *ncb, const Notice &notice) {
    if (notice.waiter)
        notice.waiter->Signal();
    else if (notice.post)
        CallPost(notice.post, ncb);
    else if (notice.event)
        notice.event->Set();
}

// Network thread: runs what callers' threads queued. One at a time off the
// front, so a post routine that completes more blocks keeps the order.
void RunQueuedNotices() {
    auto &queue = QueuedNotices();
    while (!queue.empty()) {
        auto [ncb, notice] = queue.front();
        queue.pop_front();
        Notify(ncb, notice);
    }
}

long Futex(std::atomic<std::uint32_t> *word, int op, std::uint32_t value) {
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t *>(word), op | FUTEX_PRIVATE_FLAG, value,
                   nullptr, nullptr, 0);
}

}  // namespace

void SyncWaiter::Signal() {
    // The waiter may return and free *this as soon as it sees kDone: the wake
    // below uses only the address, which the kernel treats as a number.
    auto *word = &state_;
    if (state_.exchange(kDone, std::memory_order_acq_rel) == kSleeping) Futex(word, FUTEX_WAKE, 1);
}

void SyncWaiter::Wait() {
    // No spinning first: on two cores a spinning caller holds the core the
    // network thread or the peer needs to produce the answer.
    std::uint32_t expected = kWaiting;
    if (!state_.compare_exchange_strong(expected, kSleeping, std::memory_order_acq_rel)) return;
    while (state_.load(std::memory_order_acquire) != kDone) Futex(&state_, FUTEX_WAIT, kSleeping);
}

bool BeginInFlight(NCB *ncb) {
    auto &in_flight = Blocks();
    std::lock_guard lock(in_flight.mutex);
    return in_flight.blocks.insert(ncb).second;
}

void Deliver(NCB *ncb, SyncWaiter *waiter, UCHAR rc) {
    const Notice notice = NoticeFor(ncb, waiter);
    Publish(ncb, rc);
    // The block is the caller's again: only what was read above is used.
    if (notice.waiter) {
        // Woken once the lock is free, or it would wake only to wait for it.
        return StateGuard::AfterUnlock([](void *waiter) { static_cast<SyncWaiter *>(waiter)->Signal(); },
                                       notice.waiter);
    }
    if (!notice.post && !notice.event) return;
    auto &queue = QueuedNotices();
    auto &io = IoThread::Get();
    if (io.IsCurrent()) {
        RunQueuedNotices();  // those completed earlier go first
        return Notify(ncb, notice);
    }
    if (queue.empty()) asio::post(io.executor(), [] { RunQueuedNotices(); });
    queue.emplace_back(ncb, notice);
}

UCHAR RejectAtOnce(NCB *ncb, UCHAR rc) {
    NbtEvent *event = (ncb->ncb_command & ASYNCH) ? ncb->ncb_event : nullptr;
    Publish(ncb, rc);
    if (event) event->Set();
    return rc;
}

std::uint64_t ThrownPostRoutines() {
    return thrown_post_routines.load(std::memory_order_relaxed);
}

}  // namespace nbt
