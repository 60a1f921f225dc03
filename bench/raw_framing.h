// SPDX-License-Identifier: MIT
// The raw TCP side of the session benchmarks: NetBIOS session framing the
// way a good hand-written client does it. Each message leaves with one
// sendmsg (header and body together, looping only on a partial write), and
// arrives as a read of the 4-byte header and then reads of the body straight
// into the caller's buffer.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench_support.h"

namespace bench {

constexpr int kSocketTimeout = 10;
constexpr std::uint8_t kFlush = 'F';  // a 1-byte message the sink answers with 1 byte

// One sendmsg per message; another only for what a partial write left.
inline bool SendFramed(int fd, const void *body, std::size_t length) {
    std::uint8_t header[4] = {0, static_cast<std::uint8_t>(length >> 16),
                              static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    iovec parts[2] = {{header, sizeof header}, {const_cast<void *>(body), length}};
    iovec *part = parts;
    int count = 2;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = part;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (sent < 0) return false;
        while (count > 0 && static_cast<std::size_t>(sent) >= part->iov_len) {
            sent -= static_cast<ssize_t>(part->iov_len);
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<std::uint8_t *>(part->iov_base) + sent;
            part->iov_len -= static_cast<std::size_t>(sent);
        }
    }
    return true;
}

inline bool ReceiveFull(int fd, void *data, std::size_t size) {
    auto *at = static_cast<std::uint8_t *>(data);
    while (size > 0) {
        const ssize_t got = ::recv(fd, at, size, 0);
        if (got <= 0) return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// The header, then the body into `body`; its length, or -1.
inline long ReceiveFramed(int fd, void *body, std::size_t capacity) {
    std::uint8_t header[4];
    if (!ReceiveFull(fd, header, sizeof header) || header[0] != 0) return -1;
    const std::size_t length =
        (std::size_t{header[1] & 1u} << 16) | (std::size_t{header[2]} << 8) | header[3];
    if (length > capacity || !ReceiveFull(fd, body, length)) return -1;
    return static_cast<long>(length);
}

inline void ServeRaw(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bench::BoundWaits(fd, kSocketTimeout);
    std::vector<std::uint8_t> buffer(131071);
    long got = ReceiveFramed(fd, buffer.data(), buffer.size());
    const std::uint8_t mode = got > 0 ? buffer[0] : 0;
    while ((got = ReceiveFramed(fd, buffer.data(), buffer.size())) >= 0) {
        const bool answer = mode == 'E' || (got == 1 && buffer[0] == kFlush);
        if (answer && !SendFramed(fd, buffer.data(), static_cast<std::size_t>(got))) break;
    }
    ::close(fd);
}

// 1 byte there and back per iteration on a raw connection to a far side
// that echoes (mode 'E'); fd is closed at the end.
inline void RawPingPong(benchmark::State &state, int fd) {
    if (fd < 0) return state.SkipWithError("no connection");
    std::uint8_t byte = 1, back = 0;
    for (auto _ : state)
        if (!SendFramed(fd, &byte, 1) || ReceiveFramed(fd, &back, 1) != 1) {
            ::close(fd);
            return state.SkipWithError("exchange failed");
        }
    ::close(fd);
}

}  // namespace bench
