// SPDX-License-Identifier: MIT
// How a submitted NCB reports back. Every NCB that Netbios() accepts is
// finished exactly once through Deliver(): it fills ncb_retcode and
// ncb_cmd_cplt, then wakes the synchronous caller, or calls ncb_post, or sets
// ncb_event. Nothing is read from the block once ncb_cmd_cplt is set. Post
// routines always run on the network thread, also for blocks a caller's
// thread completed itself, in completion order; an event is set by the
// thread that completes its block, before Deliver() returns. Services
// never call Deliver() themselves; they call Node::Complete(), which also
// takes the NCB off the node's pending list.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "nb30.h"

namespace nbt {

// What a synchronous caller can carry on itself while its command waits for
// a socket: it waits on that socket and, once it is ready, does the work
// holding the state lock. The message it waits for then wakes it alone,
// instead of waking the network thread, which reads it and wakes the caller.
class CallerWork {
public:
    // Holding the state lock, once the socket was ready for `events`: does
    // what can be done now and returns the events to wait for next, or 0
    // when the caller can do nothing more (the network thread carries on).
    // at_once: it was ready without the caller having to sleep.
    virtual short Step(short events, bool at_once) = 0;
    // Holding the state lock, once the caller stops waiting, whatever the
    // reason: `events` are those WorkOn() was given.
    virtual void Leave(short events) = 0;

protected:
    ~CallerWork() = default;
};

// Wakes the thread blocked in a synchronous Netbios() call. The waiter sleeps
// on a futex unless the block is done already, or waits on the socket of the
// work it was given; Signal() makes a system call only when it actually
// sleeps, and touches nothing of the waiter's after the store that lets it
// go (it lives on the caller's stack).
class SyncWaiter {
public:
    void Signal();
    void Wait();
    // Holding the state lock, on the caller's own thread, before the block
    // can complete: the caller is to wait for `events` on `fd` and then do
    // work.Step(). False if this thread cannot wait that way.
    // spin: how long to look before sleeping, for an answer another process
    // gives in less time than a sleeping thread takes to wake (0: none).
    bool WorkOn(std::weak_ptr<CallerWork> work, int fd, short events,
                std::chrono::microseconds spin = std::chrono::microseconds(0));

private:
    static constexpr std::uint32_t kWaiting = 0, kSleeping = 1, kPolling = 2, kDone = 3;
    std::atomic<std::uint32_t> state_{kWaiting};
    std::weak_ptr<CallerWork> work_;
    int fd_ = -1;
    short events_ = 0;
    short given_events_ = 0;
    int wake_fd_ = -1;  // this thread's eventfd, written by Signal() while polling
    std::chrono::microseconds spin_{0};
};

// Marks an NCB as in flight. False if it already is: submitting a block
// that has not completed yet would overwrite a command in progress.
bool BeginInFlight(NCB *ncb);

// Finishes an in-flight NCB with rc. waiter is the synchronous caller's, or
// null for the asynchronous forms (then ncb_post, else ncb_event, is used).
// After this call the NCB belongs to the caller again: touch none of it.
// Called holding the state lock. Off the network thread, the post routine is
// queued for it (after any queued before), never run in place; the event is
// always set in place.
// kRefused: an error found before the NCB was accepted (after
// BeginInFlight): it is taken out of flight with rc and, for the
// asynchronous forms, its event set; no post routine is called and no
// waiter given. Needs no state lock held.
enum class Delivery { kCompleted, kRefused };
void Deliver(NCB *ncb, SyncWaiter *waiter, UCHAR rc, Delivery how = Delivery::kCompleted);

// At process exit: blocks that are still pending are left as they are from
// now on, neither written nor reported. They may live in stack frames that
// have returned, and their post routines in code being torn down.
void LeavePendingBlocksAtExit();

// Around fork() (fork_handlers.h). In the child, blocks that were pending in
// the parent end with NRC_CMDCAN and their events set, and no post routine
// runs: those commands go on in the parent only.
void LockCompletionsForFork();
void UnlockCompletionsInParent();
void ForgetCompletionsInChild();

// Post routines that threw since the process started. What they throw is
// dropped where they are called, so the completion or reset that ran them
// goes on.
std::uint64_t ThrownPostRoutines();

}  // namespace nbt
