// SPDX-License-Identifier: MIT
// wire_delay QUEUE DELAY_MS JITTER_MS: holds each packet of netfilter queue
// QUEUE for DELAY_MS +- JITTER_MS (uniform) before letting it go, so that
// packets overtake each other. The kernel here has no netem qdisc; the lab
// sends its bridged traffic here through an NFQUEUE rule instead. Runs until
// SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <queue>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    Clock::time_point due;
    std::uint32_t id;
    bool operator>(const Held &other) const { return due > other.due; }
};

struct Delayer {
    std::chrono::microseconds base, jitter;
    std::mt19937_64 random{std::random_device{}()};
    std::priority_queue<Held, std::vector<Held>, std::greater<>> held;
    std::uint64_t count = 0;

    Clock::time_point Due() {
        std::uniform_int_distribution<long> spread(-jitter.count(), jitter.count());
        return Clock::now() + base + std::chrono::microseconds(spread(random));
    }
};

volatile std::sig_atomic_t stop = 0;

int OnPacket(nfq_q_handle *, nfgenmsg *, nfq_data *packet, void *data) {
    auto *delayer = static_cast<Delayer *>(data);
    const nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(packet);
    if (!header) return 0;
    delayer->held.push({delayer->Due(), ntohl(header->packet_id)});
    ++delayer->count;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: wire_delay QUEUE DELAY_MS JITTER_MS\n");
        return 2;
    }
    const int queue = std::atoi(argv[1]);
    Delayer delayer;
    delayer.base = std::chrono::milliseconds(std::atoi(argv[2]));
    delayer.jitter =
        std::min<std::chrono::microseconds>(std::chrono::milliseconds(std::atoi(argv[3])), delayer.base);

    std::signal(SIGTERM, [](int) { stop = 1; });
    std::signal(SIGINT, [](int) { stop = 1; });

    nfq_handle *handle = nfq_open();
    if (!handle) {
        std::perror("wire_delay: nfq_open");
        return 1;
    }
    nfq_q_handle *queue_handle = nfq_create_queue(handle, queue, OnPacket, &delayer);
    if (!queue_handle || nfq_set_mode(queue_handle, NFQNL_COPY_META, 0) < 0) {
        std::perror("wire_delay: queue");
        return 1;
    }
    // A 10 MB stream keeps thousands of packets in flight at 90 ms.
    nfq_set_queue_maxlen(queue_handle, 1 << 16);
    const int fd = nfq_fd(handle);
    nfnl_rcvbufsiz(nfq_nfnlh(handle), 16 << 20);
    const int on = 1;
    setsockopt(fd, SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);
    std::fprintf(stderr, "wire_delay: queue %d ready\n", queue);

    std::vector<char> buffer(1 << 16);
    while (!stop) {
        int wait_ms = 100;
        if (!delayer.held.empty()) {
            const auto left = delayer.held.top().due - Clock::now();
            wait_ms = static_cast<int>(
                std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, wait_ms) > 0) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) nfq_handle_packet(handle, buffer.data(), static_cast<int>(n));
        }
        const auto now = Clock::now();
        while (!delayer.held.empty() && delayer.held.top().due <= now) {
            nfq_set_verdict(queue_handle, delayer.held.top().id, NF_ACCEPT, 0, nullptr);
            delayer.held.pop();
        }
    }
    std::fprintf(stderr, "wire_delay: held %llu packets\n", static_cast<unsigned long long>(delayer.count));
    // What is still held goes on its way rather than vanishing.
    for (; !delayer.held.empty(); delayer.held.pop())
        nfq_set_verdict(queue_handle, delayer.held.top().id, NF_ACCEPT, 0, nullptr);
    nfq_destroy_queue(queue_handle);
    nfq_close(handle);
    return 0;
}
