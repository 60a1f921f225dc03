// SPDX-License-Identifier: MIT
// Hostile and broken datagrams sent at a node holding a name, grouped by the
// classes of bugs NetBIOS name parsers have had. The node must answer only
// the well-formed requests it should answer, and keep working.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include "loopback_node.h"
#include "name_encoding.h"
#include "name_status.h"
#include "udp_peer.h"

using namespace nbt::testing;
using namespace std::chrono_literals;
namespace codec = nbt::codec;

namespace {

const std::uint16_t kPort = ProcessPorts().name;

class MalformedInput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(node.provider.LanaAddress(0));
        ASSERT_EQ(node.AddName("TARGET"), NRC_GOODRET);
        ASSERT_TRUE(peer.bound());
        target = node.address().to_string();
    }
    // Sends each datagram and returns the replies that came back.
    std::vector<UdpPeer::Datagram> Fire(const std::vector<std::vector<std::uint8_t>> &datagrams,
                                        std::chrono::milliseconds settle = 150ms) {
        peer.Drain();
        for (const auto &d : datagrams) peer.SendTo(d, target, kPort);
        std::vector<UdpPeer::Datagram> replies;
        while (auto r = peer.Receive(settle)) replies.push_back(*r);
        return replies;
    }
    void ExpectStillServing() {
        std::vector<UCHAR> buffer;
        ASSERT_EQ(node.Status("*", buffer), NRC_GOODRET);
        auto view = ViewStatus(buffer);
        ASSERT_EQ(view.names.size(), 1u);
        EXPECT_EQ(view.names[0].name_flags, REGISTERED);
        codec::NetbiosName star;
        star.raw[0] = '*';
        auto replies = Fire({codec::BuildNodeStatusRequest(0x0101, star, false)});
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_TRUE(codec::DecodeNamePacket(replies[0].bytes));
    }

    LoopbackNode node{NameServiceSettings()};
    UdpPeer peer{"127.0.0.210", 0, false};
    std::string target;
    const codec::NetbiosName name = codec::MakeName(Padded("TARGET"));
};

TEST_F(MalformedInput, EmptyShortAndEveryPrefix) {
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::size_t n = 0; n < 12; ++n) datagrams.emplace_back(n, 0);
    codec::NetbiosName star;
    star.raw[0] = '*';
    for (const auto &valid : {codec::BuildQueryRequest(0x1111, name, false),
                              codec::BuildRegistrationRequest(0x2222, name, false, 0x7F0000D2),
                              codec::BuildNodeStatusRequest(0x3333, star, false)}) {
        for (std::size_t n = 0; n < valid.size(); ++n)
            datagrams.emplace_back(valid.begin(), valid.begin() + n);
    }
    EXPECT_TRUE(Fire(datagrams).empty());
    std::vector<UCHAR> buffer;
    ASSERT_EQ(node.Status("*", buffer), NRC_GOODRET);
    EXPECT_GT(ViewStatus(buffer).status.frmr_recv, 0) << "bad datagrams are counted";
    ExpectStillServing();
}

