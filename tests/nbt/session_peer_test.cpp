// SPDX-License-Identifier: MIT
// A loopback node against a peer written by hand with a raw TCP socket:
// large messages, keep-alives, the peer closing or resetting, garbage,
// time-outs and flow control.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <asio.hpp>
#include <atomic>
#include <filesystem>
#include <future>
#include <iterator>
#include <numeric>
#include <stdexcept>
#include <thread>

#include "io_thread.h"
#include "loopback_node.h"
#include "session_packet.h"
#include "tcp_peer.h"

namespace nbt {
namespace {

using testing::AsyncNcb;
using testing::Eventually;
using testing::LoopbackNode;
using testing::Padded;
using testing::TcpPeer;

std::vector<std::uint8_t> Message(std::uint32_t length, std::uint8_t seed = 0) {
    std::vector<std::uint8_t> bytes(4 + length);
    const auto header = *codec::EncodeSessionHeader(codec::SessionType::kMessage, length);
    std::copy(header.begin(), header.end(), bytes.begin());
    for (std::uint32_t i = 0; i < length; ++i) bytes[4 + i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

class RawCaller : public ::testing::Test {
protected:
    // Opens a session from the raw peer to SERVER; rto/sto for the node's side.
    void Open(UCHAR rto = 0, UCHAR sto = 0) {
        ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
        auto listen = node.Listen("SERVER", "*", rto, sto);
        peer = std::make_unique<TcpPeer>(node.SessionEndpoint());
        peer->Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("RAWPEER")));
        ASSERT_EQ(peer->Read(4), (std::vector<std::uint8_t>{0x82, 0, 0, 0}));
        ASSERT_EQ(listen->Wait(), NRC_GOODRET);
        lsn = listen->ncb.ncb_lsn;
    }
    std::unique_ptr<AsyncNcb> PendingReceive(UCHAR *buffer, WORD length) {
        auto recv = std::make_unique<AsyncNcb>(NCBRECV);
        recv->ncb.ncb_lsn = lsn;
        recv->ncb.ncb_buffer = buffer;
        recv->ncb.ncb_length = length;
        EXPECT_EQ(recv->Submit(node.provider), NRC_GOODRET);
        EXPECT_EQ(recv->Wait(std::chrono::milliseconds(30)), NRC_PENDING);
        return recv;
    }

    LoopbackNode node;
    std::unique_ptr<TcpPeer> peer;
    UCHAR lsn = 0;
};

TEST_F(RawCaller, LargestPeerMessageArrivesInPieces) {
    Open();
    const auto message = Message(131071, 3);
    peer->Write(message);
    std::vector<UCHAR> in(65535);
    std::vector<UCHAR> all;
    WORD got = 0;
    EXPECT_EQ(node.Receive(lsn, in.data(), 65535, &got), NRC_INCOMP);
    all.insert(all.end(), in.begin(), in.begin() + got);
    EXPECT_EQ(node.Receive(lsn, in.data(), 65535, &got), NRC_INCOMP);
    all.insert(all.end(), in.begin(), in.begin() + got);
    EXPECT_EQ(node.Receive(lsn, in.data(), 65535, &got), NRC_GOODRET);
    EXPECT_EQ(got, 1);
    all.insert(all.end(), in.begin(), in.begin() + got);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), message.begin() + 4, message.end()));
}

