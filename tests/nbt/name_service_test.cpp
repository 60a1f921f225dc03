// SPDX-License-Identifier: MIT
// The name service between loopback nodes: adding, defending, deleting and
// adapter status, local and remote, plus the exact packets a peer sees.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <set>

#include "loopback_node.h"
#include "name_encoding.h"
#include "name_status.h"
#include "node.h"
#include "udp_peer.h"

using namespace nbt::testing;
using namespace std::chrono_literals;
namespace codec = nbt::codec;

namespace {

const std::uint16_t kPort = ProcessPorts().name;
const std::string kBroadcast = "127.255.255.255";

codec::NetbiosName WireName(const std::string &text) {
    auto padded = Padded(text);
    return codec::MakeName(padded);
}

class NameServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(a.provider.LanaAddress(0) && b.provider.LanaAddress(0));
        ASSERT_NE(a.address(), b.address());
    }
    LoopbackNode a{NameServiceSettings()};
    LoopbackNode b{NameServiceSettings()};
};

TEST_F(NameServiceTest, LocalChecksAndRoundRobinNumbers) {
    EXPECT_EQ(a.AddName("*"), NRC_NOWILD);
    EXPECT_EQ(a.AddName(std::array<UCHAR, 16>{}), NRC_NOWILD);
    UCHAR first = 0, second = 0, third = 0;
    ASSERT_EQ(a.AddName("ALPHA", &first), NRC_GOODRET);
    EXPECT_GE(first, 2);
    EXPECT_EQ(a.AddName("ALPHA"), NRC_DUPNAME);
    EXPECT_EQ(a.DeleteName("ALPHA"), NRC_GOODRET);
    EXPECT_EQ(a.DeleteName("ALPHA"), NRC_NOWILD);
    ASSERT_EQ(a.AddName("BRAVO", &second), NRC_GOODRET);
    ASSERT_EQ(a.AddName("ALPHA", &third), NRC_GOODRET);
    // The freed number is not handed out again at once.
    EXPECT_NE(second, first);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    // Names are the 16 bytes given: another case is another name.
    EXPECT_EQ(a.AddName("alpha"), NRC_GOODRET);
}

TEST_F(NameServiceTest, TableFullAtTheResetLimit) {
    ASSERT_EQ(ResetLana(a.provider, 0, 0, 0, 0, /*names=*/2), NRC_GOODRET);
    EXPECT_EQ(a.AddName("ONE"), NRC_GOODRET);
    EXPECT_EQ(a.AddName("TWO"), NRC_GOODRET);
    EXPECT_EQ(a.AddName("THREE"), NRC_NAMTFUL);
    EXPECT_EQ(a.DeleteName("ONE"), NRC_GOODRET);
    EXPECT_EQ(a.AddName("THREE"), NRC_GOODRET);
}

TEST_F(NameServiceTest, SecondNodeIsRefusedUntilTheFirstReleases) {
    ASSERT_EQ(a.AddName("SHARED"), NRC_GOODRET);
    EXPECT_EQ(b.AddName("SHARED"), NRC_INUSE);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(b.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("SHARED")), nullptr)
        << "a refused name stays out of the table";

    ASSERT_EQ(a.DeleteName("SHARED"), NRC_GOODRET);
    EXPECT_EQ(b.AddName("SHARED"), NRC_GOODRET);
    EXPECT_EQ(a.AddName("SHARED"), NRC_INUSE);
}

