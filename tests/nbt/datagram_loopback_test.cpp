// SPDX-License-Identifier: MIT
// Datagrams and group names between loopback nodes in one process, and
// hand-made datagrams from a bare UDP peer: what arrives where, with which
// codes, and what a broken or stray datagram gets back.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "datagram_packet.h"
#include "loopback_node.h"
#include "udp_peer.h"

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::AsyncNcb;
using testing::LoopbackNode;
using testing::MakeNcb;
using testing::Padded;
using testing::ProcessPorts;
using testing::SetName;
using testing::UdpPeer;

constexpr UCHAR kAnyName = 0xFF;

// A datagram receive left pending, with its own buffer.
struct PendingReceive {
    std::vector<UCHAR> buffer;
    AsyncNcb ncb;
    PendingReceive(LoopbackNode &node, UCHAR command, UCHAR num, WORD length)
        : buffer(std::max<WORD>(length, 1), 0xEE), ncb(command) {
        ncb.ncb.ncb_num = num;
        ncb.ncb.ncb_buffer = buffer.data();
        ncb.ncb.ncb_length = length;
        EXPECT_EQ(ncb.Submit(node.provider), NRC_GOODRET);
    }
    std::vector<UCHAR> Got() const { return {buffer.begin(), buffer.begin() + ncb.ncb.ncb_length}; }
    bool From(const std::string &name) const {
        return std::memcmp(ncb.ncb.ncb_callname, Padded(name).data(), 16) == 0;
    }
};

UCHAR SendDatagram(LoopbackNode &node, UCHAR command, UCHAR num, const std::string &to,
                   std::vector<UCHAR> data) {
    NCB ncb = MakeNcb(command);
    ncb.ncb_num = num;
    SetName(ncb.ncb_callname, to);
    ncb.ncb_buffer = data.data();
    ncb.ncb_length = static_cast<WORD>(data.size());
    return node.provider.Netbios(&ncb);
}

std::vector<UCHAR> Bytes(std::size_t size, UCHAR seed = 1) {
    std::vector<UCHAR> out(size);
    std::iota(out.begin(), out.end(), seed);
    return out;
}

class Datagrams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(alpha.AddName("ALPHA", &alpha_num), NRC_GOODRET);
        ASSERT_EQ(beta.AddName("BETA", &beta_num), NRC_GOODRET);
    }
    LoopbackNode alpha, beta;
    UCHAR alpha_num = 0, beta_num = 0;
};

TEST_F(Datagrams, DirectedDatagramsUpTo512BytesAndTruncatedOnes) {
    // 512 bytes do not fit one 576-byte packet: they cross in two fragments.
    for (std::size_t size : {0, 1, 494, 495, 512}) {
        PendingReceive receive(beta, NCBDGRECV | ASYNCH, beta_num, 512);
        const auto data = Bytes(size, static_cast<UCHAR>(size));
        ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", data), NRC_GOODRET);
        ASSERT_EQ(receive.ncb.Wait(5s), NRC_GOODRET) << size;
        EXPECT_EQ(receive.Got(), data) << size;
        EXPECT_TRUE(receive.From("ALPHA"));
    }
    // Too small a buffer: its length, NRC_INCOMP, and the rest is lost.
    {
        PendingReceive small(beta, NCBDGRECV | ASYNCH, beta_num, 10);
        ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(20)), NRC_GOODRET);
        ASSERT_EQ(small.ncb.Wait(5s), NRC_INCOMP);
        EXPECT_EQ(small.Got(), Bytes(10));
    }
    PendingReceive next(beta, NCBDGRECV | ASYNCH, beta_num, 100);
    ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(3, 9)), NRC_GOODRET);
    ASSERT_EQ(next.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(next.Got(), Bytes(3, 9));
}