// A read that fills a waiting receive's buffer past its message takes the
// start of the next ones too: they still come out in order, whole, in pieces
// or skipped (a run of keep-alives longer than one turn reads), and the
// peer's close behind them is reported after the last.
TEST_F(RawCaller, BytesReadPastAMessageAreTheNextMessagesInOrderThenTheClose) {
    Open();
    std::vector<UCHAR> big(65535);
    auto first = PendingReceive(big.data(), 65535);
    const std::vector<std::vector<std::uint8_t>> messages{Message(100, 1), Message(5000, 2), Message(0),
                                                          Message(20, 3)};
    std::vector<std::uint8_t> stream;
    for (const auto &message : messages) {
        stream.insert(stream.end(), message.begin(), message.end());
        if (stream.size() > 4000)
            for (int i = 0; i < 40; ++i) stream.insert(stream.end(), {0x85, 0, 0, 0});
    }
    peer->Write(stream);
    peer->socket.shutdown(asio::socket_base::shutdown_send);
    ASSERT_EQ(first->Wait(), NRC_GOODRET);
    ASSERT_EQ(first->ncb.ncb_length, 100);
    EXPECT_TRUE(std::equal(big.begin(), big.begin() + 100, messages[0].begin() + 4));

    std::vector<UCHAR> all, piece(2000);
    WORD got = 0;
    for (UCHAR rc : {NRC_INCOMP, NRC_INCOMP, NRC_GOODRET}) {
        ASSERT_EQ(node.Receive(lsn, piece.data(), 2000, &got), rc);
        all.insert(all.end(), piece.begin(), piece.begin() + got);
    }
    EXPECT_TRUE(std::equal(all.begin(), all.end(), messages[1].begin() + 4, messages[1].end()));
    ASSERT_EQ(node.Receive(lsn, piece.data(), 2000, &got), NRC_GOODRET);
    EXPECT_EQ(got, 0);
    ASSERT_EQ(node.Receive(lsn, piece.data(), 2000, &got), NRC_GOODRET);
    ASSERT_EQ(got, 20);
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 20, messages[3].begin() + 4));
    EXPECT_EQ(node.Receive(lsn, piece.data(), 2000), NRC_SCLOSED);
}

