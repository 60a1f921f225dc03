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

bool IsAsync(const NCB *ncb) {
    return (ncb->ncb_command & ASYNCH) != 0;
}

void StoreResult(NCB *ncb, UCHAR rc) {
    ncb->ncb_retcode = rc;
    // A caller of the asynchronous form may poll ncb_cmd_cplt from another
    // thread; publish it last.
    std::atomic_ref<UCHAR>(ncb->ncb_cmd_cplt).store(rc, std::memory_order_release);
}

void EndInFlight(const NCB *ncb) {
    auto &in_flight = Blocks();
    std::lock_guard lock(in_flight.mutex);
    in_flight.blocks.erase(ncb);
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
    // Leave the set first: a post routine may resubmit the same block.
    EndInFlight(ncb);
    StoreResult(ncb, rc);
    if (waiter) {
        waiter->Signal();
    } else if (IsAsync(ncb)) {
        if (ncb->ncb_post)
            ncb->ncb_post(ncb);
        else if (ncb->ncb_event)
            ncb->ncb_event->Set();
    }
}

UCHAR RejectAtOnce(NCB *ncb, UCHAR rc) {
    EndInFlight(ncb);
    StoreResult(ncb, rc);
    if (IsAsync(ncb) && ncb->ncb_event) ncb->ncb_event->Set();
    return rc;
}

}  // namespace nbt