TEST_F(NameServiceTest, LocalStatusListsNamesAndCounters) {
    UCHAR num = 0;
    ASSERT_EQ(a.AddName("LOCAL", &num), NRC_GOODRET);
    std::vector<UCHAR> buffer;
    WORD returned = 0;
    ASSERT_EQ(a.Status(Padded("*"), buffer, 4000, &returned), NRC_GOODRET);
    auto view = ViewStatus(buffer);
    EXPECT_EQ(returned, sizeof(ADAPTER_STATUS) + sizeof(NAME_BUFFER));
    EXPECT_EQ(view.status.adapter_address[0], 0x02);
    EXPECT_EQ(view.status.adapter_address[2], 0x7F);
    EXPECT_EQ(view.status.adapter_address[5], a.address().to_uint() & 0xFF);
    EXPECT_EQ(view.status.rev_major, 3);
    EXPECT_EQ(view.status.adapter_type, 0xFE);
    EXPECT_EQ(view.status.max_dgram_size, 576);
    EXPECT_EQ(view.status.max_sess_pkt_size, 65535);
    EXPECT_EQ(view.status.max_cfg_sess, 16);
    EXPECT_GE(view.status.xmit_success, 3u) << "the registration broadcasts count";
    ASSERT_EQ(view.names.size(), 1u);
    EXPECT_EQ(view.names[0].name_num, num);
    EXPECT_EQ(view.names[0].name_flags, REGISTERED);

    // A held name also asks for the local status.
    ASSERT_EQ(a.Status("LOCAL", buffer), NRC_GOODRET);
    EXPECT_EQ(ViewStatus(buffer).names[0].name_num, num);
}

TEST_F(NameServiceTest, BufferLengthRules) {
    ASSERT_EQ(a.AddName("N1"), NRC_GOODRET);
    ASSERT_EQ(a.AddName("N2"), NRC_GOODRET);
    std::vector<UCHAR> buffer;
    EXPECT_EQ(a.Status(Padded("*"), buffer, 59), NRC_BUFLEN);
    EXPECT_EQ(a.Status(Padded("*"), buffer, 0), NRC_BUFLEN);
    WORD returned = 0;
    ASSERT_EQ(a.Status(Padded("*"), buffer, 60 + 18 + 17, &returned), NRC_INCOMP);
    EXPECT_EQ(returned, 60 + 18);
    EXPECT_EQ(ViewStatus(buffer).status.name_count, 1);
    EXPECT_EQ(buffer[60 + 18], 0xEE) << "nothing written past the last whole record";
    ASSERT_EQ(a.Status(Padded("*"), buffer, 60, &returned), NRC_INCOMP);
    EXPECT_EQ(ViewStatus(buffer).status.name_count, 0);
    // The same rules for a remote answer.
    ASSERT_EQ(b.Status(a.AddressName(), buffer, 60 + 18, &returned), NRC_INCOMP);
    EXPECT_EQ(ViewStatus(buffer).status.name_count, 1);
    EXPECT_EQ(b.Status(Padded("NOBODY"), buffer, 10), NRC_BUFLEN) << "checked before anything is sent";

    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_callname[0] = '*';
    ncb.ncb_length = 4000;
    EXPECT_EQ(a.provider.Netbios(&ncb), NRC_BUFLEN);
}

