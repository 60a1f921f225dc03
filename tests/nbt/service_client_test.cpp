// SPDX-License-Identifier: MIT
// Netbios() as korveld's client, against a stand-in service the test plays
// on the socket itself: replies fill the block and go through the usual
// completion (event set, NRC_IFBUSY while in flight), a cancel names its
// target by the id it was sent with, a reply that claims more than the
// block's buffer or a service that goes away ends what is pending with
// NRC_SYSTEM, and with no service at all LANAs 1 and up are not there.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "descriptor_passing.h"
#include "nb30.h"
#include "nbt_event.h"
#include "ncb_helpers.h"
#include "service_link.h"
#include "service_reply.h"
#include "service_request.h"

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::MakeNcb;

const std::string &SocketPath() {
    static const std::string path = "/tmp/korvel-service-client-test-" + std::to_string(::getpid()) + ".sock";
    return path;
}

// The service's side: listens at SocketPath() while it lives.
class StandInService {
public:
    StandInService() {
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, SocketPath().c_str());
        ::unlink(address.sun_path);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
    }
    ~StandInService() {
        Hang();
        ::close(listener_);
        ::unlink(SocketPath().c_str());
    }

    void Accept() {
        timeval limit{5, 0};
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        ::setsockopt(client_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ASSERT_GE(client_, 0);
    }
    void Hang() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
    }
    // The next request, decoded (its spans point into this object).
    std::optional<service::Request> Next() {
        const ssize_t got = ::recv(client_, message_.data(), message_.size(), 0);
        if (got <= 0) return std::nullopt;
        return service::DecodeRequest({message_.data(), static_cast<std::size_t>(got)});
    }
    void Send(const std::vector<std::uint8_t> &reply) {
        ASSERT_EQ(::send(client_, reply.data(), reply.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(reply.size()));
    }
    void Accepted(std::uint64_t id) {
        std::vector<std::uint8_t> reply;
        service::EncodeAccepted(id, reply);
        Send(reply);
    }
    void Complete(std::uint64_t id, UCHAR rc, WORD length, std::vector<std::uint8_t> data) {
        service::Completion done;
        done.id = id;
        done.rc = rc;
        done.length = length;
        done.data = data;
        std::vector<std::uint8_t> reply;
        service::EncodeCompletion(done, reply);
        Send(reply);
    }
    // A CALL's completion with its session's socket, as korveld hands it.
    void Handed(std::uint64_t id, UCHAR lsn, UCHAR name_number, const std::vector<std::uint8_t> &unread,
                int socket) {
        service::Completion done;
        done.id = id;
        done.lsn = lsn;
        done.name_number = name_number;
        done.unread = unread;
        std::vector<std::uint8_t> reply;
        ASSERT_TRUE(service::EncodeSessionHanded(done, reply));
        ASSERT_EQ(SendWithDescriptor(client_, reply, socket), static_cast<ssize_t>(reply.size()));
    }

private:
    int listener_ = -1;
    int client_ = -1;
    std::vector<std::uint8_t> message_ = std::vector<std::uint8_t>(service::kMaxMessage);
};

class ServiceClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("KORVEL_PROVIDER", "service", 1);
        ::setenv("KORVEL_PROVIDER_SOCKET", SocketPath().c_str(), 1);
    }
};

struct Async {
    explicit Async(UCHAR command, WORD length = 0) : ncb(MakeNcb(command | ASYNCH, 1)), buffer(length) {
        ncb.ncb_event = &event;
        ncb.ncb_buffer = length ? buffer.data() : nullptr;
        ncb.ncb_length = length;
    }
    NCB ncb;
    NbtEvent event;
    std::vector<UCHAR> buffer;
};

TEST_F(ServiceClientTest, NothingAnsweringLeavesOnlyLanaZero) {
    NCB reset = MakeNcb(NCBRESET, 1);
    EXPECT_EQ(Netbios(&reset), NRC_BRIDGE);
    LANA_ENUM lanas{};
    NCB enumerate = MakeNcb(NCBENUM);
    enumerate.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    enumerate.ncb_length = sizeof lanas;
    EXPECT_EQ(Netbios(&enumerate), NRC_GOODRET);
    EXPECT_EQ(lanas.length, 1);
    EXPECT_EQ(lanas.lana[0], 0);
}

TEST_F(ServiceClientTest, RepliesFillTheBlockAndCancelNamesItsTarget) {
    StandInService service;
    Async receive(NCBRECV, 8);
    auto submitted = std::async(std::launch::async, [&] { return Netbios(&receive.ncb); });
    service.Accept();
    const auto request = service.Next();
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->submit.flags & service::kWantsAnswer);
    EXPECT_EQ(request->submit.length, 8);
    const std::uint64_t id = request->submit.id;
    service.Accepted(id);
    EXPECT_EQ(submitted.get(), NRC_GOODRET);
    EXPECT_EQ(Netbios(&receive.ncb), NRC_IFBUSY);  // still in flight

    NCB cancel = MakeNcb(NCBCANCEL, 1);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&receive.ncb);
    auto cancelled = std::async(std::launch::async, [&] { return Netbios(&cancel); });
    const auto cancel_request = service.Next();
    ASSERT_TRUE(cancel_request);
    EXPECT_EQ(cancel_request->submit.cancel_target, id);
    service.Complete(cancel_request->submit.id, NRC_CANOCCR, 0, {});
    EXPECT_EQ(cancelled.get(), NRC_CANOCCR);

    service.Complete(id, NRC_GOODRET, 5, {1, 2, 3, 4, 5});
    ASSERT_TRUE(receive.event.WaitFor(5s));
    EXPECT_EQ(receive.ncb.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(receive.ncb.ncb_length, 5);
    EXPECT_EQ(std::vector<UCHAR>(receive.buffer.begin(), receive.buffer.begin() + 5),
              (std::vector<UCHAR>{1, 2, 3, 4, 5}));
}

