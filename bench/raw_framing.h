// SPDX-License-Identifier: MIT
// The raw TCP side of the session benchmarks: NetBIOS session framing the
// way a good hand-written client does it. Each message leaves with one
// sendmsg (header and body together, looping only on a partial write), and
// arrives as a read of the 4-byte header and then reads of the body straight
// into the caller's buffer.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench_support.h"

namespace bench {

constexpr int kSocketTimeout = 10;
constexpr std::uint8_t kFlush = 'F';  // a 1-byte message the sink answers with 1 byte

// One sendmsg per message; another only for what a partial write left.
// With a wake-up descriptor (never written here) the writes never block and
// a full socket is waited for in poll() on both, as a send that another
// thread can end must: the floor for the provider's own synchronous send.
inline bool SendFramed(int fd, const void *body, std::size_t length, int wake = -1) {
    std::uint8_t header[4] = {0, static_cast<std::uint8_t>(length >> 16),
                              static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    iovec parts[2] = {{header, sizeof header}, {const_cast<void *>(body), length}};
    iovec *part = parts;
    int count = 2;
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = part;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL | (wake >= 0 ? MSG_DONTWAIT : 0));
        if (sent < 0 && (wake < 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)))
            return false;
        sent = std::max<ssize_t>(sent, 0);
        while (count > 0 && static_cast<std::size_t>(sent) >= part->iov_len) {
            sent -= static_cast<ssize_t>(part->iov_len);
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<std::uint8_t *>(part->iov_base) + sent;
            part->iov_len -= static_cast<std::size_t>(sent);
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
            if (wake >= 0 && ::poll(fds, 2, kSocketTimeout * 1000) <= 0) return false;
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

// A SESSION MESSAGE header's body length (17 bits).
inline std::size_t FramedLength(const std::uint8_t *header) {
    return (std::size_t{header[1] & 1u} << 16) | (std::size_t{header[2]} << 8) | header[3];
}

// The header, then the body into `body`; its length, or -1.
inline long ReceiveFramed(int fd, void *body, std::size_t capacity) {
    std::uint8_t header[4];
    if (!ReceiveFull(fd, header, sizeof header) || header[0] != 0) return -1;
    const std::size_t length = FramedLength(header);
    if (length > capacity || !ReceiveFull(fd, body, length)) return -1;
    return static_cast<long>(length);
}

// As ReceiveFramed, but waiting the way a receive that another thread can
// end must: reads that never block, header and body in one where they can
// (bytes read past the message are kept for the next), and poll() on the
// socket and a wake-up descriptor (never written here) whenever the socket
// has nothing. The floor for the provider's own synchronous receive, which
// waits so that a cancel or a hang-up can end it.
struct PolledReceiver {
    int fd;
    int wake = ::eventfd(0, EFD_CLOEXEC);
    std::vector<std::uint8_t> carry;  // the next messages' first bytes

    explicit PolledReceiver(int socket) : fd(socket) {}
    PolledReceiver(const PolledReceiver &) = delete;
    PolledReceiver &operator=(const PolledReceiver &) = delete;
    ~PolledReceiver() { ::close(wake); }
    long Receive(std::uint8_t *body, std::size_t capacity) {
        std::uint8_t header[4];
        std::size_t got = std::min(carry.size(), sizeof header + capacity);
        const std::size_t in_header = std::min(got, sizeof header);
        std::memcpy(header, carry.data(), in_header);
        if (got > in_header) std::memcpy(body, carry.data() + in_header, got - in_header);
        carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(got));
        std::size_t total = sizeof header + capacity;  // until the header is in
        for (;;) {
            if (got >= sizeof header) {
                const std::size_t length = FramedLength(header);
                if (header[0] != 0 || length > capacity) return -1;
                total = sizeof header + length;
                if (got >= total) break;
            }
            iovec parts[2];
            int count = 0;
            if (got < sizeof header) parts[count++] = {header + got, sizeof header - got};
            const std::size_t at = got < sizeof header ? 0 : got - sizeof header;
            parts[count++] = {body + at, capacity - at};
            msghdr msg{};
            msg.msg_iov = parts;
            msg.msg_iovlen = static_cast<std::size_t>(count);
            const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return -1;
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            if (::poll(fds, 2, kSocketTimeout * 1000) <= 0) return -1;
        }
        const std::size_t length = total - sizeof header;
        // Read before whatever is still carried: it goes first.
        carry.insert(carry.begin(), body + length, body + (got - sizeof header));
        return static_cast<long>(length);
    }
};

// Modes, from the first message: 'S' sink, 'P' sink waiting in poll()
// (PolledReceiver), 'E' echo. A sink answers each kFlush byte.
inline void ServeRaw(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bench::BoundWaits(fd, kSocketTimeout);
    std::vector<std::uint8_t> buffer(131071);
    long got = ReceiveFramed(fd, buffer.data(), buffer.size());
    const std::uint8_t mode = got > 0 ? buffer[0] : 0;
    PolledReceiver polled(fd);
    auto receive = [&] {
        // A receive's buffer of the largest NCB, as the provider's far side
        // posts: a read goes at most that far past a header.
        return mode == 'P' ? polled.Receive(buffer.data(), 65535)
                           : ReceiveFramed(fd, buffer.data(), buffer.size());
    };
    while ((got = receive()) >= 0) {
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