TEST_F(RawCaller, KeepAlivesAreSkippedAndOurMessagesAreFramedOnePerSend) {
    Open();
    peer->Write({0x85, 0, 0, 0, 0x85, 0, 0, 0});
    peer->Write(Message(3, 9));
    UCHAR in[8];
    WORD got = 0;
    ASSERT_EQ(node.Receive(lsn, in, sizeof in, &got), NRC_GOODRET);
    EXPECT_EQ(got, 3);
    ASSERT_EQ(node.Send(lsn, "abc", 3), NRC_GOODRET);
    ASSERT_EQ(node.Send(lsn, "", 0), NRC_GOODRET);
    EXPECT_EQ(peer->Read(7), (std::vector<std::uint8_t>{0, 0, 0, 3, 'a', 'b', 'c'}));
    EXPECT_EQ(peer->Read(4), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST_F(RawCaller, PeerCloseWhileAReceiveWaits) {
    Open();
    UCHAR in[8];
    auto recv = PendingReceive(in, sizeof in);
    peer->socket.shutdown(asio::socket_base::shutdown_send);
    EXPECT_EQ(recv->Wait(), NRC_SCLOSED);
    EXPECT_TRUE(peer->ReadToEnd());  // our side closed cleanly too
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_SNUMOUT);
}

TEST_F(RawCaller, PeerResetWhileAReceiveWaits) {
    Open();
    UCHAR in[8];
    auto recv = PendingReceive(in, sizeof in);
    peer->Reset();
    EXPECT_EQ(recv->Wait(), NRC_SABORT);
    EXPECT_EQ(node.Send(lsn, "x", 1), NRC_SNUMOUT);
}

TEST_F(RawCaller, APostRoutineThatThrowsDoesNotStopTheOtherCompletions) {
    Open();
    const auto thrown = ThrownPostRoutines();
    UCHAR in[3][8];
    AsyncNcb throwing(NCBRECV);
    throwing.ncb.ncb_event = nullptr;
    throwing.ncb.ncb_post = [](NCB *) { throw std::runtime_error("post routine"); };
    throwing.ncb.ncb_lsn = lsn;
    throwing.ncb.ncb_buffer = in[0];
    throwing.ncb.ncb_length = sizeof in[0];
    ASSERT_EQ(throwing.Submit(node.provider), NRC_GOODRET);
    auto second = PendingReceive(in[1], sizeof in[1]);
    auto third = PendingReceive(in[2], sizeof in[2]);
    // The abort ends all three in a row, the throwing one first.
    peer->Reset();
    EXPECT_EQ(second->Wait(), NRC_SABORT);
    EXPECT_EQ(third->Wait(), NRC_SABORT);
    EXPECT_EQ(throwing.ncb.ncb_retcode, NRC_SABORT);
    EXPECT_EQ(ThrownPostRoutines() - thrown, 1u);
    testing::ResetLana(node.provider);  // nothing left pending on these blocks, whatever happened
}

TEST_F(RawCaller, GarbageAbortsTheSession) {
    Open();
    UCHAR in[8];
    auto recv = PendingReceive(in, sizeof in);
    peer->Write({0x47, 0x45, 0x54, 0x20});  // "GET "
    EXPECT_EQ(recv->Wait(), NRC_SABORT);
    EXPECT_FALSE(peer->ReadToEnd());  // reset, not closed
}

// Another holder of the session's socket (a forked child, or korveld, which
// keeps a copy of each session it hands to a program) must not keep the
// reset from the peer.
TEST_F(RawCaller, AnAbortResetsThePeerWhileAnotherDescriptorHoldsTheSocket) {
    Open();
    const auto ours = peer->socket.local_endpoint();
    int copy = -1;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in6 address{};
        socklen_t size = sizeof address;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
            address.sin6_family != AF_INET)
            continue;
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        if (ntohs(v4->sin_port) == ours.port() &&
            ntohl(v4->sin_addr.s_addr) == ours.address().to_v4().to_uint()) {
            copy = ::dup(fd);
            break;
        }
    }
    ASSERT_GE(copy, 0) << "the session's socket was not found";
    UCHAR in[8];
    auto recv = PendingReceive(in, sizeof in);
    peer->Write({0x47, 0x45, 0x54, 0x20});  // garbage: the session aborts
    EXPECT_EQ(recv->Wait(), NRC_SABORT);
    pollfd watch{peer->socket.native_handle(), POLLIN, 0};
    ASSERT_EQ(::poll(&watch, 1, 2000), 1) << "the peer heard nothing";
    std::uint8_t byte;
    EXPECT_EQ(::recv(watch.fd, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(copy);
}

TEST_F(RawCaller, SetupPacketInsideASessionAbortsIt) {
    Open();
    peer->Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("RAWPEER")));
    UCHAR in[8];
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_SABORT);
}

TEST_F(RawCaller, PeerStoppingMidHeaderTimesOutThenAbortsWhenItLeaves) {
    Open(/*rto=*/1);
    peer->Write({0x00, 0x00});
    UCHAR in[8];
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_CMDTMO);
    peer->socket.shutdown(asio::socket_base::shutdown_send);
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_SABORT);  // cut off inside a header
}

TEST_F(RawCaller, ReceiveTimeOutKeepsTheSession) {
    Open(/*rto=*/1);
    UCHAR in[8];
    WORD got = 0;
    EXPECT_EQ(node.Receive(lsn, in, sizeof in, &got), NRC_CMDTMO);
    peer->Write(Message(2, 1));
    EXPECT_EQ(node.Receive(lsn, in, sizeof in, &got), NRC_GOODRET);
    EXPECT_EQ(got, 2);
    ASSERT_EQ(node.Send(lsn, "ok", 2), NRC_GOODRET);
    EXPECT_EQ(peer->Read(6), (std::vector<std::uint8_t>{0, 0, 0, 2, 'o', 'k'}));
}

TEST_F(RawCaller, SendTimeOutAbortsTheSession) {
    Open(/*rto=*/0, /*sto=*/1);
    // The peer reads nothing, so TCP soon stops taking our bytes.
    std::vector<UCHAR> block(65535, 0x55);
    UCHAR rc = NRC_GOODRET;
    for (int i = 0; i < 2000 && rc == NRC_GOODRET; ++i) rc = node.Send(lsn, block.data(), 65535);
    EXPECT_EQ(rc, NRC_CMDTMO);
    UCHAR in[8];
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_SABORT);  // reported once
    EXPECT_EQ(node.Receive(lsn, in, sizeof in), NRC_SNUMOUT);
}