TEST_F(Datagrams, CodesRefusedAtOnce) {
    EXPECT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(513)), NRC_BUFLEN);
    EXPECT_EQ(SendDatagram(alpha, NCBDGSENDBC, alpha_num, "", Bytes(513)), NRC_BUFLEN);
    EXPECT_EQ(SendDatagram(alpha, NCBDGSEND, 77, "BETA", Bytes(5)), NRC_ILLNN);
    EXPECT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "*", Bytes(5)), NRC_NOWILD);
    NCB receive = MakeNcb(NCBDGRECV);
    receive.ncb_num = 77;
    EXPECT_EQ(alpha.provider.Netbios(&receive), NRC_ILLNN);
    receive = MakeNcb(NCBDGRECVBC);
    receive.ncb_num = kAnyName;
    EXPECT_EQ(alpha.provider.Netbios(&receive), NRC_ILLNN);
    // A name nobody holds: datagrams are unreliable, the send succeeds.
    EXPECT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "NOBODY", Bytes(5)), NRC_GOODRET);
    NCB unlink = MakeNcb(NCBUNLINK);
    EXPECT_EQ(alpha.provider.Netbios(&unlink), NRC_GOODRET);
}

TEST_F(Datagrams, AnyNameReceivesAndTheCounters) {
    UCHAR second = 0;
    ASSERT_EQ(beta.AddName("BETA2", &second), NRC_GOODRET);
    PendingReceive any(beta, NCBDGRECV | ASYNCH, kAnyName, 100);
    PendingReceive own(beta, NCBDGRECV | ASYNCH, second, 100);
    EXPECT_EQ(beta.SessionHeader("BETA").rcv_dg_outstanding, 1);  // the any-name one
    EXPECT_EQ(beta.SessionHeader("BETA2").rcv_dg_outstanding, 2);
    EXPECT_EQ(beta.SessionHeader("*").rcv_dg_outstanding, 2);

    // A receive on the name goes first; any-name takes the others.
    ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA2", Bytes(4)), NRC_GOODRET);
    ASSERT_EQ(own.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(any.ncb.Wait(100ms), NRC_PENDING);
    ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(5)), NRC_GOODRET);
    ASSERT_EQ(any.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(any.Got(), Bytes(5));
    EXPECT_EQ(beta.SessionHeader("*").rcv_dg_outstanding, 0);

    std::vector<UCHAR> before, after;
    ASSERT_EQ(beta.Status("*", before), NRC_GOODRET);
    // Nobody waits for this one: dropped and counted.
    ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(5)), NRC_GOODRET);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(beta.Status("*", after), NRC_GOODRET);
    EXPECT_EQ(testing::ViewStatus(after).status.recv_buff_unavail,
              testing::ViewStatus(before).status.recv_buff_unavail + 1);
    EXPECT_GT(testing::ViewStatus(after).status.recv_success,
              testing::ViewStatus(before).status.recv_success);
}

TEST_F(Datagrams, BroadcastsReachEveryBroadcastReceiveAndNoOther) {
    PendingReceive at_beta(beta, NCBDGRECVBC | ASYNCH, beta_num, 100);
    PendingReceive at_beta_too(beta, NCBDGRECVBC | ASYNCH, beta_num, 100);
    PendingReceive at_alpha(alpha, NCBDGRECVBC | ASYNCH, alpha_num, 100);
    PendingReceive directed(beta, NCBDGRECV | ASYNCH, kAnyName, 100);
    ASSERT_EQ(SendDatagram(alpha, NCBDGSENDBC, alpha_num, "", Bytes(7)), NRC_GOODRET);
    for (auto *receive : {&at_beta, &at_beta_too, &at_alpha}) {
        ASSERT_EQ(receive->ncb.Wait(5s), NRC_GOODRET);
        EXPECT_EQ(receive->Got(), Bytes(7));
        EXPECT_TRUE(receive->From("ALPHA"));
    }
    EXPECT_EQ(directed.ncb.Wait(100ms), NRC_PENDING) << "a broadcast is not a datagram for a name";
    ASSERT_EQ(SendDatagram(alpha, NCBDGSEND, alpha_num, "BETA", Bytes(1)), NRC_GOODRET);
    EXPECT_EQ(directed.ncb.Wait(5s), NRC_GOODRET);
}

