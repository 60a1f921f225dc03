// SPDX-License-Identifier: MIT
// Session setup on loopback nodes: which LISTEN a request completes, every
// negative response and what the caller makes of it, calls to our own names,
// the session limit, resets, and the status report.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "loopback_node.h"
#include "session_packet.h"
#include "tcp_peer.h"

namespace nbt {
namespace {

using testing::AsyncNcb;
using testing::LoopbackNode;
using testing::Padded;
using testing::TcpPeer;

// Sends a SESSION REQUEST by hand and returns the reply's bytes.
std::vector<std::uint8_t> RawRequest(const LoopbackNode &node, const std::string &called,
                                     const std::string &calling) {
    TcpPeer peer(node.SessionEndpoint());
    peer.Write(*codec::EncodeSessionRequest(Padded(called), Padded(calling)));
    std::vector<std::uint8_t> reply = peer.Read(4);
    if (reply[0] != 0x83) return reply;
    std::vector<std::uint8_t> rest;
    EXPECT_TRUE(peer.ReadToEnd(&rest));  // a refusal is followed by the close
    reply.insert(reply.end(), rest.begin(), rest.end());
    return reply;
}

const std::vector<std::uint8_t> kPositive = {0x82, 0, 0, 0};
std::vector<std::uint8_t> Negative(std::uint8_t code) {
    return {0x83, 0, 0, 1, code};
}

TEST(SessionSetup, EveryNegativeResponseOnTheWire) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    // Called name not held.
    EXPECT_EQ(RawRequest(node, "NOBODY", "CALLER"), Negative(0x82));
    // Held, but nobody listening on it.
    EXPECT_EQ(RawRequest(node, "SERVER", "CALLER"), Negative(0x80));
    // Listening, but only for another caller.
    auto listen = node.Listen("SERVER", "FRIEND");
    EXPECT_EQ(RawRequest(node, "SERVER", "CALLER"), Negative(0x81));
    EXPECT_EQ(RawRequest(node, "SERVER", "friend"), Negative(0x81));  // names are raw bytes
    EXPECT_EQ(listen->Wait(std::chrono::milliseconds(50)), NRC_PENDING);
    // The named caller is let in; the raw peer then closes, which the new
    // session reports to its first command.
    EXPECT_EQ(RawRequest(node, "SERVER", "FRIEND"), kPositive);
    EXPECT_EQ(listen->Wait(), NRC_GOODRET);
}

TEST(SessionSetup, CallerSideCodesForEachRefusal) {
    LoopbackNode server, client;
    ASSERT_EQ(server.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET);
    // Nobody answers the name query.
    EXPECT_EQ(client.Call("CLIENT", "NOBODY"), NRC_NOCALL);
    // 0x80: not listening on the called name -> the remote refuses.
    EXPECT_EQ(client.Call("CLIENT", "SERVER"), NRC_REMTFUL);
    // 0x81: listening for somebody else.
    auto listen = server.Listen("SERVER", "FRIEND");
    EXPECT_EQ(client.Call("CLIENT", "SERVER"), NRC_REMTFUL);
    // A calling name we do not hold, and the wildcard as callname.
    EXPECT_EQ(client.Call("STRANGER", "SERVER"), NRC_NOWILD);
    EXPECT_EQ(client.Call("*", "SERVER"), NRC_NOWILD);
    AsyncNcb wild(NCBCALL);
    testing::SetName(wild.ncb.ncb_name, "CLIENT");
    testing::SetName(wild.ncb.ncb_callname, "*", ' ');
    ASSERT_EQ(wild.Submit(client.provider), NRC_GOODRET);
    EXPECT_EQ(wild.Wait(), NRC_NOWILD);
    // Listening on a name we do not hold.
    AsyncNcb bad_listen(NCBLISTEN);
    testing::SetName(bad_listen.ncb.ncb_name, "NOTMINE");
    testing::SetName(bad_listen.ncb.ncb_callname, "*", ' ');
    ASSERT_EQ(bad_listen.Submit(server.provider), NRC_GOODRET);
    EXPECT_EQ(bad_listen.Wait(), NRC_NOWILD);
    // The FRIEND listen is still pending: end it before its block goes away.
    ASSERT_EQ(testing::ResetLana(server.provider), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(), NRC_CMDCAN);
}

TEST(SessionSetup, SpecificListenBeatsAnyCallerAndOldestFirst) {
    LoopbackNode server, client;
    ASSERT_EQ(server.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET);
    ASSERT_EQ(client.AddName("OTHER"), NRC_GOODRET);
    auto any_old = server.Listen("SERVER", "*");
    auto specific = server.Listen("SERVER", "CLIENT");
    auto any_new = server.Listen("SERVER", "*");

    UCHAR lsn = 0;
    ASSERT_EQ(client.Call("CLIENT", "SERVER", &lsn), NRC_GOODRET);
    EXPECT_EQ(specific->Wait(), NRC_GOODRET);
    EXPECT_EQ(any_old->Wait(std::chrono::milliseconds(50)), NRC_PENDING);
    ASSERT_EQ(client.Call("OTHER", "SERVER", &lsn), NRC_GOODRET);
    EXPECT_EQ(any_old->Wait(), NRC_GOODRET);
    EXPECT_EQ(0, std::memcmp(any_old->ncb.ncb_callname, Padded("OTHER").data(), 16));
    EXPECT_EQ(any_new->Wait(std::chrono::milliseconds(50)), NRC_PENDING);
    ASSERT_EQ(client.Call("CLIENT", "SERVER", &lsn), NRC_GOODRET);
    EXPECT_EQ(any_new->Wait(), NRC_GOODRET);
    // Three different numbers on the listening side.
    EXPECT_NE(specific->ncb.ncb_lsn, any_old->ncb.ncb_lsn);
    EXPECT_NE(any_old->ncb.ncb_lsn, any_new->ncb.ncb_lsn);
}

TEST(SessionSetup, CallToOurOwnNameAndStatusOfBothEnds) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SELF"), NRC_GOODRET);
    ASSERT_EQ(node.AddName("OTHER"), NRC_GOODRET);
    auto listen = node.Listen("SELF", "*");

