// SPDX-License-Identifier: MIT
// P, M and H nodes against a scripted name server on the loopback adapter:
// registration through WACKs, refusals and silence, refresh at half the
// granted TTL, release, a secondary server, a server gone and back,
// resolution order and the cache, and what the server (or a host posing as
// it) may send us.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "datagram_packet.h"
#include "loopback_node.h"
#include "name_encoding.h"
#include "name_status.h"
#include "udp_peer.h"

using namespace nbt::testing;
using namespace std::chrono_literals;
namespace codec = nbt::codec;
using nbt::NameServer;
using nbt::NodeType;
using Clock = std::chrono::steady_clock;

namespace {

const std::uint16_t kPort = ProcessPorts().name;
const std::string kBroadcast = "127.255.255.255";

codec::NetbiosName WireName(const std::string &text) {
    return codec::MakeName(Padded(text));
}

std::uint32_t Ip(const std::string &text) {
    in_addr a{};
    ::inet_pton(AF_INET, text.c_str(), &a);
    return ntohl(a.s_addr);
}

// A name server that answers only what the test tells it to.
class ScriptedServer {
public:
    explicit ScriptedServer(const std::string &ip) : ip_(ip), socket_(ip, 0, false) {}
    NameServer address() const { return {Ip(ip_), socket_.port()}; }

    struct Request {
        codec::NamePacket packet;
        UdpPeer::Datagram raw;
        std::uint16_t id() const { return packet.header.trn_id; }
    };
    // The next request with this opcode (other datagrams are skipped); a
    // zero wait takes only what has arrived.
    std::optional<Request> Next(codec::NameOpcode opcode, std::chrono::milliseconds wait) {
        Request request;
        auto packet = socket_.ReceiveMatching(
            std::max(wait, 5ms),
            [opcode](const codec::NamePacket &p) {
                return !p.header.IsResponse() && p.header.Opcode() == opcode;
            },
            &request.raw);
        if (!packet) return std::nullopt;
        request.packet = *packet;
        return request;
    }
    void Reply(const Request &to, const std::vector<std::uint8_t> &bytes) {
        socket_.SendTo(bytes, to.raw.from, to.raw.port);
    }
    void Grant(const Request &to, std::uint32_t ttl, codec::NameRcode rcode = codec::NameRcode::kOk) {
        const auto rdata = codec::DecodeNbRdata(to.packet.additional.at(0).rdata);
        Reply(to, codec::BuildRegistrationResponse(to.id(), to.packet.questions[0].name, rdata->at(0), ttl,
                                                   rcode));
    }
    void Answer(const Request &to, std::uint32_t ipv4, std::uint32_t ttl) {
        auto bytes = codec::BuildPositiveQueryResponse(to.id(), to.packet.header.flags,
                                                       to.packet.questions[0].name, {0, ipv4});
        bytes[bytes.size() - 12] = static_cast<std::uint8_t>(ttl >> 24);  // TTL, after type and class
        bytes[bytes.size() - 11] = static_cast<std::uint8_t>(ttl >> 16);
        bytes[bytes.size() - 10] = static_cast<std::uint8_t>(ttl >> 8);
        bytes[bytes.size() - 9] = static_cast<std::uint8_t>(ttl);
        Reply(to, bytes);
    }
    void NoSuchName(const Request &to) {
        Reply(to, codec::BuildNegativeQueryResponse(to.id(), to.packet.header.flags,
                                                    to.packet.questions[0].name));
    }
    UdpPeer &socket() { return socket_; }

private:
    std::string ip_;
    UdpPeer socket_;
};

nbt::Settings ServerSettings(NodeType type, NameServer primary, NameServer secondary = {}) {
    nbt::Settings settings = NameServiceSettings();
    settings.node_type = type;
    settings.name_server = primary;
    settings.name_server_secondary = secondary;
    settings.ns_retry_timeout = 100ms;
    settings.ns_retry_count = 2;
    settings.ns_recheck_interval = 400ms;
    settings.negative_cache_ttl = 1s;
    return settings;
}

std::unique_ptr<AsyncNcb> StartAdd(LoopbackNode &node, const std::string &name) {
    auto ncb = std::make_unique<AsyncNcb>(NCBADDNAME);
    SetName(ncb->ncb.ncb_name, name);
    EXPECT_EQ(ncb->Submit(node.provider), NRC_GOODRET);
    return ncb;
}

struct PendingStatus {
    AsyncNcb ncb{NCBASTAT};
    std::vector<UCHAR> buffer = std::vector<UCHAR>(1000);
};
std::unique_ptr<PendingStatus> StartStatus(LoopbackNode &node, const std::string &name) {
    auto status = std::make_unique<PendingStatus>();
    SetName(status->ncb.ncb.ncb_callname, name);
    status->ncb.ncb.ncb_buffer = status->buffer.data();
    status->ncb.ncb.ncb_length = static_cast<WORD>(status->buffer.size());
    EXPECT_EQ(status->ncb.Submit(node.provider), NRC_GOODRET);
    return status;
}

std::uint16_t NbFlagsOf(const ScriptedServer::Request &request) {
    return codec::DecodeNbRdata(request.packet.additional.at(0).rdata)->at(0).flags;
}

// A refusal with no record, so naming no name at all.
std::vector<std::uint8_t> BareRefusal(std::uint16_t id) {
    std::vector<std::uint8_t> bytes(12);  // the header alone, every count 0
    bytes[0] = static_cast<std::uint8_t>(id >> 8);
    bytes[1] = static_cast<std::uint8_t>(id);
    bytes[2] = 0xAD;  // R, registration, AA, RD
    bytes[3] = 0x86;  // RA, ACT_ERR
    return bytes;
}

bool FromNode(const UdpPeer::Datagram &datagram, const LoopbackNode &node) {
    return datagram.from == node.address().to_string();
}

}  // namespace

