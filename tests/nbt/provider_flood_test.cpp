// SPDX-License-Identifier: MIT
// Floods a loopback node as a hostile host on the segment would: idle
// connections on the session port, bursts of requests whose answers are
// bigger than they are, datagrams whose counts promise thousands of
// records. Real callers must still get through, and no flood may cost the
// node more than a bounded amount. On LANA 0 any 127.x address can be a
// source, so each flooding or calling host gets an address of its own.
#include <gtest/gtest.h>
#include <malloc.h>
#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <numeric>
#include <set>

#include "datagram_packet.h"
#include "loopback_node.h"
#include "name_packet.h"
#include "session_packet.h"
#include "tcp_peer.h"
#include "udp_peer.h"

// Every byte the process asks operator new for, to see what one datagram
// costs the network thread, and what is held at a time, to see what a
// flood leaves behind. Every form that allocates or frees is
// replaced, so none pairs with a runtime's own (the sanitizers' included);
// the deletes stay out of line, or GCC sees free() meet operator new.
namespace {
std::atomic<std::size_t> g_allocated{0};
std::atomic<std::ptrdiff_t> g_live{0};

void *Allocate(std::size_t size) noexcept {
    g_allocated.fetch_add(size, std::memory_order_relaxed);
    void *p = std::malloc(size ? size : 1);
    if (p) g_live.fetch_add(static_cast<std::ptrdiff_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}
void Free(void *p) noexcept {
    if (p) g_live.fetch_sub(static_cast<std::ptrdiff_t>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

void *operator new(std::size_t size) {
    if (void *p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) {
    return ::operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept {
    return ::operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void *p) noexcept {
    Free(p);
}
[[gnu::noinline]] void operator delete[](void *p) noexcept {
    Free(p);
}
[[gnu::noinline]] void operator delete(void *p, std::size_t) noexcept {
    Free(p);
}
[[gnu::noinline]] void operator delete[](void *p, std::size_t) noexcept {
    Free(p);
}
[[gnu::noinline]] void operator delete(void *p, const std::nothrow_t &) noexcept {
    Free(p);
}
[[gnu::noinline]] void operator delete[](void *p, const std::nothrow_t &) noexcept {
    Free(p);
}

namespace {

using namespace nbt::testing;
using namespace std::chrono_literals;
namespace codec = nbt::codec;

// Connections that connect and then say nothing.
struct IdleConnections {
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> sockets;

    // The node may accept and reset a connection before connect() has
    // returned here, which then reports the reset: that one counts as
    // closed, as it is.
    void Open(const std::string &source, const asio::ip::tcp::endpoint &to, int count) {
        for (int i = 0; i < count; ++i) {
            auto &socket =
                sockets.emplace_back(io, asio::ip::tcp::endpoint(asio::ip::make_address(source), 0));
            asio::error_code error;
            socket.connect(to, error);
            if (error && error != asio::error::connection_reset) throw asio::system_error(error, "connect");
        }
    }
    // How many the node has closed, once `expected` have been (or 5 s passed).
    std::size_t WaitForClosed(std::size_t expected) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        std::size_t closed = 0;
        do {
            std::vector<pollfd> polled;
            for (auto &socket : sockets) polled.push_back({socket.native_handle(), POLLIN, 0});
            ::poll(polled.data(), polled.size(), 50);
            closed = 0;
            for (const auto &p : polled) closed += (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        } while (closed < expected && std::chrono::steady_clock::now() < end);
        return closed;
    }
};

// A SESSION REQUEST from `source`; the answer's first 4 bytes, or none if
// the connection was refused or reset.
std::vector<std::uint8_t> CallFrom(const LoopbackNode &node, const std::string &source) {
    try {
        TcpPeer peer(node.SessionEndpoint(), asio::ip::make_address(source));
        peer.Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("CALLER")));
        return peer.Read(4);
    } catch (const std::exception &) {
        return {};
    }
}

WORD TurnedAway(LoopbackNode &node) {
    std::vector<UCHAR> buffer;
    EXPECT_EQ(node.Status("*", buffer), NRC_GOODRET);
    return ViewStatus(buffer).status.recv_buff_unavail;
}

const std::vector<std::uint8_t> kPositive = {0x82, 0, 0, 0};

TEST(SessionPortFlood, IdleConnectionsLeaveRoomForRealCallers) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    auto first = node.Listen("SERVER", "*");
    auto second = node.Listen("SERVER", "*");

    // One host opens 64 connections and sends nothing: it keeps a share of
    // them, the rest are reset at once, and a caller from elsewhere is
    // answered.
    IdleConnections one_host;
    one_host.Open("127.0.0.210", node.SessionEndpoint(), 64);
    EXPECT_EQ(CallFrom(node, "127.0.0.211"), kPositive);
    EXPECT_EQ(first->Wait(), NRC_GOODRET);
    const std::size_t kept = 64 - one_host.WaitForClosed(56);
    EXPECT_EQ(kept, 8u);

    // Many hosts, each within its share, fill the pool: the connections
    // that have waited longest make room, and a caller still gets in.
    IdleConnections many_hosts;
    for (int host = 220; host < 228; ++host)
        many_hosts.Open("127.0.0." + std::to_string(host), node.SessionEndpoint(), 8);
    EXPECT_EQ(CallFrom(node, "127.0.0.212"), kPositive);
    EXPECT_EQ(second->Wait(), NRC_GOODRET);
    EXPECT_EQ(one_host.WaitForClosed(64), 64u) << "the first host's were the oldest";
    EXPECT_EQ(TurnedAway(node), 56 + 9) << "refused and evicted connections are counted";
}

class ReplyFlood : public ::testing::Test {
protected:
    static nbt::Settings Limited() {
        auto settings = NameServiceSettings();
        settings.reply_rate = 1;
        settings.reply_burst = 10;
        return settings;
    }
    void SetUp() override {
        ASSERT_EQ(node.AddName("TARGET"), NRC_GOODRET);
        ASSERT_TRUE(flooder.bound());
        ASSERT_TRUE(other.bound());
        star.raw[0] = '*';
    }

    LoopbackNode node{Limited()};
    const std::string target = node.address().to_string();
    const std::uint16_t port = ProcessPorts().name;
    UdpPeer flooder{"127.0.0.210", 0, false};
    UdpPeer other{"127.0.0.211", 0, false};
    codec::NetbiosName star;
};

TEST_F(ReplyFlood, StatusAndQueryAnswersPerSourceAreLimitedAndCounted) {
    constexpr int kRequests = 60;
    for (int i = 0; i < kRequests; ++i) {
        const auto id = static_cast<std::uint16_t>(0x100 + i);
        flooder.SendTo(i % 2 ? codec::BuildNodeStatusRequest(id, star, false)
                             : codec::BuildQueryRequest(id, codec::MakeName(Padded("TARGET")), false),
                       target, port);
    }
    // Every request is either answered or counted as turned away.
    std::set<std::uint16_t> answered;
    WORD turned_away = 0;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (answered.size() + turned_away < kRequests && std::chrono::steady_clock::now() < end) {
        while (auto reply = flooder.Receive(50ms)) {
            auto packet = codec::DecodeNamePacket(reply->bytes);
            ASSERT_TRUE(packet);
            EXPECT_EQ(packet->header.Rcode(), codec::NameRcode::kOk);
            answered.insert(packet->header.trn_id);
        }
        turned_away = TurnedAway(node);
    }
    EXPECT_EQ(answered.size() + turned_away, std::size_t{kRequests});
    EXPECT_GE(answered.size(), 10u) << "the burst is answered";
    EXPECT_LT(answered.size(), 30u);

    // The budget is the flooding source's alone.
    other.SendTo(codec::BuildNodeStatusRequest(0x0999, star, false), target, port);
    EXPECT_TRUE(
        other.ReceiveMatching(5s, [](const codec::NamePacket &p) { return p.header.trn_id == 0x0999; }));
}

// A request asking thousands of questions, and a response carrying
// thousands of answers, each fitting in one datagram by pointing back at
// the first name.
std::vector<std::vector<std::uint8_t>> Swollen(const codec::NetbiosName &name) {
    auto request = codec::BuildQueryRequest(0x2222, name, false);
    const std::uint8_t question[] = {0xC0, 0x0C, 0x00, 0x20, 0x00, 0x01};
    for (int i = 1; i < 3000; ++i) request.insert(request.end(), std::begin(question), std::end(question));
    request[4] = 3000 >> 8;
    request[5] = 3000 & 0xFF;

    auto response = codec::BuildPositiveQueryResponse(0x3333, 0, name, {0, 0x7F0000D2});
    const std::size_t record_size = response.size() - 12 - 34;  // after header and name
    const std::vector<std::uint8_t> record(response.end() - static_cast<long>(record_size), response.end());
    for (int i = 1; i < 3000; ++i) {
        response.insert(response.end(), {0xC0, 0x0C});
        response.insert(response.end(), record.begin(), record.end());
    }
    response[6] = 3000 >> 8;
    response[7] = 3000 & 0xFF;
    return {request, response};
}

TEST_F(ReplyFlood, ThousandsOfQuestionsOrAnswersCostASmallFixedAmount) {
    // Bytes allocated while the node takes `datagram` (if any) and then
    // answers a status request, which the same socket delivers after it.
    auto cost = [&](const std::vector<std::uint8_t> *datagram) {
        flooder.Drain();
        const std::size_t before = g_allocated.load();
        if (datagram) flooder.SendTo(*datagram, target, port);
        flooder.SendTo(codec::BuildNodeStatusRequest(0x0777, star, false), target, port);
        const bool answered = flooder.Receive(5s).has_value();
        const std::size_t bytes = g_allocated.load() - before;
        EXPECT_TRUE(answered);
        return bytes;
    };
    const std::size_t probe = cost(nullptr);
    for (const auto &datagram : Swollen(codec::MakeName(Padded("TARGET")))) {
        ASSERT_LT(datagram.size(), 65000u);
        EXPECT_LT(cost(&datagram), probe + 4096) << "datagram of " << datagram.size() << " bytes";
    }
}

// One host sends first pieces of datagrams that never end, with no bytes
// in them and headers claiming to be another host's. A whole datagram
// behind each batch shows the node has taken the batch in.
TEST(DatagramFlood, EmptyFirstPiecesHoldLittleAndRealDatagramsStillArrive) {
    LoopbackNode node;
    UCHAR num = 0;
    ASSERT_EQ(node.AddName("TARGET", &num), NRC_GOODRET);
    const std::string target = node.address().to_string();
    const std::uint16_t port = ProcessPorts().datagram;
    UdpPeer flooder{"127.0.0.210", 0, false}, peer{"127.0.0.211", 0, false};
    const auto from = codec::MakeName(Padded("PEER")), to = codec::MakeName(Padded("TARGET"));
    auto packet = [&](std::uint8_t flags, std::uint16_t id, std::uint16_t offset,
                      std::span<const std::uint8_t> data) {
        return codec::BuildDatagram({codec::DatagramType::kDirectUnique, flags, id, 0x7F0000D3, 138}, offset,
                                    from, to, data);
    };
    std::vector<UCHAR> got(600);
    auto receive_after = [&](auto send) {
        AsyncNcb receive(NCBDGRECV);
        receive.ncb.ncb_num = num;
        receive.ncb.ncb_buffer = got.data();
        receive.ncb.ncb_length = static_cast<WORD>(got.size());
        EXPECT_EQ(receive.Submit(node.provider), NRC_GOODRET);
        send();
        EXPECT_EQ(receive.Wait(5s), NRC_GOODRET);
        return std::vector<UCHAR>(got.begin(), got.begin() + receive.ncb.ncb_length);
    };

    const std::ptrdiff_t before = g_live.load();
    const std::vector<std::uint8_t> marker = {1, 2, 3};
    for (std::uint16_t batch = 0; batch < 50; ++batch)
        receive_after([&] {
            for (std::uint16_t i = 0; i < 100; ++i)
                flooder.SendTo(packet(codec::kDatagramFirst | codec::kDatagramMore,
                                      static_cast<std::uint16_t>(batch * 100 + i), 0, {}),
                               target, port);
            flooder.SendTo(packet(codec::kDatagramFirst, 0xFFFF, 0, marker), target, port);
        });
    EXPECT_LT(g_live.load() - before, 64 * 1024) << "5000 unfinished datagrams are not all kept";

    // The peer's datagram in two pieces, with an id the flood used, comes
    // whole; so does one from the flooding host.
    std::vector<std::uint8_t> data(500);
    std::iota(data.begin(), data.end(), std::uint8_t{7});
    const std::span<const std::uint8_t> all(data);
    for (auto *sender : {&peer, &flooder}) {
        const auto whole = receive_after([&] {
            sender->SendTo(packet(codec::kDatagramFirst | codec::kDatagramMore, 42, 0, all.first(300)),
                           target, port);
            sender->SendTo(packet(0, 42, 300, all.subspan(300)), target, port);
        });
        EXPECT_EQ(whole, data);
    }
}

}  // namespace
