// SPDX-License-Identifier: MIT
#include "service_link.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace nbt {

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

bool SendMessage(int fd, const std::vector<std::uint8_t> &message) {
    for (;;) {
        const ssize_t sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == static_cast<ssize_t>(message.size())) return true;
        if (sent >= 0) return false;  // a datagram socket never sends part of one
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    }
}

}  // namespace nbt