TEST(NameServerTest, HNodeRegistersThroughAWackRefreshesAtHalfTheGrantAndReleases) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode h{ServerSettings(NodeType::kH, server.address())};
    UdpPeer lan(kBroadcast, kPort);
    lan.Drain();

    auto add = StartAdd(h, "HYBRID");
    auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->packet.header.flags, 0x2900) << "unicast, with RD";
    EXPECT_EQ(request->packet.additional[0].ttl, 259200u);
    EXPECT_EQ(NbFlagsOf(*request), 0x6000) << "ONT says H";
    EXPECT_FALSE(lan.ReceiveMatching(5ms, [](const codec::NamePacket &) { return true; }))
        << "the server is asked before the segment";

    server.Reply(*request, codec::BuildWack(request->id(), request->packet.questions[0].name, 0x2900, 2));
    EXPECT_FALSE(server.Next(codec::NameOpcode::kRegistration, 400ms)) << "a WACK stops the resending";
    EXPECT_EQ(add->Wait(0ms), NRC_PENDING) << "and the add waits on past the retries";
    const auto granted = Clock::now();
    server.Grant(*request, 2);
    ASSERT_EQ(add->Wait(3s), NRC_GOODRET);
    EXPECT_TRUE(lan.ReceiveMatching(500ms, [](const codec::NamePacket &p) {
        return p.header.flags == 0x2910 && p.questions[0].name == WireName("HYBRID");
    })) << "an H-node announces a granted name on its segment";

    // Refreshed at half the granted 2 s, not half the 3 days asked; a server
    // answers a refresh as a registration, and that answer counts.
    auto refresh = server.Next(codec::NameOpcode::kRefresh, 3s);
    ASSERT_TRUE(refresh);
    EXPECT_GE(Clock::now() - granted, 1s);
    EXPECT_LT(Clock::now() - granted, 2500ms);
    EXPECT_EQ(refresh->packet.header.flags, 0x4000);
    const auto refreshed = Clock::now();
    server.Grant(*refresh, 2);
    auto again = server.Next(codec::NameOpcode::kRefresh, 3s);
    ASSERT_TRUE(again);
    EXPECT_NE(again->id(), refresh->id()) << "the first refresh was answered, not resent";
    EXPECT_GE(Clock::now() - refreshed, 1s);

    ASSERT_EQ(h.DeleteName("HYBRID"), NRC_GOODRET);
    auto release = server.Next(codec::NameOpcode::kRelease, 3s);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->packet.header.flags, 0x3000);
    EXPECT_EQ(release->packet.questions[0].name, WireName("HYBRID"));
}

TEST(NameServerTest, PNodeIsRefusedTimesOutAndNeverBroadcasts) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode p{ServerSettings(NodeType::kP, server.address())};
    UdpPeer lan(kBroadcast, kPort);
    lan.Drain();

    // A WACK, then the refusal: the owner defended the name.
    auto taken = StartAdd(p, "TAKEN");
    auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    EXPECT_EQ(NbFlagsOf(*request), 0x2000) << "ONT says P";
    server.Reply(*request, codec::BuildWack(request->id(), request->packet.questions[0].name, 0x2900, 5));
    std::this_thread::sleep_for(100ms);
    server.Grant(*request, 0, codec::NameRcode::kActive);
    EXPECT_EQ(taken->Wait(3s), NRC_INUSE);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(p.Status("*", buffer), NRC_GOODRET);
    EXPECT_EQ(FindName(ViewStatus(buffer), Padded("TAKEN")), nullptr);

    // A WACK whose TTL runs out with nothing after it, and plain silence:
    // a P-node has nobody else to ask.
    auto waited = StartAdd(p, "WAITED");
    request = server.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    server.Reply(*request, codec::BuildWack(request->id(), request->packet.questions[0].name, 0x2900, 1));
    EXPECT_EQ(waited->Wait(600ms), NRC_PENDING);
    EXPECT_EQ(waited->Wait(3s), NRC_CMDTMO);
    server.socket().Drain();
    EXPECT_EQ(p.AddName("ALONE"), NRC_CMDTMO);
    auto first = server.Next(codec::NameOpcode::kRegistration, 0ms);
    auto second = server.Next(codec::NameOpcode::kRegistration, 0ms);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->id(), second->id()) << "retries keep the transaction id";

    // Resolution asks the server alone; its "no such name" is final.
    auto status = StartStatus(p, "SOMEONE");
    auto query = server.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->packet.header.flags, 0x0100);
    server.NoSuchName(*query);
    EXPECT_EQ(status->ncb.Wait(3s), NRC_CMDTMO);

    while (auto datagram = lan.Receive(0ms)) EXPECT_FALSE(FromNode(*datagram, p)) << "a P-node broadcast";
}