TEST_F(MalformedInput, CountsBeyondTheDataPointersAndLabels) {
    const auto query = codec::BuildQueryRequest(0x1111, name, false);
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int field = 0; field < 4; ++field) {
        for (std::uint16_t count : {2, 255, 0xFFFF}) {
            auto d = query;
            d[4 + 2 * field] = static_cast<std::uint8_t>(count >> 8);
            d[5 + 2 * field] = static_cast<std::uint8_t>(count);
            if (field == 0 || count > 1) datagrams.push_back(d);
        }
    }
    // RDLENGTH beyond the data in a registration's additional record.
    auto registration = codec::BuildRegistrationRequest(0x2222, name, false, 0x7F0000D2);
    registration[61] = 0xFF;
    datagrams.push_back(registration);
    // Names made of pointers: to itself, forwards, two pointing at each other.
    // The query's header, then the name's bytes, type NB and class IN. Sized
    // once and filled in place: growing a 12-byte vector by inserts trips
    // GCC's bounds analysis at -O3.
    auto with_name = [&](const std::vector<std::uint8_t> &name_bytes) {
        const std::uint8_t type_and_class[] = {0x00, 0x20, 0x00, 0x01};
        std::vector<std::uint8_t> d(12 + name_bytes.size() + sizeof type_and_class);
        auto at = std::copy_n(query.begin(), 12, d.begin());
        at = std::copy(name_bytes.begin(), name_bytes.end(), at);
        std::copy(std::begin(type_and_class), std::end(type_and_class), at);
        return d;
    };
    datagrams.push_back(with_name({0xC0, 0x0C}));
    datagrams.push_back(with_name({0xC0, 0x0E, 0xC0, 0x0C}));
    datagrams.push_back(with_name({0xC0, 0x30}));
    datagrams.push_back(with_name({0xFF, 0xFF}));
    // Label lengths other than 32, reserved label types, letters outside A..P.
    for (int length : {0x00, 0x01, 0x1F, 0x21, 0x3F, 0x40, 0x80, 0xBF}) {
        auto d = query;
        d[12] = static_cast<std::uint8_t>(length);
        datagrams.push_back(d);
    }
    for (int letter : {int{'@'}, int{'Q'}, int{'Z'}, int{'a'}, int{'p'}, 0x00, 0xFF}) {
        auto d = query;
        d[13] = static_cast<std::uint8_t>(letter);
        datagrams.push_back(d);
    }
    // A scope label running off the end.
    auto scoped = query;
    scoped[45] = 0x3F;
    datagrams.push_back(scoped);
    EXPECT_TRUE(Fire(datagrams).empty());
    ExpectStillServing();
}

TEST_F(MalformedInput, EveryOpcodeAndEveryResponseFlagByte) {
    const auto query = codec::BuildQueryRequest(0x1111, name, false);
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int opcode = 0; opcode < 16; ++opcode) {
        auto d = query;
        d[0] = static_cast<std::uint8_t>(opcode);
        d[2] = static_cast<std::uint8_t>(opcode << 3);
        datagrams.push_back(d);
    }
    auto replies = Fire(datagrams);
    std::set<int> answered;
    for (const auto &r : replies) {
        auto p = codec::DecodeNamePacket(r.bytes);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->header.IsResponse());
        answered.insert(p->header.trn_id >> 8);
    }
    // A query gets its answer; a registration (plain or multi-homed) of our name its defence.
    EXPECT_EQ(answered, (std::set<int>{0, 5, 15}));

    datagrams.clear();
    for (int high = 0x80; high <= 0xFF; ++high) {
        auto d = query;
        d[2] = static_cast<std::uint8_t>(high);
        datagrams.push_back(d);
        d[3] = 0xFF;
        datagrams.push_back(d);
    }
    // Responses nobody asked for are dropped; even the ones shaped like a
    // conflict demand carry no NB record, so the name stays as it was.
    EXPECT_TRUE(Fire(datagrams).empty());
    ExpectStillServing();
}

TEST_F(MalformedInput, RandomMutationsOfValidPackets) {
    std::mt19937 random(1234);
    codec::NetbiosName star;
    star.raw[0] = '*';
    const std::vector<std::vector<std::uint8_t>> valid = {
        codec::BuildQueryRequest(0x1111, name, true),
        codec::BuildRegistrationRequest(0x2222, name, false, 0x7F0000D2),
        codec::BuildNodeStatusRequest(0x3333, star, false),
        codec::BuildRegistrationRefusal(0x4444, name, {0, node.address().to_uint()},
                                        codec::NameRcode::kActive),
    };
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int i = 0; i < 3000; ++i) {
        auto d = valid[random() % valid.size()];
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            switch (random() % 3) {
                case 0:
                    d[random() % d.size()] = static_cast<std::uint8_t>(random());
                    break;
                case 1:
                    d.resize(random() % (d.size() + 1));
                    break;
                default:
                    d.insert(d.begin() + static_cast<long>(random() % (d.size() + 1)),
                             static_cast<std::uint8_t>(random()));
            }
            if (d.empty()) break;
        }
        datagrams.push_back(d);
    }
    // Whatever comes back must itself be a well-formed response.
    for (const auto &reply : Fire(datagrams, 300ms)) {
        auto p = codec::DecodeNamePacket(reply.bytes);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->header.IsResponse());
    }
    std::vector<UCHAR> buffer;
    ASSERT_EQ(node.Status("*", buffer), NRC_GOODRET);
    ASSERT_EQ(ViewStatus(buffer).names.size(), 1u);
}

}  // namespace