TEST_F(RawCaller, HangupWaitsForTheSendsUnderWayThenCloses) {
    Open();
    // Fill the path to the peer until a send stays pending.
    std::vector<UCHAR> block(65535, 0x33);
    std::vector<std::unique_ptr<AsyncNcb>> sends;
    for (int i = 0; i < 2000; ++i) {
        auto send = std::make_unique<AsyncNcb>(NCBSEND);
        send->ncb.ncb_lsn = lsn;
        send->ncb.ncb_buffer = block.data();
        send->ncb.ncb_length = 65535;
        ASSERT_EQ(send->Submit(node.provider), NRC_GOODRET);
        const bool stuck = send->Wait(std::chrono::milliseconds(200)) == NRC_PENDING;
        sends.push_back(std::move(send));
        if (stuck) break;
    }
    ASSERT_EQ(sends.back()->Status(), NRC_PENDING) << "the peer's buffers never filled";
    AsyncNcb hangup(NCBHANGUP);
    hangup.ncb.ncb_lsn = lsn;
    ASSERT_EQ(hangup.Submit(node.provider), NRC_GOODRET);
    EXPECT_EQ(hangup.Wait(std::chrono::milliseconds(100)), NRC_PENDING);
    // The peer drains everything: every message whole, then the close.
    std::vector<std::uint8_t> all;
    ASSERT_TRUE(peer->ReadToEnd(&all));
    EXPECT_EQ(all.size(), sends.size() * (4 + 65535));
    for (auto &send : sends) EXPECT_EQ(send->Wait(), NRC_GOODRET);
    EXPECT_EQ(hangup.Wait(), NRC_GOODRET);
    EXPECT_EQ(node.Send(lsn, "x", 1), NRC_SNUMOUT);
}

// Descriptors this process holds.
std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

TEST_F(RawCaller, AHungUpSessionLetsGoOnceThePeerHasClosedToo) {
    Open();
    const std::size_t open = OpenDescriptors();
    ASSERT_EQ(node.Hangup(lsn), NRC_GOODRET);  // our FIN; the node reads on until the peer's
    ASSERT_TRUE(peer->ReadToEnd());
    peer->socket.shutdown(asio::socket_base::shutdown_send);
    // At once, not when the close time-out (30 s) runs out.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (OpenDescriptors() >= open && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_LT(OpenDescriptors(), open) << "the node still holds the connection";
}