TEST(NameServerTest, OnlyTheServersWackForThePendingNameHoldsAnAddAndNeverPastTheLimit) {
    ScriptedServer server("127.0.0.250");
    nbt::Settings settings = ServerSettings(NodeType::kH, server.address());
    settings.ns_wack_limit = 1s;
    std::vector<std::unique_ptr<AsyncNcb>> adds;  // outlive the node, should one stay pending
    LoopbackNode h{settings};
    UdpPeer other_port("127.0.0.250", 0, false);

    // Not a WACK for this add: the request goes out again, and the silent
    // server leaves the segment as usual.
    const struct {
        const char *name;
        codec::NetbiosName wack_name;
        UdpPeer *from;
    } kStrays[] = {
        {"WRONGNAME", WireName("OTHERNAME"), &server.socket()},
        {"WRONGSCOPE", codec::MakeName(Padded("WRONGSCOPE"), "ELSEWHERE"), &server.socket()},
        {"WRONGPORT", WireName("WRONGPORT"), &other_port},
    };
    for (const auto &stray : kStrays) {
        SCOPED_TRACE(stray.name);
        auto &add = adds.emplace_back(StartAdd(h, stray.name));
        auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
        ASSERT_TRUE(request);
        stray.from->SendTo(codec::BuildWack(request->id(), stray.wack_name, 0x2900, 60), request->raw.from,
                           request->raw.port);
        EXPECT_TRUE(server.Next(codec::NameOpcode::kRegistration, 1s)) << "the WACK stopped the resending";
        EXPECT_EQ(add->Wait(3s), NRC_GOODRET);
    }

    // WACKs from the server itself, each with the longest TTL there is, keep
    // coming: past the limit the server counts as silent all the same.
    auto &held = adds.emplace_back(StartAdd(h, "HELD"));
    auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    const auto wack = codec::BuildWack(request->id(), request->packet.questions[0].name, 0x2900, 0xFFFFFFFF);
    UCHAR rc = NRC_PENDING;
    for (int i = 0; i < 100 && rc == NRC_PENDING; ++i) {
        server.Reply(*request, wack);
        rc = held->Wait(100ms);
    }
    EXPECT_EQ(rc, NRC_GOODRET);
}

TEST(NameServerTest, SilentPrimaryHandsOverToTheSecondary) {
    ScriptedServer primary("127.0.0.250"), secondary("127.0.0.251");
    LoopbackNode h{ServerSettings(NodeType::kH, primary.address(), secondary.address())};
    LoopbackNode b{NameServiceSettings()};
    ASSERT_EQ(b.AddName("ELSEWHERE"), NRC_GOODRET);

    auto add = StartAdd(h, "SPARE");
    auto request = secondary.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    EXPECT_TRUE(primary.Next(codec::NameOpcode::kRegistration, 0ms)) << "the primary was asked first";
    secondary.Grant(*request, 2);
    ASSERT_EQ(add->Wait(3s), NRC_GOODRET);

    // Queries take the same way; the answer points at the B-node.
    auto status = StartStatus(h, "ELSEWHERE");
    auto query = secondary.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    secondary.Answer(*query, b.address().to_uint(), 60);
    EXPECT_EQ(status->ncb.Wait(3s), NRC_GOODRET);

    // The refresh goes to the server that granted the name.
    primary.socket().Drain();
    EXPECT_TRUE(secondary.Next(codec::NameOpcode::kRefresh, 3s));
    EXPECT_FALSE(primary.Next(codec::NameOpcode::kRefresh, 0ms));
}

TEST(NameServerTest, HNodeWorksByBroadcastWhileTheServerIsGoneAndRegistersWhenItIsBack) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode h{ServerSettings(NodeType::kH, server.address())};
    LoopbackNode b{NameServiceSettings()};
    ASSERT_EQ(b.AddName("BNODE"), NRC_GOODRET);

    ASSERT_EQ(h.AddName("SURVIVOR"), NRC_GOODRET) << "a silent server leaves the broadcast";
    std::vector<UCHAR> buffer;
    EXPECT_EQ(b.Status("SURVIVOR", buffer), NRC_GOODRET) << "and the segment finds the name";
    EXPECT_EQ(h.Status("BNODE", buffer), NRC_GOODRET) << "server first, then broadcast";
    EXPECT_EQ(b.AddName("SURVIVOR"), NRC_INUSE) << "an H-node defends what it holds by broadcast";

    // Back: the name is offered again, and then refreshed as usual.
    server.socket().Drain();
    auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->packet.questions[0].name, WireName("SURVIVOR"));
    server.Grant(*request, 2);
    EXPECT_TRUE(server.Next(codec::NameOpcode::kRefresh, 3s));
}

