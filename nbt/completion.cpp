#include "completion.h"

#include <atomic>
#include <unordered_set>

#include "nbt_event.h"

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

}  // namespace

void SyncWaiter::Signal() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    // Notify under the lock: the waiter (on the caller's stack) may go away
    // as soon as it sees signalled_.
    done_.notify_one();
}

void SyncWaiter::Wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return signalled_; });
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
    if (notice.waiter)
        notice.waiter->Signal();
    else if (notice.post)
        CallPost(notice.post, ncb);
    else if (notice.event)
        notice.event->Set();
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
