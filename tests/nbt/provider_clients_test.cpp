// SPDX-License-Identifier: MIT
// Several clients of one Provider sharing its LANA 0 node, as korveld's
// programs share a LANA: each uses only its own names, sessions and NCBs,
// resets and leaves alone, and is held to its own caps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_node.h"

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::AsyncNcb;
using testing::ClientCommands;
using testing::FastSettings;
using testing::LoopbackNode;
using testing::MakeNcb;
using testing::Padded;
using testing::SetName;

constexpr UCHAR kAnyName = 0xFF;

// A receive of any kind left pending, with its own buffer.
struct PendingReceive {
    std::vector<UCHAR> buffer = std::vector<UCHAR>(64, 0xEE);
    AsyncNcb ncb;
    PendingReceive(ClientCommands &client, UCHAR command, UCHAR num, UCHAR lsn = 0) : ncb(command | ASYNCH) {
        ncb.ncb.ncb_num = num;
        ncb.ncb.ncb_lsn = lsn;
        ncb.ncb.ncb_buffer = buffer.data();
        ncb.ncb.ncb_length = static_cast<WORD>(buffer.size());
        EXPECT_EQ(client.Submit(ncb), NRC_GOODRET);
    }
    bool Pending() { return ncb.Status() == NRC_PENDING; }
    std::string Got() const { return {reinterpret_cast<const char *>(buffer.data()), ncb.ncb.ncb_length}; }
};

UCHAR SendDatagram(ClientCommands &client, UCHAR command, UCHAR num, const std::string &to,
                   std::string data = "hello") {
    NCB ncb = MakeNcb(command);
    ncb.ncb_num = num;
    SetName(ncb.ncb_callname, to);
    ncb.ncb_buffer = reinterpret_cast<UCHAR *>(data.data());
    ncb.ncb_length = static_cast<WORD>(data.size());
    return client.Run(ncb);
}

class Clients : public ::testing::Test {
protected:
    void SetUp() override {
        for (ClientCommands *client : {&one, &two, &three}) ASSERT_EQ(client->Reset(), NRC_GOODRET);
        ASSERT_EQ(one.AddName("ONE", &one_num), NRC_GOODRET);
        ASSERT_EQ(two.AddName("TWO", &two_num), NRC_GOODRET);
        ASSERT_EQ(three.AddName("THREE", &three_num), NRC_GOODRET);
    }

    // `caller` calls `listener`'s name; the session numbers on each side.
    void Connect(ClientCommands &caller, const std::string &from, ClientCommands &listener,
                 const std::string &to, UCHAR *caller_lsn, UCHAR *listener_lsn) {
        auto listen = listener.Listen(to, "*");
        ASSERT_EQ(caller.Call(from, to, caller_lsn), NRC_GOODRET);
        ASSERT_EQ(listen->Wait(), NRC_GOODRET);
        *listener_lsn = listen->ncb.ncb_lsn;
    }

    // The first five bytes of each name in the adapter status, sorted.
    std::vector<std::string> AdapterNames(ClientCommands &client) {
        std::vector<UCHAR> buffer;
        EXPECT_EQ(client.Status("*", buffer), NRC_GOODRET);
        std::vector<std::string> names;
        for (const auto &name : testing::ViewStatus(buffer).names)
            names.emplace_back(reinterpret_cast<const char *>(name.name), 5);
        std::sort(names.begin(), names.end());
        return names;
    }

    Provider provider{FastSettings()};
    ClientCommands one{provider, 1}, two{provider, 2}, three{provider, 3};
    UCHAR one_num = 0, two_num = 0, three_num = 0;
};

