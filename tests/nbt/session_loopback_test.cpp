// SPDX-License-Identifier: MIT
// Sessions between two loopback nodes in one process (no root): setup,
// pairing, data in both directions and closing.
#include <gtest/gtest.h>

#include <numeric>

#include "loopback_node.h"

namespace nbt {
namespace {

using testing::AsyncNcb;
using testing::LoopbackNode;
using testing::Padded;

class TwoNodes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server.AddName("SERVER"), NRC_GOODRET);
        ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET);
    }
    // A session: LISTEN on SERVER for `*`, CALL from CLIENT.
    void Connect(UCHAR *server_lsn, UCHAR *client_lsn, UCHAR rto = 0, UCHAR sto = 0) {
        auto listen = server.Listen("SERVER", "*", rto, sto);
        ASSERT_EQ(client.Call("CLIENT", "SERVER", client_lsn, rto, sto), NRC_GOODRET);
        ASSERT_EQ(listen->Wait(), NRC_GOODRET);
        *server_lsn = listen->ncb.ncb_lsn;
        EXPECT_EQ(0, std::memcmp(listen->ncb.ncb_callname, Padded("CLIENT").data(), 16));
    }

    LoopbackNode server;
    LoopbackNode client;
};

TEST_F(TwoNodes, DataBothWaysAtTheSizesThatMatter) {
    UCHAR s = 0, c = 0;
    Connect(&s, &c);
    for (WORD size : {0, 1, 4000, 65535}) {
        std::vector<UCHAR> out(size);
        std::iota(out.begin(), out.end(), static_cast<UCHAR>(size));
        std::vector<UCHAR> in(65535, 0);
        WORD got = 0;
        ASSERT_EQ(client.Send(c, out.data(), size), NRC_GOODRET);
        ASSERT_EQ(server.Receive(s, in.data(), 65535, &got), NRC_GOODRET) << size;
        ASSERT_EQ(got, size);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
        ASSERT_EQ(server.Send(s, out.data(), size), NRC_GOODRET);
        ASSERT_EQ(client.Receive(c, in.data(), 65535, &got), NRC_GOODRET) << size;
        ASSERT_EQ(got, size);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
    }
}

TEST_F(TwoNodes, ReceiveInPiecesKeepsTheRestForTheNextReceive) {
    UCHAR s = 0, c = 0;
    Connect(&s, &c);
    std::vector<UCHAR> out(10);
    std::iota(out.begin(), out.end(), 1);
    ASSERT_EQ(client.Send(c, out.data(), 10), NRC_GOODRET);
    ASSERT_EQ(client.Send(c, "next", 4), NRC_GOODRET);
    UCHAR in[4];
    WORD got = 0;
    EXPECT_EQ(server.Receive(s, in, 4, &got), NRC_INCOMP);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(in[0], 1);
    EXPECT_EQ(server.Receive(s, in, 4, &got), NRC_INCOMP);
    EXPECT_EQ(in[0], 5);
    EXPECT_EQ(server.Receive(s, in, 4, &got), NRC_GOODRET);  // the last two bytes end the message
    EXPECT_EQ(got, 2);
    EXPECT_EQ(in[0], 9);
    EXPECT_EQ(server.Receive(s, in, 4, &got), NRC_GOODRET);  // the second message, whole
    EXPECT_EQ(0, std::memcmp(in, "next", 4));
}

TEST_F(TwoNodes, HangupClosesThePeerOnceThenTheNumberIsFree) {
    UCHAR s = 0, c = 0;
    Connect(&s, &c);
    // A receive waiting on the server when the client hangs up.
    AsyncNcb waiting(NCBRECV);
    UCHAR buffer[8];
    waiting.ncb.ncb_lsn = s;
    waiting.ncb.ncb_buffer = buffer;
    waiting.ncb.ncb_length = sizeof buffer;
    ASSERT_EQ(waiting.Submit(server.provider), NRC_GOODRET);
    EXPECT_EQ(client.Hangup(c), NRC_GOODRET);
    EXPECT_EQ(waiting.Wait(), NRC_SCLOSED);
    // Reported once: the number is free now.
    EXPECT_EQ(server.Send(s, "x", 1), NRC_SNUMOUT);
    EXPECT_EQ(client.Send(c, "x", 1), NRC_SNUMOUT);
    EXPECT_EQ(client.Hangup(c), NRC_SNUMOUT);
}

TEST_F(TwoNodes, CloseWithNobodyWaitingIsReportedByTheNextCommand) {
    UCHAR s = 0, c = 0;
    Connect(&s, &c);
    ASSERT_EQ(client.Send(c, "last", 4), NRC_GOODRET);
    EXPECT_EQ(client.Hangup(c), NRC_GOODRET);
    UCHAR in[8];
    WORD got = 0;
    // The message sent before the hangup still arrives, then the close.
    EXPECT_EQ(server.Receive(s, in, sizeof in, &got), NRC_GOODRET);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(server.Receive(s, in, sizeof in, &got), NRC_SCLOSED);
    EXPECT_EQ(server.Hangup(s), NRC_SNUMOUT);
}

TEST_F(TwoNodes, ResetAbortsThePeersSession) {
    UCHAR s = 0, c = 0;
    Connect(&s, &c);
    AsyncNcb waiting(NCBRECV);
    UCHAR buffer[8];
    waiting.ncb.ncb_lsn = c;
    waiting.ncb.ncb_buffer = buffer;
    waiting.ncb.ncb_length = sizeof buffer;
    ASSERT_EQ(waiting.Submit(client.provider), NRC_GOODRET);
    ASSERT_EQ(testing::ResetLana(server.provider), NRC_GOODRET);
    EXPECT_EQ(waiting.Wait(), NRC_SABORT);
    EXPECT_EQ(client.Send(c, "x", 1), NRC_SNUMOUT);
}

}  // namespace
}  // namespace nbt