TEST(SessionKeepAlive, SentOnlyAfterDataAndOnlyWhenQuiet) {
    Settings settings = testing::FastSettings();
    settings.ssn_keep_alive = std::chrono::milliseconds(100);
    LoopbackNode node(settings);
    ASSERT_EQ(node.AddName("SERVER"), NRC_GOODRET);
    auto listen = node.Listen("SERVER", "*");
    TcpPeer peer(node.SessionEndpoint());
    peer.Write(*codec::EncodeSessionRequest(Padded("SERVER"), Padded("RAWPEER")));
    ASSERT_EQ(peer.Read(4), (std::vector<std::uint8_t>{0x82, 0, 0, 0}));
    ASSERT_EQ(listen->Wait(), NRC_GOODRET);

    // Quiet, but nothing carried yet: no keep-alive may come first.
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(peer.socket.available(), 0u);
    peer.Write(Message(1, 1));
    UCHAR in[4];
    ASSERT_EQ(node.Receive(listen->ncb.ncb_lsn, in, sizeof in), NRC_GOODRET);
    EXPECT_EQ(peer.Read(4), (std::vector<std::uint8_t>{0x85, 0, 0, 0}));
    // Messages still go out whole after keep-alives.
    ASSERT_EQ(node.Send(listen->ncb.ncb_lsn, "z", 1), NRC_GOODRET);
    std::vector<std::uint8_t> header;
    do header = peer.Read(4);
    while (header[0] == 0x85);
    EXPECT_EQ(header, (std::vector<std::uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(peer.Read(1), (std::vector<std::uint8_t>{'z'}));
}

TEST_F(RawCaller, ANodeThatIsNotReceivingHoldsThePeerBack) {
    Open();
    // Flood without any receive posted: the node reads at most one message
    // ahead, so the peer's writes stall once the socket buffers are full.
    peer->socket.non_blocking(true);
    const auto message = Message(65535);
    std::size_t written = 0;
    for (int spins = 0; spins < 200 && written < (std::size_t{256} << 20);) {
        asio::error_code ec;
        const std::size_t n = peer->socket.write_some(asio::buffer(message), ec);
        written += n;
        if (ec == asio::error::would_block) {
            ++spins;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } else if (ec) {
            FAIL() << ec.message();
        }
    }
    EXPECT_LT(written, std::size_t{64} << 20) << "the node kept reading without receives";
    peer->socket.non_blocking(false);
}

// ---- the caller's thread carrying its own commands --------------------------
// Sends the socket takes at once complete on the caller's thread, a message
// already here goes straight into the receive's buffer; a synchronous caller
// whose command cannot finish at once waits on the socket and carries it on
// itself; an asynchronous one leaves it to the network thread. These hold
// the order and the exactly-once rule across all of them.

std::unique_ptr<AsyncNcb> SubmitSend(LoopbackNode &node, UCHAR lsn, const std::vector<UCHAR> &data) {
    auto send = std::make_unique<AsyncNcb>(NCBSEND);
    send->ncb.ncb_lsn = lsn;
    send->ncb.ncb_buffer = const_cast<UCHAR *>(data.data());
    send->ncb.ncb_length = static_cast<WORD>(data.size());
    EXPECT_EQ(send->Submit(node.provider), NRC_GOODRET);
    return send;
}

TEST_F(RawCaller, SynchronousAndAsynchronousBlocksOnOneSessionKeepTheirOrder) {
    Open();
    const std::vector<std::vector<UCHAR>> out{{1}, {2, 2}, {3, 3, 3}, {4}, {5, 5}};
    auto first = SubmitSend(node, lsn, out[0]);
    auto second = SubmitSend(node, lsn, out[1]);
    auto third = SubmitSend(node, lsn, out[2]);
    ASSERT_EQ(node.Send(lsn, out[3].data(), 1), NRC_GOODRET);
    // The earlier blocks finished before the later synchronous one returned.
    EXPECT_EQ(first->ncb.ncb_cmd_cplt, NRC_GOODRET);
    EXPECT_EQ(second->ncb.ncb_cmd_cplt, NRC_GOODRET);
    EXPECT_EQ(third->ncb.ncb_cmd_cplt, NRC_GOODRET);
    auto fifth = SubmitSend(node, lsn, out[4]);
    EXPECT_EQ(fifth->Wait(), NRC_GOODRET);
    for (const auto &message : out) {
        const auto header = peer->Read(4);
        EXPECT_EQ(header[3], message.size());
        EXPECT_EQ(peer->Read(message.size()), std::vector<std::uint8_t>(message.begin(), message.end()));
    }

    // Receives: a waiting asynchronous one takes the first message, the
    // synchronous one after it the second, whichever path each message took.
    UCHAR in[2][8] = {};
    auto waiting = PendingReceive(in[0], sizeof in[0]);
    peer->Write(Message(3, 10));
    peer->Write(Message(5, 20));
    WORD got = 0;
    ASSERT_EQ(node.Receive(lsn, in[1], sizeof in[1], &got), NRC_GOODRET);
    EXPECT_EQ(waiting->ncb.ncb_cmd_cplt, NRC_GOODRET);
    EXPECT_EQ(waiting->ncb.ncb_length, 3);
    EXPECT_EQ(in[0][0], 10);
    EXPECT_EQ(got, 5);
    EXPECT_EQ(in[1][0], 20);

    // A synchronous receive already waiting on the socket behind an
    // asynchronous one whose buffer takes both messages of one segment: the
    // caller reads both and does not wait on the socket for its own.
    UCHAR wide[64] = {};
    auto before = PendingReceive(wide, sizeof wide);
    std::promise<UCHAR> result;
    NCB own = testing::MakeNcb(NCBRECV);
    own.ncb_lsn = lsn;
    own.ncb_buffer = in[1];
    own.ncb_length = sizeof in[1];
    std::thread caller([&] { result.set_value(node.provider.Netbios(&own)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto segment = Message(3, 30);
    const auto second_message = Message(5, 40);
    segment.insert(segment.end(), second_message.begin(), second_message.end());
    peer->Write(segment);
    auto done = result.get_future();
    const bool returned = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) node.Hangup(lsn);  // lets it go
    caller.join();
    ASSERT_TRUE(returned) << "the caller waited for bytes already read";
    EXPECT_EQ(done.get(), NRC_GOODRET);
    EXPECT_EQ(before->Wait(), NRC_GOODRET);
    EXPECT_EQ(before->ncb.ncb_length, 3);
    EXPECT_EQ(own.ncb_length, 5);
    EXPECT_EQ(in[1][0], 40);
}

TEST_F(RawCaller, EventsOfBlocksFinishedInPlaceNeedNoNetworkThreadNorWaitForPostRoutines) {
    Open();
    // The network thread held, without the state lock.
    std::promise<void> release;
    auto held = release.get_future().share();
    std::promise<void> holding;
    asio::post(IoThread::Get().context(), [held, &holding] {
        holding.set_value();
        held.wait();
    });
    holding.get_future().wait();

    static std::atomic<int> posts;
    posts = 0;
    const std::vector<UCHAR> byte{7};
    auto first = SubmitSend(node, lsn, byte);
    EXPECT_TRUE(first->event.IsSet()) << "an event alone waits for nobody";
    auto posted = std::make_unique<AsyncNcb>(NCBSEND);
    posted->ncb.ncb_lsn = lsn;
    posted->ncb.ncb_buffer = const_cast<UCHAR *>(byte.data());
    posted->ncb.ncb_length = 1;
    posted->ncb.ncb_event = nullptr;  // a post routine or an event, not both
    posted->ncb.ncb_post = [](NCB *) { ++posts; };
    ASSERT_EQ(posted->Submit(node.provider), NRC_GOODRET);
    ASSERT_EQ(posted->ncb.ncb_cmd_cplt, NRC_GOODRET);  // finished here, its post routine queued
    // An event is set with its block, also behind a queued post routine: the
    // caller may reuse it the moment it sees the block done.
    auto later = SubmitSend(node, lsn, byte);
    EXPECT_TRUE(later->event.IsSet());
    EXPECT_EQ(posts, 0);

    release.set_value();
    EXPECT_TRUE(Eventually([] { return posts == 1; }));
}

TEST_F(RawCaller, PartialWritesUnderAFullBufferKeepEveryMessageWholeAndInOrder) {
    Open();
    // The peer reads nothing until a send stays pending: the send before it
    // was probably taken only in part by the caller's thread.
    std::vector<std::vector<UCHAR>> blocks;
    std::vector<std::unique_ptr<AsyncNcb>> sends;
    for (int i = 0; i < 2000; ++i) {
        blocks.emplace_back(65000 + i % 7, static_cast<UCHAR>(i));
        sends.push_back(SubmitSend(node, lsn, blocks.back()));
        if (sends.back()->Wait(std::chrono::milliseconds(200)) == NRC_PENDING) break;
    }
    ASSERT_EQ(sends.back()->Status(), NRC_PENDING) << "the peer's buffers never filled";
    // One more from a synchronous caller, queued behind the pending ones.
    blocks.emplace_back(100, 0xAB);
    std::thread late([&] { EXPECT_EQ(node.Send(lsn, blocks.back().data(), 100), NRC_GOODRET); });
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto header = peer->Read(4);
        const std::size_t length = (std::size_t{header[2]} << 8) | header[3];
        ASSERT_EQ(length, blocks[i].size()) << "message " << i;
        const auto body = peer->Read(length);
        ASSERT_TRUE(std::equal(body.begin(), body.end(), blocks[i].begin())) << "message " << i;
    }
    late.join();
    for (auto &send : sends) EXPECT_EQ(send->Wait(), NRC_GOODRET);
}

TEST_F(RawCaller, DirectReadsTakeSmallBuffersInPiecesAndSplitBodiesWhole) {
    Open();
    // A receive waiting with a buffer smaller than the message: pieces.
    UCHAR small[10];
    auto waiting = PendingReceive(small, sizeof small);
    const auto message = Message(25, 1);
    peer->Write(message);
    EXPECT_EQ(waiting->Wait(), NRC_INCOMP);
    EXPECT_EQ(waiting->ncb.ncb_length, 10);
    std::vector<UCHAR> all(small, small + 10);
    WORD got = 0;
    EXPECT_EQ(node.Receive(lsn, small, sizeof small, &got), NRC_INCOMP);
    all.insert(all.end(), small, small + got);
    EXPECT_EQ(node.Receive(lsn, small, sizeof small, &got), NRC_GOODRET);
    EXPECT_EQ(got, 5);
    all.insert(all.end(), small, small + got);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), message.begin() + 4, message.end()));

    // A body that arrives in two parts while a receive that fits it waits.
    std::vector<UCHAR> in(3000);
    auto fits = PendingReceive(in.data(), 3000);
    const auto split = Message(3000, 5);
    peer->Write({split.begin(), split.begin() + 1004});
    EXPECT_EQ(fits->Wait(std::chrono::milliseconds(50)), NRC_PENDING);
    peer->Write({split.begin() + 1004, split.end()});
    EXPECT_EQ(fits->Wait(), NRC_GOODRET);
    EXPECT_EQ(fits->ncb.ncb_length, 3000);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), split.begin() + 4));
}