    // Pending LISTEN shows as state 1.
    std::vector<UCHAR> status(4 + 36 * 4);
    NCB sstat = testing::MakeNcb(NCBSSTAT);
    testing::SetName(sstat.ncb_name, "*", ' ');
    sstat.ncb_buffer = status.data();
    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(node.provider.Netbios(&sstat), NRC_GOODRET);
    EXPECT_EQ(status[0], 0xFF);
    ASSERT_EQ(status[1], 1);
    EXPECT_EQ(status[4 + 1], LISTEN_OUTSTANDING);

    UCHAR caller = 0;
    ASSERT_EQ(node.Call("OTHER", "SELF", &caller), NRC_GOODRET);
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    const UCHAR listener = listen->ncb.ncb_lsn;
    EXPECT_NE(caller, listener);

    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(node.provider.Netbios(&sstat), NRC_GOODRET);
    ASSERT_EQ(status[1], 2);
    for (int i = 0; i < 2; ++i) {
        SESSION_BUFFER record;
        std::memcpy(&record, status.data() + 4 + 36 * i, sizeof record);
        EXPECT_EQ(record.state, SESSION_ESTABLISHED);
        const bool is_caller = record.lsn == caller;
        EXPECT_EQ(0, std::memcmp(record.local_name, Padded(is_caller ? "OTHER" : "SELF").data(), 16));
        EXPECT_EQ(0, std::memcmp(record.remote_name, Padded(is_caller ? "SELF" : "OTHER").data(), 16));
    }

    // One name: its number in sess_name and only its session.
    testing::SetName(sstat.ncb_name, "SELF");
    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(node.provider.Netbios(&sstat), NRC_GOODRET);
    EXPECT_NE(status[0], 0xFF);
    EXPECT_EQ(status[1], 1);
    EXPECT_EQ(status[4], listener);

    // Whole records only, and the count says how many.
    testing::SetName(sstat.ncb_name, "*", ' ');
    sstat.ncb_length = 4 + 36 + 20;
    EXPECT_EQ(node.provider.Netbios(&sstat), NRC_INCOMP);
    EXPECT_EQ(status[1], 1);
    sstat.ncb_length = 3;
    EXPECT_EQ(node.provider.Netbios(&sstat), NRC_BUFLEN);
    testing::SetName(sstat.ncb_name, "NOTMINE");
    sstat.ncb_length = static_cast<WORD>(status.size());
    EXPECT_EQ(node.provider.Netbios(&sstat), NRC_NOWILD);

    // Data through our own listener.
    ASSERT_EQ(node.Send(caller, "loop", 4), NRC_GOODRET);
    char in[8];
    WORD got = 0;
    ASSERT_EQ(node.Receive(listener, in, sizeof in, &got), NRC_GOODRET);
    EXPECT_EQ(std::string(in, got), "loop");
}