TEST(NameServerTest, MNodeAsksTheSegmentFirstAndCachesWhatTheServerSays) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode m{ServerSettings(NodeType::kM, server.address())};
    LoopbackNode b{NameServiceSettings()};
    ASSERT_EQ(b.AddName("NEIGHBOUR"), NRC_GOODRET);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(m.Status("NEIGHBOUR", buffer), NRC_GOODRET);
    EXPECT_FALSE(server.Next(codec::NameOpcode::kQuery, 0ms)) << "the segment answered first";

    // Past the segment: the server's answer is kept for its TTL.
    auto status = StartStatus(m, "FARAWAY");
    auto query = server.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    server.Answer(*query, b.address().to_uint(), 1);
    ASSERT_EQ(status->ncb.Wait(3s), NRC_GOODRET);
    EXPECT_EQ(m.Status("FARAWAY", buffer), NRC_GOODRET);
    EXPECT_FALSE(server.Next(codec::NameOpcode::kQuery, 0ms)) << "answered from the cache";
    std::this_thread::sleep_for(1100ms);
    status = StartStatus(m, "FARAWAY");
    EXPECT_TRUE(server.Next(codec::NameOpcode::kQuery, 3s)) << "asked again once the TTL ran out";
    EXPECT_EQ(status->ncb.Wait(3s), NRC_CMDTMO);

    // Nobody knows it: kept briefly as such.
    server.socket().Drain();
    status = StartStatus(m, "NOWHERE");
    query = server.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    server.NoSuchName(*query);
    EXPECT_EQ(status->ncb.Wait(3s), NRC_CMDTMO);
    EXPECT_EQ(m.Status("NOWHERE", buffer), NRC_CMDTMO);
    EXPECT_FALSE(server.Next(codec::NameOpcode::kQuery, 0ms)) << "a negative entry answered";
    std::this_thread::sleep_for(1s);
    status = StartStatus(m, "NOWHERE");
    EXPECT_TRUE(server.Next(codec::NameOpcode::kQuery, 3s)) << "and expired soon";
    status->ncb.Wait(3s);
}

TEST(NameServerTest, ACallThatFindsNobodyForgetsTheCachedAddress) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode m{ServerSettings(NodeType::kM, server.address())};
    ASSERT_EQ(m.AddName("CALLER"), NRC_GOODRET);  // the server stays silent: ours by broadcast
    server.socket().Drain();

    UCHAR rc = 0;
    std::thread caller([&] { rc = m.Call("CALLER", "MOVED"); });
    auto query = server.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    server.Answer(*query, Ip("127.0.0.249"), 600);  // nobody listens there
    caller.join();
    EXPECT_EQ(rc, NRC_NOCALL);

    caller = std::thread([&] { rc = m.Call("CALLER", "MOVED"); });
    query = server.Next(codec::NameOpcode::kQuery, 3s);
    EXPECT_TRUE(query) << "the stale address was not kept for its 600 s";
    if (query) server.NoSuchName(*query);
    caller.join();
    EXPECT_EQ(rc, NRC_NOCALL);
}

TEST(NameServerTest, ChallengeIsAnsweredAndOnlyTheServerTakesTheNameWhenAskedAgain) {
    ScriptedServer server("127.0.0.250");
    LoopbackNode h{ServerSettings(NodeType::kH, server.address())};
    for (const char *name : {"CHALLENGED", "KEPT"}) {
        auto add = StartAdd(h, name);
        auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
        ASSERT_TRUE(request);
        server.Grant(*request, 60);
        ASSERT_EQ(add->Wait(3s), NRC_GOODRET);
    }
    const std::uint32_t own = h.address().to_uint();
    const std::string node = h.address().to_string();

    // The server checks we still hold it, as it does before giving it to another.
    server.socket().SendTo(codec::BuildQueryRequest(0x1234, WireName("CHALLENGED"), false), node, kPort);
    auto answer = server.socket().ReceiveMatching(
        1s, [](const codec::NamePacket &p) { return p.header.IsResponse() && p.header.trn_id == 0x1234; });
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->header.Rcode(), codec::NameRcode::kOk);
    EXPECT_EQ(codec::DecodeNbRdata(answer->answers[0].rdata)->at(0).ipv4, own);

    // A release demand for our names from a stranger, from the server's
    // address but another port, or broadcast: nothing; nor a refusal that
    // answers nothing of ours.
    auto demand = [&](UdpPeer &from, const char *name, std::uint16_t flags) {
        from.SendTo(codec::BuildClaimRequest(0x2222, flags, WireName(name), {0x6000, own}, 0), node, kPort);
    };
    UdpPeer stranger("127.0.0.252", 0, false), other_port("127.0.0.250", 0, false);
    server.socket().Drain();
    demand(stranger, "KEPT", codec::kServerReleaseFlags);
    demand(other_port, "KEPT", codec::kServerReleaseFlags);
    demand(server.socket(), "KEPT", codec::kReleaseRequestFlags);
    server.socket().SendTo(codec::BuildRegistrationResponse(0x4444, WireName("KEPT"), {0x6000, own}, 0,
                                                            codec::NameRcode::kActive),
                           node, kPort);
    EXPECT_FALSE(server.Next(codec::NameOpcode::kRefresh, 300ms));

    // From the server the demand is put to the server: a refresh it grants
    // keeps the name (refusals naming nothing or another name do not count),
    // refusals of the refresh and of the registration after it take it.
    demand(server.socket(), "KEPT", codec::kServerReleaseFlags);
    auto check = server.Next(codec::NameOpcode::kRefresh, 1s);
    ASSERT_TRUE(check) << "the server was not asked";
    EXPECT_EQ(check->packet.questions[0].name, WireName("KEPT"));
    server.Reply(*check, BareRefusal(check->id()));
    server.Reply(*check, codec::BuildRegistrationResponse(check->id(), WireName("CHALLENGED"), {0x6000, own},
                                                          0, codec::NameRcode::kActive));
    server.Grant(*check, 60);
    EXPECT_FALSE(server.Next(codec::NameOpcode::kRegistration, 300ms)) << "a refusal counted";
    demand(server.socket(), "CHALLENGED", codec::kServerReleaseFlags);
    check = server.Next(codec::NameOpcode::kRefresh, 1s);
    ASSERT_TRUE(check);
    server.Grant(*check, 0, codec::NameRcode::kActive);
    auto again = server.Next(codec::NameOpcode::kRegistration, 1s);
    ASSERT_TRUE(again);
    server.Grant(*again, 0, codec::NameRcode::kActive);
    std::this_thread::sleep_for(200ms);
    std::vector<UCHAR> buffer;
    ASSERT_EQ(h.Status("*", buffer), NRC_GOODRET);
    auto view = ViewStatus(buffer);
    ASSERT_NE(FindName(view, Padded("CHALLENGED")), nullptr);
    ASSERT_NE(FindName(view, Padded("KEPT")), nullptr);
    EXPECT_EQ(FindName(view, Padded("CHALLENGED"))->name_flags & 0x07, DUPLICATE);
    EXPECT_EQ(FindName(view, Padded("KEPT"))->name_flags & 0x07, REGISTERED);
}

