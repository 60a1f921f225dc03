// SPDX-License-Identifier: MIT
// The caller's side against a scripted remote node on loopback: retargets
// followed a bounded number of times, the refusal codes no Korvel node
// sends (0x83, 0x8F), and a peer that hangs up instead of answering.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "loopback_node.h"
#include "name_packet.h"
#include "session_packet.h"

namespace nbt {
namespace {

using testing::LoopbackNode;
using testing::Padded;

const asio::ip::address_v4 kFakeAddress = asio::ip::make_address_v4("127.0.0.250");

// Answers name queries for one name with kFakeAddress, and answers each
// session connection with the next scripted reply (the last one repeats).
class ScriptedNode {
public:
    using Reply = std::vector<std::uint8_t>;  // empty: close without answering

    ScriptedNode(const Settings &settings, const std::string &name) : name_(Padded(name)) {
        const std::uint16_t name_port = settings.loopback_name_port;
        broadcast_.open(asio::ip::udp::v4());
        broadcast_.set_option(asio::socket_base::reuse_address(true));
        broadcast_.bind({asio::ip::make_address_v4("127.255.255.255"), name_port});
        unicast_.open(asio::ip::udp::v4());
        unicast_.set_option(asio::socket_base::reuse_address(true));
        unicast_.bind({kFakeAddress, name_port});
        session_.open(asio::ip::tcp::v4());
        session_.set_option(asio::socket_base::reuse_address(true));
        session_.bind({kFakeAddress, settings.loopback_session_port});
        session_.listen();
        second_.open(asio::ip::tcp::v4());
        second_.bind({kFakeAddress, 0});
        second_.listen();
        ReceiveQuery();
        Accept(session_);
        Accept(second_);
        thread_ = std::thread([this] { io_.run(); });
    }
    ~ScriptedNode() {
        io_.stop();
        thread_.join();
    }

    std::uint16_t second_port() const { return second_.local_endpoint().port(); }
    int connections() const {
        std::lock_guard lock(mutex_);
        return connections_;
    }
    void SetScript(std::vector<Reply> script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }
    // The addresses its query answers give, in order (kFakeAddress alone by default).
    void AnswerWith(std::vector<asio::ip::address_v4> addresses) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(addresses);
    }
    // The first six bytes that arrived on the last session taken.
    std::vector<std::uint8_t> Received() {
        asio::ip::tcp::socket *last = nullptr;
        for (int i = 0; i < 500 && !last; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (!kept_.empty() && static_cast<int>(kept_.size()) == connections_) last = &kept_.back();
            }
            if (!last) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::uint8_t> bytes(6);
        if (last) asio::read(*last, asio::buffer(bytes));
        return bytes;
    }

private:
    void ReceiveQuery() {
        broadcast_.async_receive_from(
            asio::buffer(datagram_), from_, [this](asio::error_code ec, std::size_t n) {
                if (ec) return;
                const auto packet = codec::DecodeNamePacket(std::span(datagram_.data(), n));
                if (packet && !packet->header.IsResponse() && packet->questions.size() == 1 &&
                    packet->questions[0].name.raw == name_) {
                    std::lock_guard lock(mutex_);
                    auto reply = codec::BuildPositiveQueryResponse(
                        packet->header.trn_id, packet->header.flags, packet->questions[0].name,
                        {0, answer_[0].to_uint()});
                    // Further NB entries after the first, RDLENGTH grown to match.
                    for (std::size_t i = 1; i < answer_.size(); ++i) {
                        const auto bytes = answer_[i].to_bytes();
                        reply.insert(reply.end(), {0, 0, bytes[0], bytes[1], bytes[2], bytes[3]});
                    }
                    reply[reply.size() - 6 * answer_.size() - 1] =
                        static_cast<std::uint8_t>(6 * answer_.size());
                    unicast_.send_to(asio::buffer(reply), from_);
                }
                ReceiveQuery();
            });
    }
    void Accept(asio::ip::tcp::acceptor &acceptor) {
        acceptor.async_accept([this, &acceptor](asio::error_code ec, asio::ip::tcp::socket socket) {
            if (ec) return;
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                if (!script_.empty())
                    reply = script_[std::min<std::size_t>(connections_, script_.size() - 1)];
                ++connections_;
            }
            std::array<std::uint8_t, 72> request;
            asio::error_code read_error;
            asio::read(socket, asio::buffer(request), read_error);
            if (!read_error && !reply.empty()) asio::write(socket, asio::buffer(reply), read_error);
            if (reply.empty()) socket.close();
            std::lock_guard lock(mutex_);
            kept_.push_back(std::move(socket));  // closed with the node
            Accept(acceptor);
        });
    }