TEST(SessionSetup, SessionLimitCountsPendingListensAndNumbersRoundRobin) {
    LoopbackNode node(testing::FastSettings(), 2);
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(node.AddName("CLIENT"), NRC_GOODRET);
    auto listen = node.Listen("SERVER", "*");
    UCHAR first = 0;
    ASSERT_EQ(node.Call("CLIENT", "SERVER", &first), NRC_GOODRET);
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    auto third = node.Listen("SERVER", "*");
    EXPECT_EQ(third->Wait(), NRC_LOCTFUL);
    // A freed number is not the next one handed out.
    const UCHAR freed = listen->ncb.ncb_lsn;
    ASSERT_EQ(node.Hangup(freed), NRC_GOODRET);
    char in[4];
    ASSERT_EQ(node.Receive(first, in, sizeof in), NRC_SCLOSED);  // its peer went first
    auto again = node.Listen("SERVER", "*");
    UCHAR next = 0;
    ASSERT_EQ(node.Call("CLIENT", "SERVER", &next), NRC_GOODRET);
    ASSERT_EQ(again->Wait(), NRC_GOODRET);
    EXPECT_NE(again->ncb.ncb_lsn, freed);
    EXPECT_NE(next, freed);
    EXPECT_NE(next, first);
}

TEST(SessionSetup, StatusShowsACallInProgress) {
    Settings slow = testing::FastSettings();
    slow.bcast_retry_timeout = std::chrono::milliseconds(400);  // the query takes 1.2 s
    slow.bcast_retry_count = 3;
    LoopbackNode node(slow);
    ASSERT_EQ(node.AddName("CLIENT"), NRC_GOODRET);
    AsyncNcb call(NCBCALL);
    testing::SetName(call.ncb.ncb_name, "CLIENT");
    testing::SetName(call.ncb.ncb_callname, "NOBODY");
    ASSERT_EQ(call.Submit(node.provider), NRC_GOODRET);

    std::vector<UCHAR> status(4 + 36);
    NCB sstat = testing::MakeNcb(NCBSSTAT);
    testing::SetName(sstat.ncb_name, "CLIENT");
    sstat.ncb_buffer = status.data();
    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(node.provider.Netbios(&sstat), NRC_GOODRET);
    ASSERT_EQ(status[1], 1);
    SESSION_BUFFER record;
    std::memcpy(&record, status.data() + 4, sizeof record);
    EXPECT_EQ(record.state, CALL_PENDING);
    EXPECT_EQ(0, std::memcmp(record.remote_name, Padded("NOBODY").data(), 16));

    // A name with a call under way is only marked for deletion.
    NCB del = testing::MakeNcb(NCBDELNAME);
    testing::SetName(del.ncb_name, "CLIENT");
    EXPECT_EQ(node.provider.Netbios(&del), NRC_ACTSES);
    EXPECT_EQ(call.Wait(), NRC_NOCALL);
    // The failed call was its last session: the name is gone now.
    EXPECT_EQ(node.provider.Netbios(&del), NRC_NOWILD);
}

TEST(SessionSetup, TheRequestTimerNeverStrandsAMatchedListen) {
    // The timer that limits the wait for a session request fires while the
    // positive answer is being written: the connection and the LISTEN it
    // took still become the session.
    Settings settings = testing::FastSettings();
    settings.answer_sent_for_test = [](const std::function<void()> &request_timer_fires) {
        request_timer_fires();
    };
    LoopbackNode node(settings);
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    auto listen = node.Listen("SERVER", "*");
    TcpPeer peer(node.SessionEndpoint());
    peer.Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("CALLER")));
    const UCHAR rc = listen->Wait();
    if (rc == NRC_PENDING) testing::ResetLana(node.provider);  // never leave the block behind
    ASSERT_EQ(rc, NRC_GOODRET);
    EXPECT_EQ(peer.Read(4), kPositive);
}

TEST(SessionSetup, ResetEndsAWaitingListenAndClosesSessions) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    auto listen = node.Listen("SERVER", "*");
    EXPECT_EQ(listen->Wait(std::chrono::milliseconds(50)), NRC_PENDING);
    ASSERT_EQ(testing::ResetLana(node.provider), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(), NRC_CMDCAN);
    EXPECT_EQ(node.Hangup(1), NRC_SNUMOUT);
}