TEST_F(NameServiceTest, RemoteStatusByNameAddressAndAdapterAddress) {
    ASSERT_EQ(a.AddName("REMOTE"), NRC_GOODRET);
    ASSERT_EQ(a.AddName("OTHER"), NRC_GOODRET);
    for (auto callname : {Padded("REMOTE"), a.AddressName(), a.AdapterName()}) {
        std::vector<UCHAR> buffer;
        ASSERT_EQ(b.Status(callname, buffer), NRC_GOODRET);
        auto view = ViewStatus(buffer);
        ASSERT_EQ(view.names.size(), 2u);
        const NAME_BUFFER *name = FindName(view, Padded("REMOTE"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->name_num, 0) << "NBT carries no name numbers";
        EXPECT_EQ(name->name_flags, REGISTERED);
        EXPECT_EQ(view.status.adapter_address[5], a.address().to_uint() & 0xFF);
        EXPECT_EQ(view.status.rev_major, 3);
        EXPECT_EQ(view.status.max_sess_pkt_size, 65535);
    }
    // Our own adapter address is the local status.
    std::vector<UCHAR> buffer;
    ASSERT_EQ(b.Status(b.AdapterName(), buffer), NRC_GOODRET);
    EXPECT_EQ(ViewStatus(buffer).status.name_count, 0);
}

TEST_F(NameServiceTest, NoAnswerIsCommandTimeout) {
    std::vector<UCHAR> buffer;
    EXPECT_EQ(b.Status("NOSUCHNAME", buffer), NRC_CMDTMO);
    EXPECT_EQ(b.Status(Padded("127.0.0.199"), buffer), NRC_CMDTMO);
    auto unknown = a.AdapterName();
    unknown[15] = 0x99;  // a loopback adapter nobody has
    EXPECT_EQ(b.Status(unknown, buffer), NRC_CMDTMO);
    std::array<UCHAR, 16> foreign{};
    const UCHAR mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(foreign.data() + 10, mac, 6);
    EXPECT_EQ(b.Status(foreign, buffer), NRC_CMDTMO) << "responders whose unit id differs do not count";
    EXPECT_EQ(b.Status(std::array<UCHAR, 16>{}, buffer), NRC_CMDTMO) << "the zero address is nobody's";
}

TEST_F(NameServiceTest, ConflictDemandMarksTheNameInEveryView) {
    ASSERT_EQ(a.AddName("CONTESTED"), NRC_GOODRET);
    UdpPeer peer("127.0.0.201", 0, false);
    ASSERT_TRUE(peer.bound());
    // Aimed at someone else: ignored.
    peer.SendTo(codec::BuildRegistrationRefusal(0x1234, WireName("CONTESTED"), {0, 0x7F0000FE},
                                                codec::NameRcode::kConflict),
                a.address().to_string(), kPort);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(a.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("CONTESTED"))->name_flags, REGISTERED);

    peer.SendTo(codec::BuildRegistrationRefusal(0x1235, WireName("CONTESTED"), {0, a.address().to_uint()},
                                                codec::NameRcode::kConflict),
                a.address().to_string(), kPort);
    EXPECT_TRUE(Eventually([&] {
        return a.Status("*", buffer) == NRC_GOODRET &&
               FindName(ViewStatus(buffer), Padded("CONTESTED"))->name_flags == DUPLICATE;
    }));
    ASSERT_EQ(b.Status(a.AddressName(), buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("CONTESTED"))->name_flags, DUPLICATE);
    // A name in conflict is no longer defended, and can still be deleted.
    EXPECT_EQ(b.AddName("CONTESTED"), NRC_GOODRET);
    EXPECT_EQ(a.DeleteName("CONTESTED"), NRC_GOODRET);
}

