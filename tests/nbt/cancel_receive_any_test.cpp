// SPDX-License-Identifier: MIT
// NCBCANCEL of every command that may be cancelled and of ones that may
// not, and NCBRECVANY across two sessions.
#include <gtest/gtest.h>

#include <cstring>

#include "loopback_node.h"
#include "session_packet.h"
#include "tcp_peer.h"

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::AsyncNcb;
using testing::LoopbackNode;
using testing::MakeNcb;
using testing::Padded;
using testing::SetName;

constexpr UCHAR kAnyName = 0xFF;

UCHAR CancelOf(LoopbackNode &node, NCB *target) {
    NCB cancel = MakeNcb(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(target);
    return node.provider.Netbios(&cancel);
}

class TwoSessions : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server.AddName("SERVER", &server_num), NRC_GOODRET);
        ASSERT_EQ(client.AddName("CLIENT", &client_num), NRC_GOODRET);
        for (int i = 0; i < 2; ++i) {
            auto listen = server.Listen("SERVER", "*");
            ASSERT_EQ(client.Call("CLIENT", "SERVER", &c[i]), NRC_GOODRET);
            ASSERT_EQ(listen->Wait(), NRC_GOODRET);
            s[i] = listen->ncb.ncb_lsn;
        }
    }
    std::unique_ptr<AsyncNcb> Post(UCHAR command, UCHAR num_or_lsn, UCHAR *buffer, WORD length) {
        auto ncb = std::make_unique<AsyncNcb>(command);
        ncb->ncb.ncb_num = num_or_lsn;
        ncb->ncb.ncb_lsn = num_or_lsn;
        ncb->ncb.ncb_buffer = buffer;
        ncb->ncb.ncb_length = length;
        EXPECT_EQ(ncb->Submit(server.provider), NRC_GOODRET);
        return ncb;
    }

    UCHAR buffer[64] = {};
    UCHAR buffer2[64] = {};
    LoopbackNode server, client;
    UCHAR server_num = 0, client_num = 0;
    UCHAR s[2] = {}, c[2] = {};
};

TEST_F(TwoSessions, ReceiveAnyTakesWhatNoReceiveOfTheSessionWaitsFor) {
    auto any = Post(NCBRECVANY, server_num, buffer, sizeof buffer);
    EXPECT_EQ(server.SessionHeader().rcv_any_outstanding, 1);
    ASSERT_EQ(client.Send(c[1], "second", 6), NRC_GOODRET);
    ASSERT_EQ(any->Wait(), NRC_GOODRET);
    EXPECT_EQ(any->ncb.ncb_lsn, s[1]);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), any->ncb.ncb_length), "second");

    // A message already waiting goes to the receive-any posted after it.
    ASSERT_EQ(client.Send(c[0], "first", 5), NRC_GOODRET);
    std::this_thread::sleep_for(100ms);
    auto late = Post(NCBRECVANY, kAnyName, buffer, sizeof buffer);
    ASSERT_EQ(late->Wait(), NRC_GOODRET);
    EXPECT_EQ(late->ncb.ncb_lsn, s[0]);

    // A receive on the session itself goes first.
    auto any_again = Post(NCBRECVANY, kAnyName, buffer, sizeof buffer);
    auto own = Post(NCBRECV, s[0], buffer2, sizeof buffer2);
    ASSERT_EQ(client.Send(c[0], "mine", 4), NRC_GOODRET);
    ASSERT_EQ(own->Wait(), NRC_GOODRET);
    EXPECT_EQ(any_again->Wait(100ms), NRC_PENDING);
    // And a session's close is reported to it, with the session's number.
    ASSERT_EQ(client.Hangup(c[1]), NRC_GOODRET);
    ASSERT_EQ(any_again->Wait(), NRC_SCLOSED);
    EXPECT_EQ(any_again->ncb.ncb_lsn, s[1]);

    NCB bad = MakeNcb(NCBRECVANY);
    bad.ncb_num = 99;
    EXPECT_EQ(server.provider.Netbios(&bad), NRC_ILLNN);
}

