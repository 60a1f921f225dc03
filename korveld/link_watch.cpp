// SPDX-License-Identifier: MIT
#include "link_watch.h"

#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "io_thread.h"

namespace korveld {

std::shared_ptr<LinkWatch> LinkWatch::Open(Changed changed, std::string *why) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        *why = std::string("no netlink socket: ") + std::strerror(errno);
        return nullptr;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        *why = std::string("cannot join the link and address groups: ") + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_shared<LinkWatch>(fd, std::move(changed));
}

LinkWatch::LinkWatch(int fd, Changed changed)
    : socket_(nbt::IoThread::Get().context(), fd),
      again_(nbt::IoThread::Get().context()),
      changed_(std::move(changed)) {}

void LinkWatch::Start() {
    Wait();
}

void LinkWatch::Stop() {
    asio::error_code ignored;
    socket_.close(ignored);
    again_.cancel();
}

void LinkWatch::Tell() {
    const std::chrono::milliseconds after = changed_();
    if (after.count() <= 0) return;
    again_.expires_after(after);
    again_.async_wait(asio::bind_executor(nbt::IoThread::Get().executor(),
                                          [self = shared_from_this()](asio::error_code error) {
                                              if (!error && self->socket_.is_open()) self->Tell();
                                          }));
}

void LinkWatch::Wait() {
    socket_.async_wait(asio::posix::descriptor_base::wait_read,
                       asio::bind_executor(nbt::IoThread::Get().executor(),
                                           [self = shared_from_this()](asio::error_code error) {
                                               if (error || !self->socket_.is_open()) return;
                                               const bool alive = self->Drain();
                                               self->Tell();
                                               if (alive) self->Wait();
                                           }));
}

bool LinkWatch::Drain() {
    std::array<char, 8192> discard;
    for (;;) {
        const ssize_t got = ::recv(socket_.native_handle(), discard.data(), discard.size(), MSG_DONTWAIT);
        if (got >= 0 || errno == EINTR || errno == ENOBUFS) continue;
        if (errno == EAGAIN) return true;
        std::fprintf(stderr, "korveld: no longer told of interface changes: %s\n", std::strerror(errno));
        return false;
    }
}

}  // namespace korveld