// A demand counts only when its record decodes and names this node's
// address. One that does, broadcast or not, ends everything that waits on
// the name; the name then refuses new work until it is deleted.
TEST_F(NameServiceTest, ConflictDemandEndsWhatWaitsOnTheNameOnlyWhenItNamesUs) {
    ASSERT_EQ(a.AddName("CONTESTED"), NRC_GOODRET);
    ASSERT_EQ(b.AddName("CALLER"), NRC_GOODRET);
    // A session with a receive waiting, a listen, and a call to a node that never answers.
    auto first = a.Listen("CONTESTED", "*");
    ASSERT_EQ(b.Call("CALLER", "CONTESTED"), NRC_GOODRET);
    ASSERT_EQ(first->Wait(), NRC_GOODRET);
    const UCHAR lsn = first->ncb.ncb_lsn;
    std::array<UCHAR, 16> data{};
    AsyncNcb receive(NCBRECV);
    receive.ncb.ncb_lsn = lsn;
    receive.ncb.ncb_buffer = data.data();
    receive.ncb.ncb_length = data.size();
    ASSERT_EQ(receive.Submit(a.provider), NRC_GOODRET);
    auto listen = a.Listen("CONTESTED", "*");

    UdpPeer queries(kBroadcast, kPort), silent_node("127.0.0.208", 0, false);
    asio::io_context io;
    asio::ip::tcp::acceptor never_answers(io,
                                          {asio::ip::make_address_v4("127.0.0.208"), ProcessPorts().session});
    queries.Drain();
    AsyncNcb call(NCBCALL);
    SetName(call.ncb.ncb_name, "CONTESTED");
    SetName(call.ncb.ncb_callname, "SILENT");
    ASSERT_EQ(call.Submit(a.provider), NRC_GOODRET);
    UdpPeer::Datagram raw;
    auto query = queries.ReceiveMatching(
        2s,
        [](const codec::NamePacket &p) {
            return p.questions.size() == 1 && p.questions[0].name == WireName("SILENT");
        },
        &raw);
    ASSERT_TRUE(query);
    silent_node.SendTo(
        codec::BuildPositiveQueryResponse(query->header.trn_id, 0, WireName("SILENT"), {0, 0x7F0000D0}),
        raw.from, raw.port);

    // Demands that take nothing away: a record that does not decode (56
    // bytes, no RDATA at all), unicast and broadcast, and one for another address.
    UdpPeer peer("127.0.0.209", 0, false);
    const auto for_us = codec::BuildRegistrationRefusal(
        0x1240, WireName("CONTESTED"), {0, a.address().to_uint()}, codec::NameRcode::kConflict);
    ASSERT_EQ(for_us.size(), 62u);
    auto undecodable = for_us;
    undecodable.resize(56);
    undecodable[54] = undecodable[55] = 0;  // RDLENGTH
    const auto for_another = codec::BuildRegistrationRefusal(0x1241, WireName("CONTESTED"), {0, 0x7F0000FE},
                                                             codec::NameRcode::kConflict);
    peer.SendTo(undecodable, a.address().to_string(), kPort);
    peer.SendTo(undecodable, kBroadcast, kPort);
    peer.SendTo(for_another, a.address().to_string(), kPort);
    auto dropped = [this] {
        std::uint32_t count = 0;
        a.provider.WithNode(0,
                            [&count](nbt::Node *node) { count = node->counters().conflict_demands_dropped; });
        return count;
    };
    for (int i = 0; i < 500 && dropped() < 3; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(dropped(), 3u);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(a.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("CONTESTED"))->name_flags, REGISTERED);
    EXPECT_EQ(listen->Wait(0ms), NRC_PENDING);
    EXPECT_EQ(receive.Wait(0ms), NRC_PENDING);
    EXPECT_EQ(call.Wait(0ms), NRC_PENDING);

    peer.SendTo(for_us, kBroadcast, kPort);
    EXPECT_EQ(listen->Wait(), NRC_NAMCONF);
    EXPECT_EQ(receive.Wait(), NRC_NAMCONF);
    EXPECT_EQ(call.Wait(), NRC_NAMCONF);
    EXPECT_EQ(a.Listen("CONTESTED", "*")->Wait(), NRC_NAMCONF);
    EXPECT_EQ(a.Call("CONTESTED", "CALLER"), NRC_NAMCONF);
    EXPECT_EQ(a.Receive(lsn, data.data(), data.size()), NRC_NAMCONF);
    EXPECT_EQ(a.Send(lsn, "x", 1), NRC_NAMCONF);
    EXPECT_EQ(a.Hangup(lsn), NRC_GOODRET);
    EXPECT_EQ(a.DeleteName("CONTESTED"), NRC_GOODRET);
    ASSERT_EQ(a.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("CONTESTED")), nullptr);
}