TEST_F(Datagrams, GroupNamesHeldByTwoNodesRefusedAgainstAUniqueHolder) {
    LoopbackNode gamma;
    UCHAR alpha_team = 0, beta_team = 0;
    ASSERT_EQ(alpha.AddGroupName("TEAM", &alpha_team), NRC_GOODRET);
    ASSERT_EQ(beta.AddGroupName("TEAM", &beta_team), NRC_GOODRET);
    EXPECT_EQ(gamma.AddGroupName("ALPHA"), NRC_INUSE) << "a unique holder defends its name";

    // Local and remote adapter status carry the group flag.
    std::vector<UCHAR> buffer;
    ASSERT_EQ(alpha.Status("*", buffer), NRC_GOODRET);
    auto local = testing::ViewStatus(buffer);
    ASSERT_TRUE(testing::FindName(local, Padded("TEAM")));
    EXPECT_EQ(testing::FindName(local, Padded("TEAM"))->name_flags, GROUP_NAME | REGISTERED);
    EXPECT_EQ(testing::FindName(local, Padded("ALPHA"))->name_flags, UNIQUE_NAME | REGISTERED);
    ASSERT_EQ(gamma.Status("ALPHA", buffer), NRC_GOODRET);
    auto remote = testing::ViewStatus(buffer);
    ASSERT_TRUE(testing::FindName(remote, Padded("TEAM")));
    EXPECT_EQ(testing::FindName(remote, Padded("TEAM"))->name_flags, GROUP_NAME | REGISTERED);

    // A datagram to the group reaches every holder.
    ASSERT_EQ(gamma.AddName("GAMMA"), NRC_GOODRET);
    UCHAR gamma_num = 0;
    ASSERT_EQ(gamma.AddName("GAMMA2", &gamma_num), NRC_GOODRET);
    PendingReceive at_alpha(alpha, NCBDGRECV | ASYNCH, alpha_team, 100);
    PendingReceive at_beta(beta, NCBDGRECV | ASYNCH, beta_team, 100);
    ASSERT_EQ(SendDatagram(gamma, NCBDGSEND, gamma_num, "TEAM", Bytes(9)), NRC_GOODRET);
    for (auto *receive : {&at_alpha, &at_beta}) {
        ASSERT_EQ(receive->ncb.Wait(5s), NRC_GOODRET);
        EXPECT_EQ(receive->Got(), Bytes(9));
        EXPECT_TRUE(receive->From("GAMMA2"));
    }

    // Sessions join two nodes: a group name cannot be called, but may listen.
    EXPECT_EQ(gamma.Call("GAMMA", "TEAM"), NRC_NOCALL);
    auto listen = alpha.Listen("TEAM", "*");
    EXPECT_EQ(beta.Call("BETA", "TEAM"), NRC_NOCALL);
    EXPECT_EQ(listen->Wait(50ms), NRC_PENDING);

    // A group name is deleted like any other; the other holder keeps it.
    EXPECT_EQ(alpha.DeleteName("TEAM"), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(5s), NRC_NAMERR);
    PendingReceive still(beta, NCBDGRECV | ASYNCH, beta_team, 100);
    ASSERT_EQ(SendDatagram(gamma, NCBDGSEND, gamma_num, "TEAM", Bytes(2)), NRC_GOODRET);
    EXPECT_EQ(still.ncb.Wait(5s), NRC_GOODRET);
}

// ---- a bare peer on the wire ---------------------------------------------