TEST(SessionSetup, HangupOfAPendingListenEndsIt) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    auto listen = node.Listen("SERVER", "*");
    std::vector<UCHAR> status(4 + 36);
    NCB sstat = testing::MakeNcb(NCBSSTAT);
    testing::SetName(sstat.ncb_name, "*", ' ');
    sstat.ncb_buffer = status.data();
    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(node.provider.Netbios(&sstat), NRC_GOODRET);
    ASSERT_EQ(status[1], 1);
    EXPECT_EQ(node.Hangup(status[4]), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(), NRC_SCLOSED);
    EXPECT_EQ(node.Hangup(0), NRC_SNUMOUT);
    EXPECT_EQ(node.Hangup(255), NRC_SNUMOUT);
}

TEST(SessionSetup, DeletingANameEndsItsListensAndWaitsForItsLastSession) {
    LoopbackNode server, client;
    ASSERT_EQ(server.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET);
    auto listen = server.Listen("SERVER", "*");
    UCHAR c = 0;
    ASSERT_EQ(client.Call("CLIENT", "SERVER", &c), NRC_GOODRET);
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    auto spare = server.Listen("SERVER", "*");

    NCB del = testing::MakeNcb(NCBDELNAME);
    testing::SetName(del.ncb_name, "SERVER");
    EXPECT_EQ(server.provider.Netbios(&del), NRC_ACTSES);
    EXPECT_EQ(spare->Wait(), NRC_NAMERR);
    // Deregistered: no new session on it.
    EXPECT_EQ(client.Call("CLIENT", "SERVER"), NRC_NOCALL);
    // The session itself goes on until it is hung up; then the name is gone.
    ASSERT_EQ(client.Send(c, "still", 5), NRC_GOODRET);
    char in[8];
    ASSERT_EQ(server.Receive(listen->ncb.ncb_lsn, in, sizeof in), NRC_GOODRET);
    ASSERT_EQ(server.Hangup(listen->ncb.ncb_lsn), NRC_GOODRET);
    NCB again = testing::MakeNcb(NCBDELNAME);
    testing::SetName(again.ncb_name, "SERVER");
    EXPECT_EQ(server.provider.Netbios(&again), NRC_NOWILD);
}

TEST(SessionSetup, ADeregisteredNameGoesWhenThePeerEndsItsLastSession) {
    LoopbackNode server, client;
    ASSERT_EQ(server.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET);
    auto listen = server.Listen("SERVER", "*");
    UCHAR c = 0;
    ASSERT_EQ(client.Call("CLIENT", "SERVER", &c), NRC_GOODRET);
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);
    NCB del = testing::MakeNcb(NCBDELNAME);
    testing::SetName(del.ncb_name, "SERVER");
    ASSERT_EQ(server.provider.Netbios(&del), NRC_ACTSES);
    // The peer hangs up; nobody on the server side touches the session.
    ASSERT_EQ(client.Hangup(c), NRC_GOODRET);
    // A status request for the name answers NOWILD once it has left the table.
    std::vector<UCHAR> status(4 + 36);
    NCB sstat = testing::MakeNcb(NCBSSTAT);
    testing::SetName(sstat.ncb_name, "SERVER");
    sstat.ncb_buffer = status.data();
    UCHAR rc = NRC_GOODRET;
    for (int i = 0; i < 100 && rc != NRC_NOWILD; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sstat.ncb_length = static_cast<WORD>(status.size());
        rc = server.provider.Netbios(&sstat);
    }
    EXPECT_EQ(rc, NRC_NOWILD);
    // The close is still reported once on the number.
    char in[4];
    EXPECT_EQ(server.Receive(listen->ncb.ncb_lsn, in, sizeof in), NRC_SCLOSED);
}

TEST(SessionSetup, AsynchronousFormsCompleteOnTheProvidersThread) {
    LoopbackNode node;
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    ASSERT_EQ(node.AddName("CLIENT"), NRC_GOODRET);
    static std::thread::id posted_on;
    static NbtEvent posted;
    posted.Reset();
    NCB listen = testing::MakeNcb(NCBLISTEN | ASYNCH);
    testing::SetName(listen.ncb_name, "SERVER");
    testing::SetName(listen.ncb_callname, "*", ' ');
    listen.ncb_post = [](NCB *) {
        posted_on = std::this_thread::get_id();
        posted.Set();
    };
    ASSERT_EQ(node.provider.Netbios(&listen), NRC_GOODRET);
    EXPECT_EQ(listen.ncb_cmd_cplt, NRC_PENDING);
    ASSERT_EQ(node.Call("CLIENT", "SERVER"), NRC_GOODRET);
    ASSERT_TRUE(posted.WaitFor(std::chrono::seconds(10)));
    EXPECT_EQ(listen.ncb_retcode, NRC_GOODRET);
    EXPECT_NE(posted_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace nbt