TEST_F(ServiceClientTest, AnOverlongReplyOrAServiceGoneEndsWhatIsPending) {
    StandInService service;
    Async first(NCBRECV, 4), second(NCBLISTEN);
    auto submitted = std::async(std::launch::async, [&] { return Netbios(&first.ncb); });
    service.Accept();
    auto request = service.Next();
    ASSERT_TRUE(request);
    service.Accepted(request->submit.id);
    ASSERT_EQ(submitted.get(), NRC_GOODRET);
    const std::uint64_t first_id = request->submit.id;
    NCB waiting = MakeNcb(NCBLISTEN, 1);  // a synchronous caller waiting too
    auto waited = std::async(std::launch::async, [&] { return Netbios(&waiting); });
    ASSERT_TRUE(service.Next());
    // Five bytes for a buffer of four: the client believes none of it.
    service.Complete(first_id, NRC_GOODRET, 5, {1, 2, 3, 4, 5});
    ASSERT_TRUE(first.event.WaitFor(5s));
    EXPECT_EQ(first.ncb.ncb_retcode, NRC_SYSTEM);
    EXPECT_EQ(first.buffer, std::vector<UCHAR>(4, 0));
    EXPECT_EQ(waited.get(), NRC_SYSTEM);

    // The next command connects again; then that service goes away.
    service.Hang();
    submitted = std::async(std::launch::async, [&] { return Netbios(&second.ncb); });
    service.Accept();
    request = service.Next();
    ASSERT_TRUE(request);
    service.Accepted(request->submit.id);
    ASSERT_EQ(submitted.get(), NRC_GOODRET);
    service.Hang();
    ASSERT_TRUE(second.event.WaitFor(5s));
    EXPECT_EQ(second.ncb.ncb_retcode, NRC_SYSTEM);
}

// A service that stops reading costs a sender its patience, not for ever;
// once it reads again, messages go as before.
TEST(ServiceLinkTest, ASenderGivesUpOnAServiceThatHasStoppedReading) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    const std::vector<std::uint8_t> message(4096, 0x5A);
    while (::send(ends[0], message.data(), message.size(), MSG_DONTWAIT) > 0) {
    }
    EXPECT_FALSE(SendMessage(ends[0], message, 50ms));
    std::uint8_t sink[4096];
    while (::recv(ends[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    EXPECT_TRUE(SendMessage(ends[0], message, 50ms));
    ::close(ends[0]);
    ::close(ends[1]);
}

// The session's messages then run here: from the bytes the service had
// read (a whole message and part of the next header), on the socket itself,
// and when it is hung up the service hears so, with what it carried.
TEST_F(ServiceClientTest, AHandedSessionRunsHereFromWhatTheServiceReadAndSaysWhenItIsOver) {
    StandInService service;
    NCB call = MakeNcb(NCBCALL, 1);
    auto called = std::async(std::launch::async, [&] { return Netbios(&call); });
    service.Accept();
    const auto request = service.Next();
    ASSERT_TRUE(request);
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    service.Handed(request->submit.id, 7, 2, {0, 0, 0, 5, 'e', 'a', 'r', 'l', 'y', 0, 0}, ends[0]);
    ::close(ends[0]);
    ASSERT_EQ(called.get(), NRC_GOODRET);
    EXPECT_EQ(call.ncb_lsn, 7);
    const std::uint8_t rest[] = {0, 4, 'l', 'a', 't', 'e'};
    ASSERT_EQ(::write(ends[1], rest, sizeof rest), static_cast<ssize_t>(sizeof rest));

    std::uint8_t buffer[16] = {};
    NCB receive = MakeNcb(NCBRECV, 1);
    receive.ncb_lsn = 7;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    EXPECT_EQ(Netbios(&receive), NRC_GOODRET);
    EXPECT_EQ(std::string(buffer, buffer + receive.ncb_length), "early");
    NCB any = MakeNcb(NCBRECVANY, 1);
    any.ncb_num = 2;
    any.ncb_buffer = buffer;
    any.ncb_length = sizeof buffer;
    EXPECT_EQ(Netbios(&any), NRC_GOODRET);
    EXPECT_EQ(std::string(buffer, buffer + any.ncb_length), "late");
    NCB send = MakeNcb(NCBSEND, 1);
    send.ncb_lsn = 7;
    send.ncb_buffer = reinterpret_cast<PUCHAR>(const_cast<char *>("hi"));
    send.ncb_length = 2;
    EXPECT_EQ(Netbios(&send), NRC_GOODRET);
    std::uint8_t sent[6] = {};
    EXPECT_EQ(::read(ends[1], sent, sizeof sent), 6);
    EXPECT_EQ(std::vector<std::uint8_t>(sent, sent + 6), (std::vector<std::uint8_t>{0, 0, 0, 2, 'h', 'i'}));

    NCB hangup = MakeNcb(NCBHANGUP, 1);
    hangup.ncb_lsn = 7;
    EXPECT_EQ(Netbios(&hangup), NRC_GOODRET);
    const auto over = service.Next();
    ASSERT_TRUE(over);
    EXPECT_EQ(over->type, service::RequestType::kSessionOver);
    EXPECT_EQ(over->over.lsn, 7);
    EXPECT_EQ(over->over.sent, 1u);
    EXPECT_EQ(over->over.received, 2u);
    ::close(ends[1]);
}

}  // namespace
}  // namespace nbt
