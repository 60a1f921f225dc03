// SPDX-License-Identifier: MIT
// korveld's LANA numbers: an interface keeps its number while others come,
// go and come back, and across a restart through the map file; pins come
// first; and a map file, whatever is in it, never crashes the service nor
// gives one number twice.
#include "lana_map.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "stable_lanas.h"

namespace korveld {
namespace {

nbt::InterfaceAddress Up(const std::string &name, unsigned index) {
    nbt::InterfaceAddress entry;
    entry.name = name;
    entry.index = index;
    entry.flags = 0x43;  // IFF_UP | IFF_BROADCAST | IFF_RUNNING
    entry.address = asio::ip::address_v4(0x0A000000u + index);
    entry.broadcast = asio::ip::address_v4(0x0A0000FFu);
    return entry;
}

// "name=number ..." of LANAs 1 and up, as numbered.
std::string Numbers(const std::vector<nbt::Lana> &lanas) {
    std::string text;
    for (const nbt::Lana &lana : lanas)
        if (!lana.loopback) text += lana.interface_name + "=" + std::to_string(lana.number) + " ";
    return text;
}

std::string Assign(const std::vector<nbt::InterfaceAddress> &present, LanaMap &map,
                   const LanaMap &pins = {}) {
    return Numbers(AssignLanas(present, pins, map));
}

TEST(LanaMap, ANumberStaysWithItsInterfaceWhileOthersComeAndGo) {
    LanaMap map;
    EXPECT_EQ(Assign({Up("eth0", 2), Up("wlan0", 3)}, map), "eth0=1 wlan0=2 ");
    // A new interface with a lower index than both: a new number, none moves.
    EXPECT_EQ(Assign({Up("usb0", 1), Up("eth0", 2), Up("wlan0", 3)}, map), "eth0=1 wlan0=2 usb0=3 ");
    // wlan0 away: its number is not given to anybody else meanwhile.
    EXPECT_EQ(Assign({Up("eth0", 2), Up("usb0", 7), Up("eth1", 8)}, map), "eth0=1 usb0=3 eth1=4 ");
    EXPECT_EQ(Assign({Up("wlan0", 9), Up("eth0", 2)}, map), "eth0=1 wlan0=2 ");

    // Pins outrank the map: usb0 takes 2, and wlan0 moves to the lowest
    // number free (usb0's 3); of two pins of one number the first interface
    // by name keeps it; LANA 0 is never given.
    EXPECT_EQ(
        Assign({Up("eth0", 2), Up("wlan0", 3), Up("usb0", 4)}, map, {{"usb0", 2}, {"zz0", 2}, {"eth0", 0}}),
        "eth0=1 usb0=2 wlan0=3 ");
}

TEST(LanaMap, AllNumbersGivenTheLowestOfAnAbsentInterfaceIsTakenAndNoneIsGivenTwice) {
    LanaMap map, pins;
    for (int n = 1; n <= MAX_LANA; ++n) map["gone" + std::to_string(n)] = static_cast<std::uint8_t>(n);
    pins["gone1"] = 1;
    EXPECT_EQ(Assign({Up("eth0", 2), Up("gone3", 4)}, map, pins), "eth0=2 gone3=3 ");
    EXPECT_EQ(map.size(), static_cast<std::size_t>(MAX_LANA));

    // Every number pinned to a present interface: one more is left out, not numbered twice.
    std::vector<nbt::InterfaceAddress> present;
    for (int n = 1; n <= MAX_LANA + 1; ++n) present.push_back(Up("if" + std::to_string(n), n));
    LanaMap full, all_pinned;
    for (int n = 1; n <= MAX_LANA; ++n) all_pinned["if" + std::to_string(n)] = static_cast<std::uint8_t>(n);
    const auto lanas = AssignLanas(present, all_pinned, full);
    EXPECT_EQ(lanas.size(), static_cast<std::size_t>(MAX_LANA + 1));
    EXPECT_EQ(lanas.back().number, MAX_LANA);
}

TEST(LanaMap, AMapFileIsNeverTakenOnTrust) {
    std::size_t skipped = 0;
    const LanaMap map = ParseLanaMap(
        "# a comment\n"
        "eth0 1\n"
        "  wlan0\t2   # spaces around\n"
        "eth0 3\n"  // a second line for a name
        "usb0 2\n"  // a second line for a number
        "lo 0\nbig 255\nneg -1\nhuge 99999999999999999999\n"
        "toolonginterfacename 4\n"
        "a/b 5\n"
        "x:1 6\n"
        ".. 7\n"
        "noNumber\n"
        "trailing 8 9\n"
        "hex 0x9\n"
        "ok\x01 10\r\n"  // a byte the kernel allows, a CR it does not mind
        "\xff\xfe 11",   // no final newline
        &skipped);
    EXPECT_EQ(map, (LanaMap{{"eth0", 1}, {"wlan0", 2}, {"ok\x01", 10}, {"\xff\xfe", 11}}));
    EXPECT_EQ(skipped, 13u);
    EXPECT_EQ(ParseLanaMap(FormatLanaMap(map), &skipped), map);
    EXPECT_EQ(skipped, 0u);
    // Binary garbage: no crash, nothing taken that is not an entry.
    std::string noise;
    for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 131 + 7) % 256);
    for (const auto &[name, number] : ParseLanaMap(noise, &skipped)) {
        EXPECT_TRUE(IsInterfaceName(name));
        EXPECT_TRUE(number >= 1 && number <= MAX_LANA);
    }
}

class StableLanasOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/korveld-lanas-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(StableLanasOnDisk, TheNumbersSurviveARestartAndABadFileIsSetAside) {
    {
        StableLanas first(dir_, {});
        EXPECT_EQ(Numbers(first.Number({Up("eth0", 2), Up("eth1", 3)})), "eth0=1 eth1=2 ");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/lanas.new"));
    // After a restart eth1 alone, with a lower index, is still 2.
    StableLanas again(dir_, {});
    EXPECT_EQ(Numbers(again.Number({Up("eth1", 1)})), "eth1=2 ");
    // An interface whose first address is an alias's (eth2:1) is numbered
    // and saved under its own name.
    EXPECT_EQ(Numbers(again.Number({Up("eth2:1", 4)})), "eth2=3 ");
    EXPECT_EQ(Numbers(StableLanas(dir_, {}).Number({Up("usb0", 1), Up("eth2:1", 4)})), "eth2=3 usb0=4 ");

    // A map that is a directory, or over the size cap, starts afresh.
    std::filesystem::remove(dir_ + "/lanas");
    std::filesystem::create_directory(dir_ + "/lanas");
    EXPECT_EQ(Numbers(StableLanas(dir_, {}).Number({Up("eth1", 1)})), "eth1=1 ");
    std::filesystem::remove(dir_ + "/lanas");
    std::ofstream(dir_ + "/lanas") << "eth1 7\n" << std::string(70000, '#');
    EXPECT_EQ(Numbers(StableLanas(dir_, {}).Number({Up("eth1", 1)})), "eth1=1 ");
}

}  // namespace
}  // namespace korveld
