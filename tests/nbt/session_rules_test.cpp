// SPDX-License-Identifier: MIT
// Session numbering, the pairing of requests with listens, and the NCBSSTAT
// reply layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "session_numbers.h"
#include "session_pairing.h"
#include "session_status.h"

namespace {

using nbt::NetbiosName;
using Refusal = nbt::codec::SessionRefusal;

NetbiosName Name(const std::string &text) {
    NetbiosName name;
    name.fill(' ');
    std::memcpy(name.data(), text.data(), std::min<std::size_t>(text.size(), 16));
    return name;
}

TEST(SessionNumbers, RoundRobinWithinTheLimitAndNoImmediateReuse) {
    nbt::SessionNumbers numbers(3);
    EXPECT_EQ(numbers.Allocate(), 1);
    EXPECT_EQ(numbers.Allocate(), 2);
    EXPECT_EQ(numbers.Allocate(), 3);
    EXPECT_FALSE(numbers.Allocate());  // limit
    numbers.Release(1);
    EXPECT_EQ(numbers.Allocate(), 4);  // not the freed 1
    numbers.Release(0);                // ignored
    numbers.Release(255);              // ignored
    numbers.Release(99);               // not in use: ignored
    EXPECT_EQ(numbers.count(), 3u);
}

TEST(SessionNumbers, WrapsAfter254AndSkipsNumbersInUse) {
    nbt::SessionNumbers numbers(254);
    for (int i = 1; i <= 254; ++i) ASSERT_EQ(numbers.Allocate(), i);
    EXPECT_FALSE(numbers.Allocate());
    numbers.Release(200);
    numbers.Release(5);
    EXPECT_EQ(numbers.Allocate(), 5);  // after 254 comes 1; 1..4 are in use
    EXPECT_EQ(numbers.Allocate(), 200);
    EXPECT_FALSE(numbers.Allocate());
    EXPECT_TRUE(numbers.InUse(254));
    EXPECT_FALSE(numbers.InUse(0));
}

TEST(SessionPairing, SpecificCallerBeatsAnyCallerAndOldestWinsWithinEach) {
    const NetbiosName server = Name("SERVER"), other = Name("OTHER"), client = Name("CLIENT"),
                      stranger = Name("STRANGER"), any = Name("*");
    const std::vector<nbt::ListenView> listens = {
        {&other, &any},      // 0: another name
        {&server, &any},     // 1: oldest '*' on SERVER
        {&server, &client},  // 2: oldest for CLIENT
        {&server, &any},     // 3
        {&server, &client},  // 4
    };
    EXPECT_EQ(nbt::PairSessionRequest(server, client, true, listens).listen, 2u);
    EXPECT_EQ(nbt::PairSessionRequest(server, stranger, true, listens).listen, 1u);
    EXPECT_EQ(nbt::PairSessionRequest(other, client, true, listens).listen, 0u);
}

TEST(SessionPairing, EachRefusal) {
    const NetbiosName server = Name("SERVER"), client = Name("CLIENT"), stranger = Name("STRANGER");
    const std::vector<nbt::ListenView> only_client = {{&server, &client}};
    auto refusal = [](const nbt::Pairing &p) {
        EXPECT_FALSE(p.listen);
        return p.refusal;
    };
    EXPECT_EQ(refusal(nbt::PairSessionRequest(server, client, false, only_client)),
              Refusal::kCalledNotPresent);
    EXPECT_EQ(refusal(nbt::PairSessionRequest(server, client, true, {})), Refusal::kNotListeningOnCalled);
    EXPECT_EQ(refusal(nbt::PairSessionRequest(server, stranger, true, only_client)),
              Refusal::kNotListeningForCalling);
    // Case matters: names are raw bytes.
    EXPECT_EQ(refusal(nbt::PairSessionRequest(server, Name("client"), true, only_client)),
              Refusal::kNotListeningForCalling);
}

TEST(SessionStatusFill, WholeRecordsOnlyAndCountMatchesWhatWasWritten) {
    std::vector<nbt::SessionStatusEntry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].lsn = static_cast<UCHAR>(10 + i);
        entries[i].state = static_cast<UCHAR>(1 + i);
        entries[i].local = Name("LOCAL");
        entries[i].remote = Name("REMOTE" + std::to_string(i));
        entries[i].receives = static_cast<UCHAR>(i);
        entries[i].sends = 7;
    }
    std::vector<UCHAR> buffer(200, 0xEE);

    auto fill = nbt::FillSessionStatus(0xFF, entries, buffer.data(), 4 + 36 * 2 + 35);
    EXPECT_EQ(fill.rc, NRC_INCOMP);
    EXPECT_EQ(fill.length, 4 + 36 * 2);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_EQ(buffer[2], 0);
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4 + 36 * 2], 0xEE);  // nothing of the third record

    fill = nbt::FillSessionStatus(3, entries, buffer.data(), static_cast<WORD>(buffer.size()));
    EXPECT_EQ(fill.rc, NRC_GOODRET);
    EXPECT_EQ(fill.length, 4 + 36 * 3);
    SESSION_BUFFER third;
    std::memcpy(&third, buffer.data() + 4 + 36 * 2, sizeof third);
    EXPECT_EQ(third.lsn, 12);
    EXPECT_EQ(third.state, 3);
    EXPECT_EQ(0, std::memcmp(third.remote_name, Name("REMOTE2").data(), 16));
    EXPECT_EQ(third.rcvs_outstanding, 2);
    EXPECT_EQ(third.sends_outstanding, 7);

    fill = nbt::FillSessionStatus(3, entries, buffer.data(), 4);
    EXPECT_EQ(fill.rc, NRC_INCOMP);
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(nbt::FillSessionStatus(3, entries, buffer.data(), 3).rc, NRC_BUFLEN);
    EXPECT_EQ(nbt::FillSessionStatus(3, {}, buffer.data(), 4).rc, NRC_GOODRET);
}

}  // namespace
