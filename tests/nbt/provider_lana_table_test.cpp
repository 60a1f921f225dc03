// SPDX-License-Identifier: MIT
// LANA numbering from a list of interface addresses: which interfaces get a
// LANA and in what order.
#include <gtest/gtest.h>
#include <net/if.h>

#include "host_names.h"
#include "lana_table.h"
#include "name_answer.h"
#include "node.h"

namespace nbt {
namespace {

InterfaceAddress Entry(const char *name, unsigned index, const char *address, const char *broadcast,
                       unsigned flags = IFF_UP | IFF_BROADCAST | IFF_RUNNING) {
    InterfaceAddress entry;
    entry.name = name;
    entry.index = index;
    entry.flags = flags;
    entry.address = asio::ip::make_address_v4(address);
    if (broadcast) entry.broadcast = asio::ip::make_address_v4(broadcast);
    entry.mac = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(index)};
    return entry;
}

TEST(LanaTable, NumbersEligibleInterfacesByIndex) {
    // Listed in the order they came up, not by index.
    const std::vector<InterfaceAddress> interfaces = {
        Entry("eth9", 9, "10.9.0.1", "10.9.0.255"),
        Entry("lo", 1, "127.0.0.1", nullptr, IFF_UP | IFF_LOOPBACK),
        Entry("eth2", 2, "10.2.0.1", "10.2.0.255"),
        Entry("down3", 3, "10.3.0.1", "10.3.0.255", IFF_BROADCAST),       // not up
        Entry("ptp4", 4, "10.4.0.1", nullptr, IFF_UP | IFF_POINTOPOINT),  // no broadcast
        Entry("eth2", 2, "10.2.1.1", "10.2.1.255"),                       // second address
        Entry("eth5", 5, "10.5.0.1", "10.5.0.255"),
        Entry("nocarrier6", 6, "10.6.0.1", "10.6.0.255", IFF_UP | IFF_BROADCAST),
    };
    const auto lanas = NumberLanas(interfaces, true);
    ASSERT_EQ(lanas.size(), 4u);
    EXPECT_TRUE(lanas[0].loopback);
    EXPECT_EQ(lanas[0].number, 0);
    EXPECT_EQ(lanas[0].broadcast.to_string(), "127.255.255.255");

    EXPECT_EQ(lanas[1].number, 1);
    EXPECT_EQ(lanas[1].interface_name, "eth2");
    EXPECT_EQ(lanas[1].address.to_string(), "10.2.0.1");  // the first address listed
    EXPECT_EQ(lanas[1].broadcast.to_string(), "10.2.0.255");
    EXPECT_EQ(lanas[1].mac[5], 2);
    EXPECT_EQ(lanas[2].interface_name, "eth5");
    EXPECT_EQ(lanas[3].interface_name, "eth9");
    EXPECT_EQ(lanas[3].number, 3);

    // Same interfaces listed the other way round: same numbering.
    std::vector<InterfaceAddress> reversed(interfaces.rbegin(), interfaces.rend());
    reversed.erase(reversed.begin() + 2);  // keep 10.2.0.1 as eth2's first address
    const auto again = NumberLanas(reversed, true);
    ASSERT_EQ(again.size(), 4u);
    for (std::size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i].interface_name, lanas[i].interface_name);
}

TEST(LanaTable, LoopbackOnlyAndTheLanaLimit) {
    std::vector<InterfaceAddress> many;
    for (unsigned i = 1; i <= 300; ++i) many.push_back(Entry("vethX", i, "10.0.0.1", "10.0.0.255"));
    EXPECT_EQ(NumberLanas(many, false).size(), 1u);
    const auto lanas = NumberLanas(many, true);
    ASSERT_EQ(lanas.size(), static_cast<std::size_t>(MAX_LANA + 1));
    EXPECT_EQ(lanas.back().number, MAX_LANA);
}

TEST(LanaTable, EnumerationFitsTheBufferOrIsRefused) {
    const auto lanas = NumberLanas({Entry("eth2", 2, "10.2.0.1", "10.2.0.255")}, true);
    LANA_ENUM out{};
    ASSERT_EQ(FillLanaEnum(lanas, reinterpret_cast<UCHAR *>(&out), sizeof out), NRC_GOODRET);
    EXPECT_EQ(out.length, 2);
    EXPECT_EQ(out.lana[0], 0);
    EXPECT_EQ(out.lana[1], 1);

    // Exactly count + 1 bytes is enough; one less is not.
    UCHAR exact[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(FillLanaEnum(lanas, exact, 3), NRC_GOODRET);
    EXPECT_EQ(exact[0], 2);
    UCHAR small[2] = {0xEE, 0xEE};
    EXPECT_EQ(FillLanaEnum(lanas, small, 2), NRC_BUFLEN);
    EXPECT_EQ(small[0], 0xEE);
    EXPECT_EQ(FillLanaEnum(lanas, nullptr, 256), NRC_BADDR);
    EXPECT_EQ(FillLanaEnum(lanas, nullptr, 0), NRC_BADDR);
}

// What the network may name as a peer: never this host by another name, nor
// everyone. Loopback addresses are peers only on the loopback LANA. Of a
// unique name's addresses those on our subnet come first.
TEST(LanaTable, PeerAddressesOnEachKindOfLana) {
    auto eth2 = Entry("eth2", 2, "10.2.0.1", "10.2.0.255");
    eth2.netmask = asio::ip::make_address_v4("255.255.255.0");
    const auto lanas = NumberLanas({eth2}, true);
    const auto host = std::make_shared<HostNames>();
    Node loopback(lanas[0], Limits{}, Settings{}, host), lan(lanas[1], Limits{}, Settings{}, host);
    auto peer = [](const Node &node, const char *address) {
        return node.IsPeerAddress(asio::ip::make_address_v4(address));
    };
    for (const char *nowhere : {"0.0.0.0", "224.0.0.1", "239.255.255.250", "255.255.255.255"}) {
        EXPECT_FALSE(peer(loopback, nowhere)) << nowhere;
        EXPECT_FALSE(peer(lan, nowhere)) << nowhere;
    }
    EXPECT_FALSE(peer(lan, "10.2.0.255"));
    EXPECT_FALSE(peer(lan, "127.0.0.1"));
    EXPECT_TRUE(peer(lan, "10.2.0.7"));
    EXPECT_TRUE(peer(lan, "10.2.0.1")) << "ourselves";
    EXPECT_FALSE(peer(loopback, "127.255.255.255"));
    EXPECT_TRUE(peer(loopback, "127.0.0.7"));

    auto ip = [](const char *address) { return asio::ip::make_address_v4(address).to_uint(); };
    const codec::NbAddress entries[] = {{0x6000, ip("10.9.0.5")},
                                        {0x6000, ip("0.0.0.0")},
                                        {0x6000, ip("10.2.0.7")},
                                        {0x6000, ip("10.8.0.5")}};
    const auto found = ResolveAnswer(lan, entries);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->address.to_string(), "10.2.0.7") << "on our subnet";
    ASSERT_EQ(found->others.size(), 2u);
    EXPECT_EQ(found->others[0].to_string(), "10.9.0.5") << "then in the answer's order";
    const codec::NbAddress all_ones[] = {{0xE000, 0xFFFFFFFFu}};
    EXPECT_TRUE(ResolveAnswer(lan, all_ones)->group);
}

}  // namespace
}  // namespace nbt