TEST_F(Clients, AnotherClientsNumbersNamesAndBlocksAreOnesNobodyUses) {
    UCHAR one_lsn = 0, two_lsn = 0;
    Connect(one, "ONE", two, "TWO", &one_lsn, &two_lsn);
    PendingReceive receive(one, NCBRECV, 0, one_lsn);

    PendingReceive foreign_receive(three, NCBRECV, 0, one_lsn);
    EXPECT_EQ(foreign_receive.ncb.Wait(1s), NRC_SNUMOUT);
    EXPECT_EQ(three.Send(one_lsn, "x", 1), NRC_SNUMOUT);
    EXPECT_EQ(three.Hangup(one_lsn), NRC_SNUMOUT);
    EXPECT_EQ(SendDatagram(three, NCBDGSEND, one_num, "TWO"), NRC_ILLNN);
    EXPECT_EQ(SendDatagram(three, NCBDGSENDBC, one_num, "*"), NRC_ILLNN);
    for (UCHAR command : {NCBDGRECV, NCBDGRECVBC, NCBRECVANY}) {
        PendingReceive foreign(three, command, one_num);
        EXPECT_EQ(foreign.ncb.Wait(1s), NRC_ILLNN) << int(command);
    }
    EXPECT_EQ(three.DeleteName("ONE"), NRC_NOWILD);
    EXPECT_EQ(three.Listen("ONE", "*")->Wait(1s), NRC_NOWILD);
    std::vector<UCHAR> status(sizeof(SESSION_HEADER) + 4 * sizeof(SESSION_BUFFER));
    NCB sstat = MakeNcb(NCBSSTAT);
    SetName(sstat.ncb_name, "ONE");
    sstat.ncb_buffer = status.data();
    sstat.ncb_length = static_cast<WORD>(status.size());
    EXPECT_EQ(three.Run(sstat), NRC_NOWILD);

    NCB cancel = MakeNcb(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<UCHAR *>(&receive.ncb.ncb);
    EXPECT_EQ(three.Run(cancel), NRC_CANOCCR);
    EXPECT_TRUE(receive.Pending());
    EXPECT_EQ(one.Run(cancel), NRC_GOODRET);
    EXPECT_EQ(receive.ncb.Wait(1s), NRC_CMDCAN);

    // A name anybody holds is taken, unique or group; adapter status and
    // the owners list show every name.
    ASSERT_EQ(one.AddGroupName("GROUP"), NRC_GOODRET);
    EXPECT_EQ(two.AddName("ONE"), NRC_DUPNAME);
    EXPECT_EQ(two.AddGroupName("ONE"), NRC_DUPNAME);
    EXPECT_EQ(two.AddGroupName("GROUP"), NRC_DUPNAME);
    EXPECT_EQ(AdapterNames(three), (std::vector<std::string>{"GROUP", "ONE  ", "THREE", "TWO  "}));
    std::string owners;
    for (const auto &owner : provider.NameOwners(0))
        owners +=
            std::string(reinterpret_cast<const char *>(owner.name.data()), 5) + std::to_string(owner.client);
    EXPECT_EQ(owners, "ONE  1TWO  2THREE3GROUP1");

    // A client that has not reset the LANA itself has nothing there.
    ClientCommands stranger(provider, 9);
    EXPECT_EQ(stranger.AddName("NEW"), NRC_ENVNOTDEF);
    EXPECT_EQ(stranger.Run(cancel), NRC_ENVNOTDEF);
}

TEST_F(Clients, ResetOfOneClientLeavesTheOthersNamesAndSessionsBetweenClientsOfOneNode) {
    UCHAR two_lsn = 0, three_lsn = 0;
    Connect(three, "THREE", two, "TWO", &three_lsn, &two_lsn);
    auto listen = one.Listen("ONE", "*");
    PendingReceive datagram(one, NCBDGRECV, kAnyName);

    ASSERT_EQ(one.Reset(), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(1s), NRC_CMDCAN);
    EXPECT_EQ(datagram.ncb.Wait(1s), NRC_CMDCAN);
    EXPECT_EQ(AdapterNames(two), (std::vector<std::string>{"THREE", "TWO  "}));
    // Their session, over the node's own address, carries data both ways.
    char buffer[8] = {};
    WORD got = 0;
    ASSERT_EQ(three.Send(three_lsn, "ping", 4), NRC_GOODRET);
    ASSERT_EQ(two.Receive(two_lsn, buffer, sizeof buffer, &got), NRC_GOODRET);
    EXPECT_EQ(std::string(buffer, got), "ping");
    ASSERT_EQ(two.Send(two_lsn, "pong!", 5), NRC_GOODRET);
    ASSERT_EQ(three.Receive(three_lsn, buffer, sizeof buffer, &got), NRC_GOODRET);
    EXPECT_EQ(std::string(buffer, got), "pong!");

    // A reset that only frees leaves the client without the LANA.
    ASSERT_EQ(one.Reset(/*lsn=*/1), NRC_GOODRET);
    EXPECT_EQ(one.AddName("ONE"), NRC_ENVNOTDEF);
    EXPECT_EQ(two.SessionHeader("TWO").num_sess, 1);
}

TEST_F(Clients, WildcardsSeeOnlyTheClientsOwn) {
    UCHAR three_to_one = 0, one_lsn = 0, three_to_two = 0, two_lsn = 0;
    Connect(three, "THREE", one, "ONE", &three_to_one, &one_lsn);
    Connect(three, "THREE", two, "TWO", &three_to_two, &two_lsn);

    // The other client's wildcard receives are older: they must be passed over.
    PendingReceive two_any(two, NCBRECVANY, kAnyName);
    PendingReceive two_datagram(two, NCBDGRECV, kAnyName);
    PendingReceive one_any(one, NCBRECVANY, kAnyName);
    PendingReceive one_datagram(one, NCBDGRECV, kAnyName);
    PendingReceive one_broadcast(one, NCBDGRECVBC, one_num);
    PendingReceive two_broadcast(two, NCBDGRECVBC, two_num);

    const SESSION_HEADER header = two.SessionHeader("*");
    EXPECT_EQ(header.num_sess, 1);
    EXPECT_EQ(header.rcv_any_outstanding, 1);
    EXPECT_EQ(header.rcv_dg_outstanding, 1);

    ASSERT_EQ(three.Send(three_to_one, "to one", 6), NRC_GOODRET);
    ASSERT_EQ(one_any.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(one_any.Got(), "to one");
    ASSERT_EQ(SendDatagram(three, NCBDGSEND, three_num, "ONE", "dg one"), NRC_GOODRET);
    ASSERT_EQ(one_datagram.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(one_datagram.Got(), "dg one");
    ASSERT_EQ(SendDatagram(three, NCBDGSENDBC, three_num, "*", "all"), NRC_GOODRET);
    EXPECT_EQ(one_broadcast.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_EQ(two_broadcast.ncb.Wait(5s), NRC_GOODRET);
    EXPECT_TRUE(two_any.Pending());
    EXPECT_TRUE(two_datagram.Pending());
    one.Reset();
    two.Reset();
}

TEST_F(Clients, DroppedClientsNamesAreReleasedOnTheWireAndItsSessionsHungUp) {
    UCHAR one_lsn = 0, two_lsn = 0;
    Connect(one, "ONE", two, "TWO", &one_lsn, &two_lsn);
    PendingReceive two_waits(two, NCBRECV, 0, two_lsn);
    PendingReceive one_waits(one, NCBDGRECV, kAnyName);
    ClientCommands process(provider, kProcessClient);  // which may use any client's session
    PendingReceive process_waits(process, NCBRECV, 0, one_lsn);
    LoopbackNode elsewhere;
    ASSERT_EQ(elsewhere.AddName("ONE"), NRC_INUSE);  // defended while held

    provider.DropClient(1);
    provider.DropClient(1);
    provider.DropClient(77);
    EXPECT_EQ(one_waits.ncb.Wait(1s), NRC_CMDCAN);
    EXPECT_EQ(two_waits.ncb.Wait(5s), NRC_SABORT);
    EXPECT_EQ(process_waits.ncb.Wait(1s), NRC_SABORT);
    EXPECT_EQ(elsewhere.AddName("ONE"), NRC_GOODRET);
    EXPECT_EQ(one.AddName("AGAIN"), NRC_ENVNOTDEF);
}

TEST_F(Clients, PastTheirCapsClientsGetNoResourcesAndCostTheOthersNothing) {
    Settings settings = FastSettings();
    settings.client_max_names = 2;
    settings.client_max_ncbs = 2;
    settings.client_max_sessions = 1;
    Provider capped(settings);
    ClientCommands greedy(capped, 1), modest(capped, 2);
    ASSERT_EQ(greedy.Reset(0, 254, 254, 254), NRC_GOODRET);
    ASSERT_EQ(modest.Reset(0, 0, 0, /*names=*/1), NRC_GOODRET);

    ASSERT_EQ(greedy.AddName("G1"), NRC_GOODRET);
    ASSERT_EQ(greedy.AddName("G2"), NRC_GOODRET);
    EXPECT_EQ(greedy.AddName("G3"), NRC_NORES);
    ASSERT_EQ(modest.AddName("M1"), NRC_GOODRET);
    EXPECT_EQ(modest.AddName("M2"), NRC_NAMTFUL);  // its own reset asked for one

    auto listen = greedy.Listen("G1", "*");
    EXPECT_EQ(greedy.Listen("G2", "*")->Wait(1s), NRC_NORES);
    auto modest_listen = modest.Listen("M1", "*");
    EXPECT_EQ(modest_listen->Status(), NRC_PENDING);

    AsyncNcb third(NCBDGRECV | ASYNCH);
    third.ncb.ncb_num = kAnyName;
    PendingReceive second(greedy, NCBDGRECV, kAnyName);
    ASSERT_EQ(greedy.Submit(third), NRC_GOODRET);
    EXPECT_EQ(third.Wait(1s), NRC_NORES);
    PendingReceive modest_second(modest, NCBDGRECV, kAnyName);
    EXPECT_TRUE(modest_second.Pending());
    capped.DropClient(1);
    capped.DropClient(2);
}

}  // namespace
}  // namespace nbt