TEST_F(NameServiceTest, EveryNameStateLocallyAndRemotely) {
    ASSERT_EQ(a.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(b.AddName("CLIENT"), NRC_GOODRET);
    auto session_ncb = [](UCHAR command, const char *name, const char *callname) {
        NCB ncb{};
        ncb.ncb_command = command;
        std::memcpy(ncb.ncb_name, Padded(name).data(), 16);
        std::memcpy(ncb.ncb_callname, Padded(callname).data(), 16);
        return ncb;
    };
    NCB listen = session_ncb(NCBLISTEN, "SERVER", "*");
    std::thread listener([&] { a.provider.Netbios(&listen); });
    std::this_thread::sleep_for(100ms);
    NCB call = session_ncb(NCBCALL, "CLIENT", "SERVER");
    ASSERT_EQ(b.provider.Netbios(&call), NRC_GOODRET);
    listener.join();
    ASSERT_EQ(listen.ncb_retcode, NRC_GOODRET);

    // A second listen is pending when the name is deleted: it ends, the session stays.
    NCB waiting = session_ncb(NCBLISTEN, "SERVER", "*");
    std::thread second([&] { a.provider.Netbios(&waiting); });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(a.DeleteName("SERVER"), NRC_ACTSES);
    second.join();
    EXPECT_EQ(waiting.ncb_retcode, NRC_NAMERR);
    EXPECT_EQ(a.DeleteName("SERVER"), NRC_ACTSES);

    auto flags_of = [](LoopbackNode &asker, const std::array<UCHAR, 16> &callname, const char *name) -> int {
        std::vector<UCHAR> buffer;
        if (asker.Status(callname, buffer) != NRC_GOODRET) return -1;
        const auto view = ViewStatus(buffer);
        const NAME_BUFFER *entry = FindName(view, Padded(name));
        return entry ? entry->name_flags : -2;
    };
    EXPECT_EQ(flags_of(a, Padded("*"), "SERVER"), DEREGISTERED);
    EXPECT_EQ(flags_of(b, a.AddressName(), "SERVER"), DEREGISTERED);
    // Still ours until the session ends: defended against a third node.
    LoopbackNode c{NameServiceSettings()};
    ASSERT_TRUE(c.provider.LanaAddress(0));
    EXPECT_EQ(c.AddName("SERVER"), NRC_INUSE);

    // A conflict on top of the pending delete.
    UdpPeer peer("127.0.0.205", 0, false);
    peer.SendTo(codec::BuildRegistrationRefusal(0x1236, WireName("SERVER"), {0, a.address().to_uint()},
                                                codec::NameRcode::kConflict),
                a.address().to_string(), kPort);
    EXPECT_TRUE(Eventually([&] { return flags_of(a, Padded("*"), "SERVER") == DUPLICATE_DEREG; }));
    EXPECT_EQ(flags_of(b, a.AddressName(), "SERVER"), DUPLICATE_DEREG);

    // A name still registering is listed locally with state 0 but not on the wire.
    std::thread adder([&] { EXPECT_EQ(a.AddName("PENDING"), NRC_GOODRET); });
    EXPECT_TRUE(Eventually([&] { return flags_of(a, Padded("*"), "PENDING") == REGISTERING; }));
    EXPECT_EQ(flags_of(b, a.AddressName(), "PENDING"), -2);
    adder.join();
    EXPECT_EQ(flags_of(b, a.AddressName(), "PENDING"), REGISTERED);

    // The last session ends: the delete happens and the name is free.
    NCB hangup{};
    hangup.ncb_command = NCBHANGUP;
    hangup.ncb_lsn = listen.ncb_lsn;
    EXPECT_EQ(a.provider.Netbios(&hangup), NRC_GOODRET);
    EXPECT_TRUE(Eventually([&] { return flags_of(a, Padded("*"), "SERVER") == -2; }));
    EXPECT_EQ(a.DeleteName("SERVER"), NRC_NOWILD);
    EXPECT_EQ(c.AddName("SERVER"), NRC_GOODRET);
}

TEST_F(NameServiceTest, DeleteWhileTheAddIsStillRegistering) {
    UCHAR add_rc = 0xEE;
    std::thread adder([&] { add_rc = a.AddName("RACE"); });
    std::vector<UCHAR> listed;
    EXPECT_TRUE(Eventually([&] {
        if (a.Status("*", listed) != NRC_GOODRET) return false;
        const auto view = ViewStatus(listed);
        const NAME_BUFFER *entry = FindName(view, Padded("RACE"));
        return entry && entry->name_flags == REGISTERING;
    }));
    EXPECT_EQ(a.DeleteName("RACE"), NRC_GOODRET);
    adder.join();
    EXPECT_EQ(add_rc, NRC_NAMERR) << "the add must end, not hang";
    std::vector<UCHAR> buffer;
    ASSERT_EQ(a.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(ViewStatus(buffer).names.size(), 0u);
    EXPECT_EQ(a.AddName("RACE"), NRC_GOODRET);
}

TEST_F(NameServiceTest, SecondOwnerAnsweringAQueryGetsAConflictDemand) {
    UdpPeer first("127.0.0.206", kPort), second("127.0.0.207", kPort);
    ASSERT_TRUE(first.bound());
    ASSERT_TRUE(second.bound());
    UdpPeer listener(kBroadcast, kPort);
    listener.Drain();
    std::thread asker([&] {
        std::vector<UCHAR> buffer;
        EXPECT_EQ(b.Status("TWICE", buffer), NRC_CMDTMO) << "neither raw peer answers the status request";
    });
    UdpPeer::Datagram raw;
    auto query = listener.ReceiveMatching(
        2s, [](const codec::NamePacket &p) { return p.questions.size() == 1 && p.questions[0].type == 0x20; },
        &raw);
    ASSERT_TRUE(query);
    const auto id = query->header.trn_id;
    const auto name = query->questions[0].name;
    first.SendTo(codec::BuildPositiveQueryResponse(id, 0, name, {0, 0x7F0000CE}), raw.from, raw.port);
    first.SendTo(codec::BuildPositiveQueryResponse(id, 0, name, {0, 0x7F0000CE}), raw.from, raw.port);
    second.SendTo(codec::BuildPositiveQueryResponse(id, 0, name, {0, 0x7F0000CF}), raw.from, raw.port);
    auto demand = second.ReceiveMatching(500ms, [](const codec::NamePacket &p) {
        return p.header.IsResponse() && p.header.Rcode() == codec::NameRcode::kConflict;
    });
    ASSERT_TRUE(demand);
    EXPECT_EQ(demand->answers[0].name, name);
    EXPECT_EQ((*codec::DecodeNbRdata(demand->answers[0].rdata))[0].ipv4, 0x7F0000CFu);
    EXPECT_FALSE(first.ReceiveMatching(200ms, [](const codec::NamePacket &p) {
        return p.header.IsResponse() && p.header.Rcode() == codec::NameRcode::kConflict;
    })) << "the first owner repeating itself is no conflict";
    asker.join();
}

TEST_F(NameServiceTest, RegistrationOnTheWire) {
    UdpPeer listener(kBroadcast, kPort);
    ASSERT_TRUE(listener.bound());
    listener.Drain();
    ASSERT_EQ(a.AddName("WIRE"), NRC_GOODRET);
    std::vector<codec::NamePacket> seen;
    while (auto p = listener.ReceiveMatching(100ms, [](const codec::NamePacket &p) {
        return p.header.Opcode() == codec::NameOpcode::kRegistration && !p.header.IsResponse();
    }))
        seen.push_back(*p);
    ASSERT_EQ(seen.size(), 3u);
    for (const auto &p : seen) {
        EXPECT_EQ(p.header.trn_id, seen[0].header.trn_id) << "retries keep the transaction id";
        EXPECT_EQ(p.header.flags, 0x2910);
        EXPECT_EQ(p.questions[0].name, WireName("WIRE"));
        auto rdata = codec::DecodeNbRdata(p.additional[0].rdata);
        ASSERT_TRUE(rdata);
        EXPECT_EQ((*rdata)[0].ipv4, a.address().to_uint());
    }
    // Release on delete, three times, and on reset.
    ASSERT_EQ(a.DeleteName("WIRE"), NRC_GOODRET);
    int releases = 0;
    while (listener.ReceiveMatching(150ms, [](const codec::NamePacket &p) {
        return p.header.Opcode() == codec::NameOpcode::kRelease && p.questions[0].name == WireName("WIRE");
    }))
        ++releases;
    EXPECT_EQ(releases, 3);
    ASSERT_EQ(a.AddName("KEPT"), NRC_GOODRET);
    listener.Drain();
    ASSERT_EQ(ResetLana(a.provider), NRC_GOODRET);
    EXPECT_TRUE(listener.ReceiveMatching(300ms, [](const codec::NamePacket &p) {
        return p.header.Opcode() == codec::NameOpcode::kRelease && p.questions[0].name == WireName("KEPT");
    }));
}

TEST_F(NameServiceTest, TransactionIdsDifferBetweenRequests) {
    UdpPeer listener(kBroadcast, kPort);
    listener.Drain();
    std::set<std::uint16_t> ids;
    for (auto name : {"ID1", "ID2", "ID3", "ID4"}) {
        ASSERT_EQ(a.AddName(name), NRC_GOODRET);
        auto p = listener.ReceiveMatching(300ms, [&](const codec::NamePacket &p) {
            return p.header.Opcode() == codec::NameOpcode::kRegistration &&
                   p.questions[0].name == WireName(name);
        });
        ASSERT_TRUE(p);
        ids.insert(p->header.trn_id);
    }
    EXPECT_EQ(ids.size(), 4u);
}

TEST_F(NameServiceTest, DefenceQueriesAndStatusAsAPeerSeesThem) {
    ASSERT_EQ(a.AddName("DEFENDED"), NRC_GOODRET);
    UdpPeer peer("127.0.0.202", kPort);
    ASSERT_TRUE(peer.bound());
    const std::string target = a.address().to_string();
    auto reply_to = [&](std::uint16_t id) {
        return peer.ReceiveMatching(300ms,
                                    [id](const codec::NamePacket &p) { return p.header.trn_id == id; });
    };

    // Unique and group registrations of a unique name we hold are both refused.
    const std::uint32_t peer_ip = 0x7F0000CA;
    for (bool group : {false, true}) {
        std::uint16_t id = group ? 0x2222 : 0x1111;
        peer.SendTo(codec::BuildRegistrationRequest(id, WireName("DEFENDED"), group, peer_ip), kBroadcast,
                    kPort);
        auto reply = reply_to(id);
        ASSERT_TRUE(reply) << group;
        EXPECT_EQ(reply->header.flags, 0xAD86);
        auto rdata = codec::DecodeNbRdata(reply->answers[0].rdata);
        ASSERT_TRUE(rdata);
        EXPECT_EQ((*rdata)[0].ipv4, peer_ip) << "the refusal echoes the requester's own address";
        EXPECT_EQ(reply->answers[0].ttl, 0u);
    }
    peer.SendTo(codec::BuildRegistrationRequest(0x3333, WireName("FREE"), false, peer_ip), kBroadcast, kPort);
    EXPECT_FALSE(reply_to(0x3333));

    // Queries: positive for the held name, silence for a broadcast miss,
    // NAM_ERR for a unicast miss.
    peer.SendTo(codec::BuildQueryRequest(0x4444, WireName("DEFENDED"), true), kBroadcast, kPort);
    auto positive = reply_to(0x4444);
    ASSERT_TRUE(positive);
    EXPECT_EQ(positive->header.Rcode(), codec::NameRcode::kOk);
    EXPECT_EQ((*codec::DecodeNbRdata(positive->answers[0].rdata))[0].ipv4, a.address().to_uint());
    peer.SendTo(codec::BuildQueryRequest(0x5555, WireName("MISSING"), true), kBroadcast, kPort);
    EXPECT_FALSE(reply_to(0x5555));
    peer.SendTo(codec::BuildQueryRequest(0x6666, WireName("MISSING"), false), target, kPort);
    auto negative = reply_to(0x6666);
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->header.Rcode(), codec::NameRcode::kNameError);
    codec::NetbiosName star;
    star.raw[0] = '*';
    peer.SendTo(codec::BuildQueryRequest(0x6667, star, true), kBroadcast, kPort);
    EXPECT_FALSE(reply_to(0x6667)) << "a query for '*' is not answered";

    // Node status for '*' and for the held name; silence for another name.
    for (auto [id, name] : {std::pair{0x7777, star}, std::pair{0x7778, WireName("DEFENDED")}}) {
        peer.SendTo(codec::BuildNodeStatusRequest(static_cast<std::uint16_t>(id), name, false), target,
                    kPort);
        auto status = reply_to(static_cast<std::uint16_t>(id));
        ASSERT_TRUE(status);
        EXPECT_EQ(status->header.flags, 0x8400);
        EXPECT_EQ(status->answers[0].name, name);
        auto rdata = codec::DecodeNodeStatusRdata(status->answers[0].rdata);
        ASSERT_TRUE(rdata);
        ASSERT_EQ(rdata->names.size(), 1u);
        EXPECT_EQ(rdata->names[0].flags, codec::kStatusActive);
        EXPECT_EQ(rdata->statistics.unit_id[5], a.address().to_uint() & 0xFF);
        EXPECT_EQ(status->answers[0].rdata.size(), 1 + 18 + 46u);
    }
    peer.SendTo(codec::BuildNodeStatusRequest(0x7779, WireName("STRANGER"), false), target, kPort);
    EXPECT_FALSE(reply_to(0x7779));
}

TEST_F(NameServiceTest, RepliesMatchedOnIdSourceAndOpcodeAndDuplicatesDropped) {
    // b asks a raw peer for its status; the peer answers wrongly first.
    UdpPeer peer("127.0.0.203", kPort);
    UdpPeer impostor("127.0.0.204", 0, false);
    ASSERT_TRUE(peer.bound());
    ASSERT_TRUE(impostor.bound());
    std::thread asker([&] {
        std::vector<UCHAR> buffer;
        EXPECT_EQ(b.Status(Padded("127.0.0.203"), buffer), NRC_GOODRET);
        auto view = ViewStatus(buffer);
        ASSERT_EQ(view.names.size(), 1u);
        EXPECT_EQ(view.names[0].name[0], 'R');
    });
    UdpPeer::Datagram raw;
    auto request = peer.ReceiveMatching(
        2s, [](const codec::NamePacket &p) { return p.questions.size() == 1 && p.questions[0].type == 0x21; },
        &raw);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.flags, 0x0000);
    auto answer = [&](std::uint16_t id, const char *name) {
        codec::NodeStatus status;
        codec::NodeStatusEntry entry;
        std::memcpy(entry.name.data(), name, 16);
        entry.flags = codec::kStatusActive;
        status.names.push_back(entry);
        return codec::BuildNodeStatusResponse(id, request->questions[0].name,
                                              codec::EncodeNodeStatusRdata(status));
    };
    const std::uint16_t id = request->header.trn_id;
    peer.SendTo(answer(static_cast<std::uint16_t>(id + 1), "WRONG ID        "), raw.from, raw.port);
    impostor.SendTo(answer(id, "WRONG SOURCE    "), raw.from, raw.port);
    auto wrong_opcode = answer(id, "WRONG OPCODE    ");
    wrong_opcode[2] |= 0x28;  // opcode 5
    peer.SendTo(wrong_opcode, raw.from, raw.port);
    auto request_bit = answer(id, "NO RESPONSE BIT ");
    request_bit[2] &= 0x7F;
    peer.SendTo(request_bit, raw.from, raw.port);
    peer.SendTo(answer(id, "RIGHT           "), raw.from, raw.port);
    peer.SendTo(answer(id, "DUPLICATE       "), raw.from, raw.port);
    asker.join();
}

}  // namespace