// A synchronous receive waits on the session's socket and reads its message
// itself; what other threads do still reaches it.
TEST_F(RawCaller, SynchronousReceivesReadTheirOwnSocketAndOtherThreadsStillEndThem) {
    Open();
    auto receive = [&](std::vector<UCHAR> &into, WORD length) {
        NCB ncb = testing::MakeNcb(NCBRECV);
        ncb.ncb_lsn = lsn;
        ncb.ncb_buffer = into.data();
        ncb.ncb_length = length;
        const UCHAR rc = node.provider.Netbios(&ncb);
        into.resize(ncb.ncb_length);
        return rc;
    };
    // A body in two parts, read by the waiting caller straight into its buffer.
    auto receive_split = [&](const std::vector<std::uint8_t> &message) {
        std::vector<UCHAR> got(3000);
        std::thread waiting([&] { EXPECT_EQ(receive(got, 3000), NRC_GOODRET); });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        peer->Write({message.begin(), message.begin() + 1004});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        peer->Write({message.begin() + 1004, message.end()});
        waiting.join();
        ASSERT_EQ(got.size(), 3000u);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), message.begin() + 4));
    };
    receive_split(Message(3000, 5));

    // A receive cancelled with part of a body in its buffer hands the part
    // back: the next receive gets the whole message.
    std::vector<UCHAR> in(3000);
    auto cancelled = PendingReceive(in.data(), 3000);
    const auto second = Message(3000, 9);
    peer->Write({second.begin(), second.begin() + 1004});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    NCB cancel = testing::MakeNcb(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&cancelled->ncb);
    EXPECT_EQ(node.provider.Netbios(&cancel), NRC_GOODRET);
    EXPECT_EQ(cancelled->Wait(), NRC_CMDCAN);
    std::vector<UCHAR> next(3000);
    std::thread reader([&] { EXPECT_EQ(receive(next, 3000), NRC_GOODRET); });
    peer->Write({second.begin() + 1004, second.end()});
    reader.join();
    ASSERT_EQ(next.size(), 3000u);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), second.begin() + 4));

    // Messages there before their receives are read without waiting; the
    // receive that then finds nothing yet still waits for its message.
    std::vector<std::vector<std::uint8_t>> ahead;
    for (UCHAR i = 0; i < 3; ++i) peer->Write(ahead.emplace_back(Message(100, static_cast<UCHAR>(20 + i))));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (const auto &message : ahead) {
        std::vector<UCHAR> got(100);
        EXPECT_EQ(receive(got, 100), NRC_GOODRET);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), message.begin() + 4));
    }
    receive_split(Message(3000, 30));

    // A hangup from another thread ends a caller waiting on the socket.
    reader = std::thread([&] { EXPECT_EQ(receive(in, 8), NRC_SCLOSED); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(node.Hangup(lsn), NRC_GOODRET);
    reader.join();
}

TEST_F(RawCaller, ReceivesQueuedAtDifferentTimesEachRunOutOnTheOneSessionTimer) {
    Open(/*rto=*/1);
    UCHAR in[2][8];
    auto first = PendingReceive(in[0], sizeof in[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto second = PendingReceive(in[1], sizeof in[1]);
    // The timer armed for the first is armed again for the second.
    EXPECT_EQ(first->Wait(), NRC_CMDTMO);
    EXPECT_EQ(second->Wait(), NRC_CMDTMO);
    peer->Write(Message(2, 7));
    WORD got = 0;
    EXPECT_EQ(node.Receive(lsn, in[0], sizeof in[0], &got), NRC_GOODRET);
    EXPECT_EQ(got, 2);
}

TEST_F(RawCaller, ResetWhileCallersAreInsideTheirCommandsEndsEachBlockOnce) {
    Open();
    // Receives whose post routine counts its calls, a sender that keeps
    // writing from its own thread, and a reset from a third.
    static std::atomic<int> posted[3];
    for (auto &count : posted) count = 0;
    struct Counted {
        NCB ncb;
        int index;
    };
    UCHAR in[3][8];
    std::vector<std::unique_ptr<Counted>> receives;
    for (int i = 0; i < 3; ++i) {
        auto recv = std::make_unique<Counted>(Counted{testing::MakeNcb(NCBRECV | ASYNCH), i});
        recv->ncb.ncb_lsn = lsn;
        recv->ncb.ncb_buffer = in[i];
        recv->ncb.ncb_length = sizeof in[i];
        recv->ncb.ncb_post = [](NCB *ncb) {
            // Counted a hundred times over when run off the network thread.
            posted[reinterpret_cast<Counted *>(ncb)->index] += IoThread::Get().IsCurrent() ? 1 : 100;
        };
        ASSERT_EQ(node.provider.Netbios(&recv->ncb), NRC_GOODRET);
        receives.push_back(std::move(recv));
    }
    std::thread drain([&] { peer->ReadToEnd(); });
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        std::vector<UCHAR> block(20000, 0x42);
        while (node.Send(lsn, block.data(), 20000) == NRC_GOODRET) {
        }
        sending = false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(testing::ResetLana(node.provider), NRC_GOODRET);
    sender.join();
    EXPECT_FALSE(sending);
    drain.join();  // the reset took the connection down with an RST
    // Each post routine ran once, on the network thread, after the reset
    // had ended its block.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(receives[static_cast<std::size_t>(i)]->ncb.ncb_retcode, NRC_CMDCAN);
        for (int spin = 0; spin < 1000 && posted[i] == 0; ++spin)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(posted[i], 1);
    }
}

}  // namespace
}  // namespace nbt