class DatagramWire : public Datagrams {
protected:
    codec::DatagramHeader Header(codec::DatagramType type, std::uint8_t flags, std::uint16_t id) {
        return {type, flags, id, 0x7F0000D3, 4000};
    }
    std::vector<std::uint8_t> Packet(codec::DatagramType type, std::uint8_t flags, std::uint16_t id,
                                     std::uint16_t offset, const std::string &to,
                                     std::span<const UCHAR> data) {
        return codec::BuildDatagram(Header(type, flags, id), offset, codec::MakeName(Padded("PEER")),
                                    codec::MakeName(Padded(to)), data);
    }
    void Fire(const std::vector<std::uint8_t> &bytes) {
        peer.SendTo(bytes, beta.address().to_string(), ProcessPorts().datagram);
    }
    UdpPeer peer{"127.0.0.211", 0, false};
};

TEST_F(DatagramWire, FragmentsOutOfOrderAndOverlappingAreDeliveredWhole) {
    const auto data = Bytes(300);
    const std::span<const UCHAR> all(data);
    PendingReceive receive(beta, NCBDGRECV | ASYNCH, beta_num, 512);
    using codec::DatagramType;
    Fire(Packet(DatagramType::kDirectUnique, 0, 5, 200, "BETA", all.subspan(200)));
    Fire(Packet(DatagramType::kDirectUnique, codec::kDatagramMore, 5, 50, "BETA", all.subspan(50, 200)));
    EXPECT_EQ(receive.ncb.Wait(100ms), NRC_PENDING);
    Fire(Packet(DatagramType::kDirectUnique, codec::kDatagramFirst | codec::kDatagramMore, 5, 0, "BETA",
                all.first(100)));
    ASSERT_EQ(receive.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(receive.Got(), data);
    EXPECT_TRUE(receive.From("PEER"));
}

TEST_F(DatagramWire, MalformedAndStrayDatagramsByClass) {
    using codec::DatagramType;
    const auto data = Bytes(4);
    auto error_for = [&](const std::vector<std::uint8_t> &bytes) -> std::optional<codec::DatagramError> {
        peer.Drain();
        Fire(bytes);
        auto reply = peer.Receive(200ms);
        if (!reply) return std::nullopt;
        const auto decoded = codec::DecodeDatagram(reply->bytes);
        EXPECT_EQ(decoded.packet.header.type, DatagramType::kError);
        EXPECT_EQ(decoded.packet.header.id, 0x77);
        return decoded.packet.error;
    };
    const auto good = Packet(DatagramType::kDirectUnique, codec::kDatagramFirst, 0x77, 0, "BETA", data);
    // A unique datagram for a name not held, and broken names: told so.
    EXPECT_EQ(error_for(Packet(DatagramType::kDirectUnique, codec::kDatagramFirst, 0x77, 0, "NOTHERE", data)),
              codec::DatagramError::kNameNotPresent);
    auto bad_source = good;
    bad_source[20] = 'Z';
    EXPECT_EQ(error_for(bad_source), codec::DatagramError::kInvalidSourceName);
    auto bad_destination = good;
    bad_destination[48] = 0xC0;
    EXPECT_EQ(error_for(bad_destination), codec::DatagramError::kInvalidDestinationName);
    // Group datagrams, truncated ones, lengths that lie, unknown types: silence.
    EXPECT_FALSE(
        error_for(Packet(DatagramType::kDirectGroup, codec::kDatagramFirst, 0x77, 0, "NOTHERE", data)));
    for (std::size_t n = 0; n < good.size(); n += 19)
        EXPECT_FALSE(error_for(std::vector<std::uint8_t>(good.begin(), good.begin() + n))) << n;
    auto long_claim = good;
    long_claim[11] = 0xFF;
    EXPECT_FALSE(error_for(long_claim));
    auto unknown = good;
    unknown[0] = 0x1F;
    EXPECT_FALSE(error_for(unknown));
    // A piece that can never finish, then the node still delivers.
    Fire(Packet(DatagramType::kDirectUnique, codec::kDatagramFirst | codec::kDatagramMore, 0x78, 0, "BETA",
                data));
    PendingReceive receive(beta, NCBDGRECV | ASYNCH, beta_num, 100);
    Fire(good);
    ASSERT_EQ(receive.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(receive.Got(), data);
}

// ---- sends over a session --------------------------------------------------

TEST_F(Datagrams, ChainSendIsReadAsOneMessageAndTheNoAckSendsAreSends) {
    auto listen = beta.Listen("BETA", "*");
    UCHAR client = 0;
    ASSERT_EQ(alpha.Call("ALPHA", "BETA", &client), NRC_GOODRET);
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    const UCHAR server = listen->ncb.ncb_lsn;

    std::string first = "hello ", second = "world";
    for (UCHAR command : {NCBCHAINSEND, NCBCHAINSENDNA}) {
        NCB ncb = MakeNcb(command);
        ncb.ncb_lsn = client;
        ncb.ncb_buffer = reinterpret_cast<PUCHAR>(first.data());
        ncb.ncb_length = static_cast<WORD>(first.size());
        const WORD second_length = static_cast<WORD>(second.size());
        const PUCHAR second_buffer = reinterpret_cast<PUCHAR>(second.data());
        std::memcpy(ncb.ncb_callname, &second_length, sizeof second_length);
        std::memcpy(ncb.ncb_callname + 2, &second_buffer, sizeof second_buffer);
        ASSERT_EQ(alpha.provider.Netbios(&ncb), NRC_GOODRET);
        char in[64] = {};
        WORD got = 0;
        ASSERT_EQ(beta.Receive(server, in, sizeof in, &got), NRC_GOODRET);
        EXPECT_EQ(std::string(in, got), "hello world");
    }
    // Two full buffers: longer than one 16-bit length, so the extension bit.
    std::vector<UCHAR> big = Bytes(65535), big2 = Bytes(65535, 3);
    NCB chain = MakeNcb(NCBCHAINSEND);
    chain.ncb_lsn = client;
    chain.ncb_buffer = big.data();
    chain.ncb_length = 65535;
    const WORD big2_length = 65535;
    const PUCHAR big2_buffer = big2.data();
    std::memcpy(chain.ncb_callname, &big2_length, 2);
    std::memcpy(chain.ncb_callname + 2, &big2_buffer, sizeof big2_buffer);
    AsyncNcb async_chain(NCBCHAINSEND);
    async_chain.ncb = chain;
    async_chain.ncb.ncb_command = NCBCHAINSEND | ASYNCH;
    async_chain.ncb.ncb_event = &async_chain.event;
    ASSERT_EQ(async_chain.Submit(alpha.provider), NRC_GOODRET);
    std::vector<UCHAR> in(65535);
    WORD got = 0;
    ASSERT_EQ(beta.Receive(server, in.data(), 65535, &got), NRC_INCOMP);
    EXPECT_EQ(in, big);
    ASSERT_EQ(beta.Receive(server, in.data(), 65535, &got), NRC_GOODRET);
    EXPECT_EQ(in, big2);
    EXPECT_EQ(async_chain.Wait(), NRC_GOODRET);

    NCB no_ack = MakeNcb(NCBSENDNA);
    no_ack.ncb_lsn = client;
    no_ack.ncb_buffer = reinterpret_cast<PUCHAR>(second.data());
    no_ack.ncb_length = 5;
    ASSERT_EQ(alpha.provider.Netbios(&no_ack), NRC_GOODRET);
    char in2[8] = {};
    ASSERT_EQ(beta.Receive(server, in2, sizeof in2, &got), NRC_GOODRET);
    EXPECT_EQ(std::string(in2, got), "world");
    // A second buffer with a length and no address.
    NCB broken = MakeNcb(NCBCHAINSEND);
    broken.ncb_lsn = client;
    broken.ncb_callname[0] = 5;
    EXPECT_EQ(alpha.provider.Netbios(&broken), NRC_BUFLEN);
}

}  // namespace
}  // namespace nbt
