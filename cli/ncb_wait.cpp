// SPDX-License-Identifier: MIT
#include "ncb_wait.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "exit_status.h"

namespace cli {
namespace {

std::mutex mutex;
std::condition_variable changed;
std::deque<NCB *> completed;  // guarded by mutex
bool interrupted = false;     // guarded by mutex
std::atomic<bool> command_started{false};
std::atomic<int> interrupting_signal{0};

void OnPost(NCB *ncb) {
    std::lock_guard lock(mutex);
    completed.push_back(ncb);
    changed.notify_all();
}

[[noreturn]] void EndBy(int signal) {
    _exit(128 + signal);
}

void WatchSignals(sigset_t signals) {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    if (!command_started) EndBy(signal);
    interrupting_signal = signal;
    {
        std::lock_guard lock(mutex);
        interrupted = true;
        changed.notify_all();
    }
    const timespec grace{kCleanupGrace.count(), 0};
    while (sigtimedwait(&signals, nullptr, &grace) < 0) {
        if (errno == EINTR) continue;
        static const char kCutShort[] = "korvel-nb: the cleanup is taking too long; ending it\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kCutShort, std::strlen(kCutShort));
        break;
    }
    EndBy(signal);
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

void CommandStarts() {
    command_started = true;
}

int ProcessExitStatus(int command_status) {
    const int signal = interrupting_signal;
    return command_status == kExitInterrupted && signal != 0 ? 128 + signal : command_status;
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
