// SPDX-License-Identifier: MIT
// The name table's numbering, the adapter-status buffer writer, the
// neighbour-table reader and the answer budget, on their own.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "name_adapter_status.h"
#include "name_neighbours.h"
#include "name_table.h"
#include "reply_budget.h"

namespace {

nbt::NetbiosName Name(int i) {
    nbt::NetbiosName name;
    name.fill(' ');
    name[0] = static_cast<std::uint8_t>('A' + i % 26);
    name[1] = static_cast<std::uint8_t>('A' + i / 26);
    return name;
}

}  // namespace

TEST(NameTable, NumbersGoRoundFrom2To254SkippingThoseInUse) {
    nbt::NameTable table(254);
    std::set<int> numbers;
    for (int i = 0; i < 253; ++i) {
        auto *entry = table.Add(Name(i), false);
        ASSERT_NE(entry, nullptr) << i;
        EXPECT_EQ(entry->number, 2 + i);
        numbers.insert(entry->number);
    }
    EXPECT_EQ(table.Add(Name(253), false), nullptr) << "no number left";
    table.Remove(Name(10));  // frees number 12
    auto *again = table.Add(Name(300), false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->number, 12);
    EXPECT_EQ(table.Find(Name(300))->state, REGISTERING);
}

TEST(AdapterStatusBuffer, WholeRecordsOnly) {
    nbt::AdapterStatusReply reply;
    reply.status.rev_major = 3;
    for (int i = 0; i < 3; ++i) {
        NAME_BUFFER name{};
        name.name_num = static_cast<UCHAR>(i + 2);
        reply.names.push_back(name);
    }
    std::vector<UCHAR> buffer(200, 0xEE);
    WORD written = 0;
    EXPECT_EQ(nbt::WriteAdapterStatus(reply, buffer.data(), 59, &written), NRC_BUFLEN);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(nbt::WriteAdapterStatus(reply, nullptr, 200, &written), NRC_BUFLEN);
    EXPECT_EQ(nbt::WriteAdapterStatus(reply, buffer.data(), 60 + 2 * 18 + 17, &written), NRC_INCOMP);
    EXPECT_EQ(written, 60 + 2 * 18);
    ADAPTER_STATUS status;
    std::memcpy(&status, buffer.data(), sizeof status);
    EXPECT_EQ(status.name_count, 2);
    EXPECT_EQ(buffer[60 + 2 * 18], 0xEE);
    EXPECT_EQ(nbt::WriteAdapterStatus(reply, buffer.data(), 60 + 3 * 18, &written), NRC_GOODRET);
    std::memcpy(&status, buffer.data(), sizeof status);
    EXPECT_EQ(status.name_count, 3);
}

TEST(NeighbourTable, OnlyCompleteEntriesOfTheRightDevice) {
    const char *table =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "198.18.137.12    0x1         0x0         02:4e:42:00:00:02     *        eth0\n"
        "198.18.137.11    0x1         0x2         02:4e:42:00:00:01     *        eth0\n"
        "10.0.0.5         0x1         0x2         02:4E:42:00:00:05     *        eth1\n"
        "garbage line\n"
        "10.0.0.6         0x1         0x2         02:4e:42:00:00:0      *        eth1\n";
    auto find = [&](std::uint8_t last, const std::string &device) {
        return nbt::FindNeighbour(table, {0x02, 0x4e, 0x42, 0, 0, last}, device);
    };
    EXPECT_EQ(find(1, "eth0"), asio::ip::make_address_v4("198.18.137.11"));
    EXPECT_EQ(find(1, ""), asio::ip::make_address_v4("198.18.137.11"));
    EXPECT_FALSE(find(1, "eth1"));
    EXPECT_FALSE(find(2, "eth0")) << "an incomplete entry is no answer";
    EXPECT_EQ(find(5, ""), asio::ip::make_address_v4("10.0.0.5")) << "upper-case digits";
    EXPECT_FALSE(find(0, ""));
    EXPECT_FALSE(nbt::FindNeighbour("", {}, ""));
}

TEST(ReplyBudget, BurstThenRatePerSourceInABoundedTable) {
    using namespace std::chrono_literals;
    nbt::ReplyBudget budget(/*rate=*/10, /*burst=*/3);
    const auto t0 = nbt::ReplyBudget::Clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(budget.Take(1, t0));
    EXPECT_FALSE(budget.Take(1, t0));
    EXPECT_TRUE(budget.Take(2, t0)) << "each source has a budget of its own";
    EXPECT_TRUE(budget.Take(1, t0 + 100ms)) << "one more every tenth of a second";
    EXPECT_FALSE(budget.Take(1, t0 + 150ms));
    EXPECT_EQ(budget.Take(1, t0 + 10s) + budget.Take(1, t0 + 10s) + budget.Take(1, t0 + 10s) +
                  budget.Take(1, t0 + 10s),
              3)
        << "a long pause refills the burst, no more";
    // More sources than the table holds: each new one is still answered.
    for (std::uint32_t source = 100; source < 100 + 4 * nbt::ReplyBudget::kSources; ++source)
        ASSERT_TRUE(budget.Take(source, t0 + 11s)) << source;
    EXPECT_TRUE(nbt::ReplyBudget(0, 0).Take(1, t0)) << "rate 0: no limit";
}