    std::array<std::uint8_t, 16> name_;
    std::vector<Reply> script_;
    std::vector<asio::ip::address_v4> answer_{kFakeAddress};
    asio::io_context io_;
    asio::ip::udp::socket broadcast_{io_}, unicast_{io_};
    asio::ip::tcp::acceptor session_{io_}, second_{io_};
    std::array<std::uint8_t, 1024> datagram_{};
    asio::ip::udp::endpoint from_;
    std::deque<asio::ip::tcp::socket> kept_;
    mutable std::mutex mutex_;
    int connections_ = 0;
    std::thread thread_;
};

ScriptedNode::Reply Retarget(std::uint16_t port, const asio::ip::address_v4 &to = kFakeAddress) {
    const auto bytes = codec::EncodeRetarget({to.to_uint(), port});
    return {bytes.begin(), bytes.end()};
}
ScriptedNode::Reply Refusal(std::uint8_t code) {
    return {0x83, 0, 0, 1, code};
}
const ScriptedNode::Reply kPositive = {0x82, 0, 0, 0};

class CallAgainstScript : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(client.AddName("CLIENT"), NRC_GOODRET); }
    LoopbackNode client;
    ScriptedNode remote{client.provider.settings(), "REMOTE"};
};

TEST_F(CallAgainstScript, RetargetIsFollowedToWhereTheSessionIsTaken) {
    remote.SetScript({Retarget(remote.second_port()), kPositive});
    UCHAR lsn = 0;
    ASSERT_EQ(client.Call("CLIENT", "REMOTE", &lsn), NRC_GOODRET);
    EXPECT_EQ(remote.connections(), 2);
    ASSERT_EQ(client.Send(lsn, "hi", 2), NRC_GOODRET);
    EXPECT_EQ(remote.Received(), (std::vector<std::uint8_t>{0, 0, 0, 2, 'h', 'i'}));
}

TEST_F(CallAgainstScript, ARetargetLoopEndsAfterTheRetryCount) {
    remote.SetScript({Retarget(client.provider.settings().loopback_session_port)});
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_NOCALL);
    EXPECT_EQ(remote.connections(), 1 + client.provider.settings().ssn_retry_count);
}

TEST_F(CallAgainstScript, NeitherARetargetNorAQueryAnswerLeadsToTheZeroAddress) {
    // Connecting to 0.0.0.0 reaches this host: whatever listens here would get the call.
    asio::io_context io;
    asio::ip::tcp::acceptor here(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    remote.SetScript({Retarget(here.local_endpoint().port(), asio::ip::address_v4::any()), kPositive});
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_NOCALL);
    EXPECT_EQ(remote.connections(), 1);
    here.non_blocking(true);
    asio::error_code ec;
    here.accept(ec);
    EXPECT_EQ(ec, asio::error::would_block) << "the call went to this host";

    // A query answer's 0.0.0.0 (this host again) is passed over for the real address.
    remote.AnswerWith({asio::ip::address_v4::any(), kFakeAddress});
    remote.SetScript({kPositive});
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_GOODRET);
    EXPECT_EQ(remote.connections(), 2);
}

TEST_F(CallAgainstScript, RefusalsAndAPeerThatHangsUpInsteadOfAnswering) {
    remote.SetScript({Refusal(0x83), Refusal(0x8F), Refusal(0x82), {}, {0x00, 0, 0, 0}});
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_REMTFUL);  // present, but no resources
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_NOCALL);   // unspecified
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_NOCALL);   // called name not present
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_SABORT);   // closed mid-setup
    EXPECT_EQ(client.Call("CLIENT", "REMOTE"), NRC_SABORT);   // data before any answer
    // None of them left a number behind.
    std::vector<UCHAR> status(4 + 36 * 8);
    NCB sstat = testing::MakeNcb(NCBSSTAT);
    testing::SetName(sstat.ncb_name, "*", ' ');
    sstat.ncb_buffer = status.data();
    sstat.ncb_length = static_cast<WORD>(status.size());
    ASSERT_EQ(client.provider.Netbios(&sstat), NRC_GOODRET);
    EXPECT_EQ(status[1], 0);
}

}  // namespace
}  // namespace nbt