// ---- Windows as a peer ------------------------------------------------------
// No Windows host is at hand: these packets are built byte for byte from its
// published layouts (doc/windows-peer.md lists which row each one shows).
// The transaction ids are fixed; where a packet answers a request of the
// node, its first two bytes become that request's id.

namespace {

std::vector<std::uint8_t> Hex(const std::string &text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size();) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A unique name registered with the server by a host with two interfaces
// (opcode 0xF, RD; ONT 11), claiming KORVEL<00> for 127.0.0.201.
const char *kMultihomedRegistration =
    "1A2B 7900 0001 0000 0000 0001 20454C4550464346474546454D434143414341434143414341434143414341414100"
    "0020 0001 C00C 0020 0001 0003F480 0006 6000 7F0000C9";
// A mailslot-style datagram from an H-node: DIRECT_UNIQUE, F set, SNT 11,
// WINPEER<00> to KORVEL<00>, "hello, Korvel".
const char *kHNodeDatagram =
    "10 0E 0BEE 7F0000C9 008A 0051 0000 204648454A454F464145464546464343414341434143414341434143414341414100"
    "20454C4550464346474546454D434143414341434143414341434143414341414100 68656C6C6F2C204B6F7276656C";
// The server's answer for a group other than <1C>: LAB<00> at 255.255.255.255.
const char *kGroupAnswerAllOnes =
    "3C4D 8580 0000 0001 0000 0000 20454D45424543434143414341434143414341434143414341434143414341414100"
    "0020 0001 0003F480 0006 E000 FFFFFFFF";
// The server's answer for LAB<1C>: 25 members, 127.0.1.1 to 127.0.1.25.
const char *kDomainControllers =
    "5E6F 8580 0000 0001 0000 0000 20454D45424543434143414341434143414341434143414341434143414341424D00"
    "0020 0001 0003F480 0096 E000 7F000101 E000 7F000102 E000 7F000103 E000 7F000104 E000 7F000105"
    "E000 7F000106 E000 7F000107 E000 7F000108 E000 7F000109 E000 7F00010A E000 7F00010B E000 7F00010C"
    "E000 7F00010D E000 7F00010E E000 7F00010F E000 7F000110 E000 7F000111 E000 7F000112 E000 7F000113"
    "E000 7F000114 E000 7F000115 E000 7F000116 E000 7F000117 E000 7F000118 E000 7F000119";
// A broadcast query for the lowercase korvel<20>.
const char *kLowercaseQuery =
    "2C3D 0110 0001 0000 0000 0000 20474C4750484348474746474D434143414341434143414341434143414341434100 0020 "
    "0001";
// Node status of *SMBSERVER<20>, how a host asks an address for its names.
const char *kStarNameStatus =
    "4D5E 0000 0001 0000 0000 0000 20434B4644454E454346444546464346474546464343414341434143414341434100 0021 "
    "0001";
// An H-node's node status: WINPEER<00> (ONT 11, ACT), LAB<00> (group, ONT
// 11, ACT), every statistic zero.
const char *kHNodeStatus =
    "7A8B 8400 0000 0001 0000 0000 20434B41414141414141414141414141414141414141414141414141414141414100"
    "0021 0001 00000000 0053 02 57494E50454552202020202020202000 6400 4C414220202020202020202020202000 E400"
    "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000";

std::vector<std::uint8_t> WithId(std::vector<std::uint8_t> bytes, std::uint16_t id) {
    bytes[0] = static_cast<std::uint8_t>(id >> 8);
    bytes[1] = static_cast<std::uint8_t>(id);
    return bytes;
}

// Adds a name through the scripted server, which grants it for good.
UCHAR AddThroughServer(LoopbackNode &node, ScriptedServer &server, const std::array<UCHAR, 16> &name,
                       UCHAR *num = nullptr) {
    AsyncNcb add(NCBADDNAME);
    std::memcpy(add.ncb.ncb_name, name.data(), 16);
    EXPECT_EQ(add.Submit(node.provider), NRC_GOODRET);
    auto request = server.Next(codec::NameOpcode::kRegistration, 3s);
    if (!request) return NRC_PENDING;
    server.Grant(*request, 0);
    const UCHAR rc = add.Wait(3s);
    if (num) *num = add.ncb.ncb_num;
    return rc;
}

bool AnswersTo(const codec::NamePacket &p, std::uint16_t id) {
    return p.header.IsResponse() && p.header.trn_id == id;
}

}  // namespace

