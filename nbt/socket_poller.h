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

namespace nbt {

class PolledSocket {
public:
    // Holding the state lock: the socket was ready for `events` (EPOLL*).
    // It is disarmed until armed again.
    virtual void OnReady(std::uint32_t events) = 0;

protected:
    ~PolledSocket() = default;
};

// Everything but Get() is called holding the state lock.
class SocketPoller {
public:
    // The process's one, waited on by the network thread.
    static SocketPoller &Get();

    // Registers fd, disarmed. Returns its key, 0 when it cannot be watched.
    std::uint64_t Add(int fd, std::weak_ptr<PolledSocket> owner);
    // Watches fd for `events` once (0: not at all).
    bool Arm(std::uint64_t key, int fd, std::uint32_t events);
    // Before fd is closed.
    void Remove(std::uint64_t key, int fd);

    SocketPoller(const SocketPoller &) = delete;
    SocketPoller &operator=(const SocketPoller &) = delete;

private:
    SocketPoller();
    void WaitForReady();
    void OnReady();

    int epoll_fd_;
    asio::posix::stream_descriptor descriptor_;
    std::unordered_map<std::uint64_t, std::weak_ptr<PolledSocket>> owners_;
    std::uint64_t next_key_ = 1;
};

}  // namespace nbt
