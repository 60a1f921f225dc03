// SPDX-License-Identifier: MIT
// Sockets the network thread watches outside Asio's reactor. A socket Asio
// owns stays in Asio's epoll set for good, so every segment that arrives
// wakes the network thread, even while a caller's thread reads that socket
// itself and the network thread has nothing to do. Here each socket is
// watched one-shot (EPOLLONESHOT) in an epoll set of our own, which the
// network thread waits on as one descriptor: it is woken only for sockets
// armed for it, and disarming one costs no wake-up.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "process_slot.h"

namespace nbt {

class PolledSocket {
public:
    // Holding the state lock: the socket was ready for `events` (EPOLL*).
    // It is disarmed until armed again.
    virtual void OnReady(std::uint32_t events) = 0;
    // Holding the state lock: the recheck asked for with RecheckLater() is
    // due. The owner arms the socket if it still wants to be watched.
    virtual void Recheck() = 0;

protected:
    ~PolledSocket() = default;
};

// Everything but Get() is called holding the state lock.
class SocketPoller {
public:
    // The process's one, waited on by the network thread.
    static SocketPoller &Get();
    static ProcessSlot<SocketPoller> &Slot();

    // Registers fd, disarmed. Returns its key, 0 when it cannot be watched.
    std::uint64_t Add(int fd, std::weak_ptr<PolledSocket> owner);
    // Watches fd for `events` (0: not at all): once, or for as long as it
    // stays ready (once false).
    bool Arm(std::uint64_t key, int fd, std::uint32_t events, bool once = true);
    // Before fd is closed.
    void Remove(std::uint64_t key, int fd);
    // Has the owner Recheck() in a few milliseconds. A caller that has just
    // read a socket itself is likely back for the next message before then:
    // arming the socket in between and disarming it again would cost two
    // system calls per message, and nothing waits for the socket meanwhile.
    void RecheckLater(std::uint64_t key);

    SocketPoller(const SocketPoller &) = delete;
    SocketPoller &operator=(const SocketPoller &) = delete;

private:
    SocketPoller();
    void WaitForReady();
    void OnReady();
    void OnRecheckDue();

    int epoll_fd_;
    asio::posix::stream_descriptor descriptor_;
    std::unordered_map<std::uint64_t, std::weak_ptr<PolledSocket>> owners_;
    std::uint64_t next_key_ = 1;
    asio::steady_timer recheck_timer_;
    bool recheck_armed_ = false;
    std::vector<std::uint64_t> recheck_;
};

// One owner's socket watched through the poller: its descriptor, its key
// and what it is armed for. Used holding the state lock.
class PolledFd {
public:
    PolledFd() = default;
    ~PolledFd() { Close(); }
    PolledFd(const PolledFd &) = delete;
    PolledFd &operator=(const PolledFd &) = delete;

    // Takes fd over and registers it, disarmed. False, with fd closed, when
    // it cannot be watched. level: armed for reading alone, it stays armed
    // and is reported for as long as it is ready, so an owner that has read
    // all there is need not arm it again, nor read on until EAGAIN to find
    // that out.
    bool Attach(int fd, std::weak_ptr<PolledSocket> owner, bool level = false);
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    std::uint32_t watched() const { return watched_; }
    // The watch fired: a one-shot one is disarmed.
    void Fired() {
        if (once_) watched_ = 0;
    }
    // Arms it for `want` (0: disarms it). later: arming is left to the
    // owner's Recheck() a little later.
    void Watch(std::uint32_t want, bool later = false);
    // Has the owner Recheck() a little later, whatever it is armed for.
    void RecheckLater();
    // Out of the poller, then closed.
    void Close();
    // Puts fd in the place of the one held, under the same number (dup3), so
    // a caller polling that number (HandToCaller) never polls a closed or
    // reused one; fd itself is closed. Registered anew, disarmed.
    bool Replace(int fd, std::weak_ptr<PolledSocket> owner);

private:
    int fd_ = -1;
    std::uint64_t key_ = 0;
    std::uint32_t watched_ = 0;
    bool level_ = false;
    bool once_ = true;  // how it is armed now
};

}  // namespace nbt
