// SPDX-License-Identifier: MIT
#include "service_link.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace nbt {

ServiceClient::Link::~Link() {
    ::close(fd);
}

bool ServiceClient::Link::Register() {
    key = SocketPoller::Get().Add(fd, weak_from_this());
    return key != 0;
}

void ServiceClient::Link::Watch(bool later) {
    const bool want = !lost && readers == 0;
    if (key == 0 || want == watched) return;
    if (later && want) return SocketPoller::Get().RecheckLater(key);
    // Disarmed one-shot: an error the kernel reports unasked then wakes the
    // network thread once, not until it is read.
    if (SocketPoller::Get().Arm(key, fd, want ? std::uint32_t{EPOLLIN} : 0u, /*once=*/!want)) watched = want;
}

void ServiceClient::Link::Unregister() {
    if (key != 0) SocketPoller::Get().Remove(key, fd);
    key = 0;
    watched = false;
}

void ServiceClient::Link::OnReady(std::uint32_t) {
    if (!lost) client.ReadReplies(shared_from_this());
}

void ServiceClient::Link::Recheck() {
    Watch();
}

short ServiceClient::Link::Step(short, bool) {
    // One reply: if it was not this caller's, poll() says at once whether
    // another is there, which costs no more than a read that finds none.
    client.ReadReply(shared_from_this());
    return lost ? 0 : POLLIN;
}

void ServiceClient::Link::Leave(short) {
    --readers;
    // With nothing else to come, the next caller is likely back before the
    // network thread would need the socket.
    Watch(/*later=*/client.outstanding_.empty() && client.asked_.empty());
}

int ConnectToService(const std::string &path, std::string *why) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        *why = "the socket's path is too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    // Room for the largest request in one message.
    const int room = 4 * static_cast<int>(service::kMaxMessage);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *why = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendMessage(int fd, const std::vector<std::uint8_t> &message, std::chrono::milliseconds patience) {
    using Clock = std::chrono::steady_clock;
    const auto give_up = Clock::now() + patience;
    for (;;) {
        const ssize_t sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == static_cast<ssize_t>(message.size())) return true;
        if (sent >= 0) return false;  // a datagram socket never sends part of one
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(give_up - Clock::now());
        if (left.count() <= 0) return false;  // stopped reading: as good as gone
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
}

}  // namespace nbt