TEST_F(TwoSessions, CancelEndsEachWaitingCommandAndRefusesTheOthers) {
    // Receives of every kind; the session survives a cancelled receive.
    for (UCHAR command : {NCBRECV, NCBRECVANY, NCBDGRECV, NCBDGRECVBC}) {
        auto waiting = Post(command | ASYNCH, command == NCBRECV ? s[0] : server_num, buffer, sizeof buffer);
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(CancelOf(server, &waiting->ncb), NRC_GOODRET) << int(command);
        EXPECT_EQ(waiting->Wait(), NRC_CMDCAN) << int(command);
        EXPECT_EQ(CancelOf(server, &waiting->ncb), NRC_CANOCCR) << "no longer pending";
    }
    EXPECT_EQ(server.SessionHeader().rcv_dg_outstanding, 0);
    EXPECT_EQ(server.SessionHeader().rcv_any_outstanding, 0);
    ASSERT_EQ(client.Send(c[0], "still", 5), NRC_GOODRET);
    WORD got = 0;
    ASSERT_EQ(server.Receive(s[0], buffer, sizeof buffer, &got), NRC_GOODRET);

    // A LISTEN gives its number back.
    const UCHAR sessions = server.SessionHeader().num_sess;
    auto listen = server.Listen("SERVER", "NOBODY");
    EXPECT_EQ(server.SessionHeader().num_sess, sessions + 1);
    ASSERT_EQ(CancelOf(server, &listen->ncb), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(), NRC_CMDCAN);
    EXPECT_EQ(server.SessionHeader().num_sess, sessions);

    // A CALL and a remote status still asking the network.
    for (UCHAR command : {NCBCALL, NCBASTAT}) {
        AsyncNcb asking(command);
        SetName(asking.ncb.ncb_name, "SERVER");
        SetName(asking.ncb.ncb_callname, "NOSUCHNAME");
        std::vector<UCHAR> status(400);
        asking.ncb.ncb_buffer = status.data();
        asking.ncb.ncb_length = static_cast<WORD>(status.size());
        ASSERT_EQ(asking.Submit(server.provider), NRC_GOODRET);
        ASSERT_EQ(CancelOf(server, &asking.ncb), NRC_GOODRET) << int(command);
        EXPECT_EQ(asking.Wait(), NRC_CMDCAN);
    }

    // Commands that cannot be cancelled, pending or not.
    NCB add = MakeNcb(NCBADDNAME);
    SetName(add.ncb_name, "MORE");
    ASSERT_EQ(server.provider.Netbios(&add), NRC_GOODRET);
    EXPECT_EQ(CancelOf(server, &add), NRC_CANCEL);
    NCB datagram = MakeNcb(NCBDGSEND);
    EXPECT_EQ(CancelOf(server, &datagram), NRC_CANCEL);
    NCB cancel = MakeNcb(NCBCANCEL);
    EXPECT_EQ(CancelOf(server, &cancel), NRC_CANCEL);
    NCB no_target = MakeNcb(NCBCANCEL);
    EXPECT_EQ(server.provider.Netbios(&no_target), NRC_BUFLEN);
    Provider not_reset(testing::LoopbackSettings());
    EXPECT_EQ(not_reset.Netbios(&cancel), NRC_ENVNOTDEF);
}

TEST_F(TwoSessions, CancelledSendAbortsItsSession) {
    // A peer that never reads: sends pile up until one waits.
    auto listen = server.Listen("SERVER", "*");
    testing::TcpPeer peer(server.SessionEndpoint());
    peer.Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("RAWPEER")));
    ASSERT_EQ(peer.Read(4), (std::vector<std::uint8_t>{0x82, 0, 0, 0}));
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    const UCHAR lsn = listen->ncb.ncb_lsn;
    std::vector<UCHAR> big(65535, 0x5A);
    std::vector<std::unique_ptr<AsyncNcb>> sends;
    while (sends.size() < 400) {
        sends.push_back(Post(NCBSEND | ASYNCH, lsn, big.data(), 65535));
        const UCHAR rc = sends.back()->Wait(200ms);
        if (rc == NRC_PENDING) break;
        ASSERT_EQ(rc, NRC_GOODRET);
    }
    AsyncNcb &stuck = *sends.back();
    if (stuck.Wait(0ms) != NRC_PENDING) GTEST_SKIP() << "the kernel took every send";
    auto receive = Post(NCBRECV | ASYNCH, lsn, buffer, sizeof buffer);
    ASSERT_EQ(CancelOf(server, &stuck.ncb), NRC_GOODRET);
    EXPECT_EQ(stuck.Wait(), NRC_CMDCAN);
    EXPECT_EQ(receive->Wait(), NRC_SABORT) << "the session went down with the send";
    EXPECT_FALSE(peer.ReadToEnd()) << "the peer sees a reset";
}

}  // namespace
}  // namespace nbt