TEST(WindowsPeer, EverythingItSendsIsAccepted) {
    // The decoders take every packet as Windows lays it out.
    const auto multihomed = codec::DecodeNamePacket(Hex(kMultihomedRegistration));
    ASSERT_TRUE(multihomed);
    EXPECT_EQ(multihomed->header.Opcode(), codec::NameOpcode::kMultiHomedRegistration);
    EXPECT_EQ(codec::DecodeNbRdata(multihomed->additional.at(0).rdata)->at(0).flags, 0x6000);
    const auto datagram_bytes = Hex(kHNodeDatagram);
    const auto datagram = codec::DecodeDatagram(datagram_bytes);
    ASSERT_EQ(datagram.fault, codec::DatagramFault::kOk);
    EXPECT_EQ(datagram.packet.header.flags & codec::kDatagramSntMask, 0x0C);
    const auto all_ones = codec::DecodeNamePacket(Hex(kGroupAnswerAllOnes));
    ASSERT_TRUE(all_ones);
    EXPECT_EQ(codec::DecodeNbRdata(all_ones->answers.at(0).rdata)->at(0).ipv4, 0xFFFFFFFFu);
    const auto controllers = codec::DecodeNamePacket(Hex(kDomainControllers));
    ASSERT_TRUE(controllers);
    EXPECT_EQ(codec::DecodeNbRdata(controllers->answers.at(0).rdata)->size(), 25u);
    const auto lowercase = codec::DecodeNamePacket(Hex(kLowercaseQuery));
    ASSERT_TRUE(lowercase);
    EXPECT_EQ(lowercase->questions.at(0).name, WireName("korvel"));
    const auto star = codec::DecodeNamePacket(Hex(kStarNameStatus));
    ASSERT_TRUE(star);
    EXPECT_EQ(star->questions.at(0).name, WireName("*SMBSERVER"));
    const auto status_packet = codec::DecodeNamePacket(Hex(kHNodeStatus));
    ASSERT_TRUE(status_packet);
    const auto status = codec::DecodeNodeStatusRdata(status_packet->answers.at(0).rdata);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->names.size(), 2u);

    // And a live H-node takes them from a host at 127.0.0.201.
    ScriptedServer server("127.0.0.250");
    LoopbackNode node{ServerSettings(NodeType::kH, server.address())};
    UdpPeer windows("127.0.0.201", kPort);
    const std::string own = node.address().to_string();
    UCHAR korvel_num = 0;
    ASSERT_EQ(AddThroughServer(node, server, Padded("KORVEL", 0x00), &korvel_num), NRC_GOODRET);
    ASSERT_EQ(AddThroughServer(node, server, Padded("korvel")), NRC_GOODRET);
    const std::array<UCHAR, 16> odd = {0x01, 0xFF, 0x7F, 'a',  0x80, ' ',  0x00, '.',
                                       0xC0, 0x0C, '*',  0x20, 0x20, 0x20, 0x20, 0x1B};
    ASSERT_EQ(AddThroughServer(node, server, odd), NRC_GOODRET);
    windows.Drain();

    // Opcode 0xF with ONT 11: a claim on a name we hold, defended with its own record.
    windows.SendTo(Hex(kMultihomedRegistration), own, kPort);
    auto defence =
        windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x1A2B); });
    ASSERT_TRUE(defence) << "0xF";
    EXPECT_EQ(defence->header.Rcode(), codec::NameRcode::kActive);
    EXPECT_EQ(defence->answers.at(0).rdata, multihomed->additional.at(0).rdata);

    // Refreshes with opcode 8 or 9 are the server's business: no answer,
    // and the name stays ours.
    for (const std::uint16_t flags : {0x4000, 0x4800}) {
        windows.SendTo(codec::BuildClaimRequest(0x0808, flags, WireName("KORVEL"), {0x6000, 0x7F0000C9}, 300),
                       own, kPort);
    }
    EXPECT_FALSE(
        windows.ReceiveMatching(150ms, [](const codec::NamePacket &p) { return AnswersTo(p, 0x0808); }));

    // Lowercase, asked twice under one id (a retry 1.5 s on): two answers.
    // Arbitrary bytes answer too; `*SMBSERVER` draws a node status.
    for (int i = 0; i < 2; ++i) {
        windows.SendTo(Hex(kLowercaseQuery), own, kPort);
        auto answer =
            windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x2C3D); });
        ASSERT_TRUE(answer) << "lowercase, try " << i;
        EXPECT_EQ(answer->answers.at(0).name, WireName("korvel"));
    }
    windows.SendTo(codec::BuildQueryRequest(0x0D0D, codec::MakeName(odd), false), own, kPort);
    auto odd_answer =
        windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x0D0D); });
    ASSERT_TRUE(odd_answer);
    EXPECT_EQ(odd_answer->header.Rcode(), codec::NameRcode::kOk) << "arbitrary bytes";
    windows.SendTo(Hex(kStarNameStatus), own, kPort);
    auto star_status =
        windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x4D5E); });
    ASSERT_TRUE(star_status) << "*SMBSERVER";
    EXPECT_EQ(star_status->answers.at(0).type, codec::kTypeNbstat);

    // SNT 11 in a datagram's header: delivered.
    {
        std::vector<UCHAR> buffer(64);
        AsyncNcb receive(NCBDGRECV);
        receive.ncb.ncb_num = korvel_num;
        receive.ncb.ncb_buffer = buffer.data();
        receive.ncb.ncb_length = static_cast<WORD>(buffer.size());
        ASSERT_EQ(receive.Submit(node.provider), NRC_GOODRET);
        UdpPeer sender("127.0.0.201", 0, false);
        sender.SendTo(datagram_bytes, own, ProcessPorts().datagram);
        ASSERT_EQ(receive.Wait(2s), NRC_GOODRET) << "SNT 11";
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + receive.ncb.ncb_length), "hello, Korvel");
        EXPECT_EQ(0, std::memcmp(receive.ncb.ncb_callname, Padded("WINPEER", 0x00).data(), 16));
    }

    // ONT 11 in node status name flags, every statistic zero.
    {
        auto status_ncb = StartStatus(node, "127.0.0.201");
        auto request = windows.ReceiveMatching(1s, [](const codec::NamePacket &p) {
            return !p.header.IsResponse() && p.questions.at(0).type == codec::kTypeNbstat;
        });
        ASSERT_TRUE(request);
        windows.SendTo(WithId(Hex(kHNodeStatus), request->header.trn_id), own, kPort);
        ASSERT_EQ(status_ncb->ncb.Wait(3s), NRC_GOODRET) << "zero statistics";
        const auto view = ViewStatus(status_ncb->buffer);
        ASSERT_EQ(view.names.size(), 2u);
        EXPECT_EQ(view.names[0].name_flags, REGISTERED) << "ONT 11";
        EXPECT_EQ(view.names[1].name_flags, GROUP_NAME | REGISTERED);
    }

    // Groups from the server: 255.255.255.255 for LAB<00>, 25 members for
    // LAB<1C>. Both are groups, so a datagram to either is a broadcast.
    UdpPeer segment(kBroadcast, ProcessPorts().datagram);
    for (const auto &[name, suffix, answer] :
         {std::tuple{"LAB", 0x00, kGroupAnswerAllOnes}, std::tuple{"LAB", 0x1C, kDomainControllers}}) {
        SCOPED_TRACE(suffix);
        segment.Drain();
        NCB send = MakeNcb(NCBDGSEND | ASYNCH);
        NbtEvent done;
        send.ncb_event = &done;
        send.ncb_num = korvel_num;
        std::memcpy(send.ncb_callname, Padded(name, static_cast<UCHAR>(suffix)).data(), 16);
        char data[] = "to the group";
        send.ncb_buffer = reinterpret_cast<UCHAR *>(data);
        send.ncb_length = sizeof data - 1;
        ASSERT_EQ(node.provider.Netbios(&send), NRC_GOODRET);
        auto query = server.Next(codec::NameOpcode::kQuery, 3s);
        ASSERT_TRUE(query);
        server.Reply(*query, WithId(Hex(answer), query->id()));
        ASSERT_TRUE(done.WaitFor(3s));
        bool broadcast = false;
        while (auto got = segment.Receive(500ms)) {
            const auto packet = codec::DecodeDatagram(got->bytes);
            if (packet.fault == codec::DatagramFault::kOk &&
                packet.packet.header.type == codec::DatagramType::kDirectGroup) {
                broadcast = true;
                break;
            }
        }
        EXPECT_TRUE(broadcast);
    }

    // Several addresses for one unique name: the call tries them in order.
    std::unique_ptr<AsyncNcb> listen;  // outlives the node it is pending in
    LoopbackNode listener;
    ASSERT_EQ(listener.AddName("WINMULTI"), NRC_GOODRET);
    listen = listener.Listen("WINMULTI", "*");
    AsyncNcb call(NCBCALL);
    SetName(call.ncb.ncb_name, "KORVEL", 0x00);
    SetName(call.ncb.ncb_callname, "WINMULTI");
    ASSERT_EQ(call.Submit(node.provider), NRC_GOODRET);
    auto query = server.Next(codec::NameOpcode::kQuery, 3s);
    ASSERT_TRUE(query);
    auto answer =
        codec::BuildPositiveQueryResponse(query->id(), query->packet.header.flags,
                                          query->packet.questions[0].name, {0x6000, Ip("127.0.0.202")});
    const std::uint32_t second = listener.address().to_uint();
    const std::uint8_t entry[] = {0x60,
                                  0x00,
                                  static_cast<std::uint8_t>(second >> 24),
                                  static_cast<std::uint8_t>(second >> 16),
                                  static_cast<std::uint8_t>(second >> 8),
                                  static_cast<std::uint8_t>(second)};
    answer.insert(answer.end(), std::begin(entry), std::end(entry));
    answer[answer.size() - 13] = 12;  // RDLENGTH: two entries
    server.Reply(*query, answer);
    EXPECT_EQ(call.Wait(5s), NRC_GOODRET) << "nothing listens at 127.0.0.202; the second address answers";
    EXPECT_EQ(listen->Wait(1s), NRC_GOODRET);
    if (call.ncb.ncb_retcode == NRC_GOODRET) {
        EXPECT_EQ(node.Hangup(call.ncb.ncb_lsn), NRC_GOODRET);
    }
}

