#include "ncb_wait.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace cli {
namespace {

std::mutex mutex;
std::condition_variable changed;
std::deque<NCB *> completed;  // guarded by mutex
bool interrupted = false;     // guarded by mutex

void OnPost(NCB *ncb) {
    std::lock_guard lock(mutex);
    completed.push_back(ncb);
    changed.notify_all();
}

void WatchSignals(sigset_t signals) {
    int count = 0;
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (++count > 1) _exit(130);
        std::lock_guard lock(mutex);
        interrupted = true;
        changed.notify_all();
    }
}

// Takes ncb out of the completed list; false when it is not there.
bool TakeLocked(const NCB *ncb) {
    auto it = std::find(completed.begin(), completed.end(), ncb);
    if (it == completed.end()) return false;
    completed.erase(it);
    return true;
}

}  // namespace

void InstallInterruptHandling() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WatchSignals, signals).detach();
}

bool Interrupted() {
    std::lock_guard lock(mutex);
    return interrupted;
}

UCHAR Submit(NCB &ncb) {
    {
        std::lock_guard lock(mutex);
        TakeLocked(&ncb);  // a stale entry from an earlier use of the block
    }
    ncb.ncb_command |= ASYNCH;
    ncb.ncb_post = OnPost;
    ncb.ncb_event = nullptr;
    return Netbios(&ncb);
}

Wait WaitFor(const NCB &ncb, Deadline deadline, bool interruptible) {
    std::unique_lock lock(mutex);
    for (;;) {
        if (TakeLocked(&ncb)) return Wait::kCompleted;
        if (interruptible && interrupted) return Wait::kInterrupted;
        if (!deadline) {
            changed.wait(lock);
        } else if (changed.wait_until(lock, *deadline) == std::cv_status::timeout) {
            return TakeLocked(&ncb) ? Wait::kCompleted : Wait::kTimedOut;
        }
    }
}

UCHAR SubmitAndWait(NCB &ncb, Deadline deadline, bool interruptible) {
    const UCHAR rc = Submit(ncb);
    if (rc != NRC_GOODRET) return rc;
    return WaitFor(ncb, deadline, interruptible) == Wait::kCompleted ? ncb.ncb_retcode : NRC_PENDING;
}

bool Pause(std::chrono::milliseconds period) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, period, [] { return interrupted; });
}

NCB *WaitForAny(Deadline deadline) {
    std::unique_lock lock(mutex);
    for (;;) {
        if (!completed.empty()) {
            NCB *ncb = completed.front();
            completed.pop_front();
            return ncb;
        }
        if (interrupted) return nullptr;
        if (!deadline) {
            changed.wait(lock);
        } else if (changed.wait_until(lock, *deadline) == std::cv_status::timeout && completed.empty()) {
            return nullptr;
        }
    }
}

}  // namespace cli