TEST(WindowsPeer, ItGetsWhatItExpects) {
    // A name server and no node type: an H-node, which says so in ONT, and
    // registers a name held on one adapter with opcode 5.
    ScriptedServer server("127.0.0.250");
    nbt::Settings settings = NameServiceSettings();
    settings.name_server = server.address();
    settings.ns_retry_timeout = 100ms;
    settings.ns_retry_count = 2;
    LoopbackNode node{settings};
    UdpPeer windows("127.0.0.201", kPort);
    auto add = StartAdd(node, "KORVELH");
    auto request = server.Next(codec::NameOpcode::kRegistration, 1s);
    ASSERT_TRUE(request) << "no node type named, yet a server: the server is asked first";
    EXPECT_EQ(request->packet.header.flags, 0x2900) << "single-homed: opcode 5";
    EXPECT_EQ(NbFlagsOf(*request), 0x6000) << "ONT 11";
    server.Grant(*request, 0);
    ASSERT_EQ(add->Wait(3s), NRC_GOODRET);
    UCHAR num = 0;
    {
        std::vector<UCHAR> buffer;
        ASSERT_EQ(node.Status("*", buffer), NRC_GOODRET);
        num = FindName(ViewStatus(buffer), Padded("KORVELH"))->name_num;
    }

    // Its datagrams carry SNT 11 as well.
    UdpPeer segment(kBroadcast, ProcessPorts().datagram);
    segment.Drain();
    NCB send = MakeNcb(NCBDGSENDBC);
    send.ncb_num = num;
    char data[] = "to everyone";
    send.ncb_buffer = reinterpret_cast<UCHAR *>(data);
    send.ncb_length = sizeof data - 1;
    ASSERT_EQ(node.provider.Netbios(&send), NRC_GOODRET);
    std::optional<codec::DatagramHeader> sent;
    while (auto got = segment.Receive(1s)) {
        const auto packet = codec::DecodeDatagram(got->bytes);
        if (got->from == node.address().to_string() && packet.fault == codec::DatagramFault::kOk) {
            sent = packet.packet.header;
            break;
        }
    }
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->flags, 0x0E) << "F, SNT 11";

    // The unit id of its node status is its adapter address.
    const std::string own = node.address().to_string();
    windows.Drain();
    windows.SendTo(Hex(kStarNameStatus), own, kPort);
    auto status =
        windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x4D5E); });
    ASSERT_TRUE(status);
    const auto decoded = codec::DecodeNodeStatusRdata(status->answers.at(0).rdata);
    ASSERT_TRUE(decoded && decoded->names.size() == 1);
    EXPECT_EQ(decoded->names[0].flags, 0x6400) << "ONT 11, ACT";
    const auto unit = decoded->statistics.unit_id;
    const std::array<std::uint8_t, 6> mac = {0x02, 0x00, 0x7F,
                                             0x00, 0x00, static_cast<std::uint8_t>(node.address().to_uint())};
    EXPECT_EQ(unit, mac);

    // In conflict: no defence, silence to a broadcast query, a negative
    // answer to a unicast one.
    windows.SendTo(
        codec::BuildRegistrationRefusal(0x0C0C, WireName("KORVELH"), {0x6000, node.address().to_uint()},
                                        codec::NameRcode::kConflict),
        own, kPort);
    ASSERT_TRUE(Eventually([&] {
        std::vector<UCHAR> buffer;
        node.Status("*", buffer);
        const StatusView view = ViewStatus(buffer);
        const NAME_BUFFER *entry = FindName(view, Padded("KORVELH"));
        return entry && entry->name_flags == DUPLICATE;
    }));
    windows.Drain();
    windows.SendTo(codec::BuildRegistrationRequest(0x0E01, WireName("KORVELH"), false, Ip("127.0.0.201")),
                   own, kPort);
    windows.SendTo(codec::BuildQueryRequest(0x0E02, WireName("KORVELH"), true), own, kPort);
    windows.SendTo(codec::BuildQueryRequest(0x0E03, WireName("KORVELH"), false), own, kPort);
    auto negative =
        windows.ReceiveMatching(1s, [](const codec::NamePacket &p) { return AnswersTo(p, 0x0E03); });
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->header.Rcode(), codec::NameRcode::kNameError);
    EXPECT_FALSE(windows.ReceiveMatching(
        200ms, [](const codec::NamePacket &p) { return AnswersTo(p, 0x0E01) || AnswersTo(p, 0x0E02); }));
}
