// SPDX-License-Identifier: MIT
// korveld's server against hostile clients, with no LANA touched (nothing
// goes on the wire): a client that sends garbage, one whose request is
// longer than any there is, and one that never reads its replies are each
// dropped, while a well-behaved client beside them is served throughout.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io_thread.h"
#include "listen_socket.h"
#include "provider.h"
#include "server.h"
#include "service_reply.h"
#include "service_request.h"

namespace korveld {
namespace {

class KorveldServer : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "/tmp/korveld-server-test-" + std::to_string(::getpid()) + ".sock";
        const ListenSocket listening = TakeListenSocket(path_, false);
        ASSERT_GE(listening.fd, 0) << listening.error;
        ServerLimits limits;
        limits.queued_reply_bytes = 4096;
        server_ = std::make_shared<Server>(provider_, listening.fd, limits);
        nbt::IoThread::Get().RunAndWait([&] { server_->Start(); });
    }
    void TearDown() override {
        nbt::IoThread::Get().RunAndWait([&] {
            server_->Stop();
            server_.reset();
        });
        ::unlink(path_.c_str());
    }

    int Connect() {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        const int room = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        return fd;
    }
    // Whether the server answers a LANA list request on fd.
    static bool Served(int fd) {
        std::vector<std::uint8_t> request, reply(nbt::service::kMaxMessage);
        nbt::service::EncodeLanasRequest(request);
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != 1) return false;
        const ssize_t got = ::recv(fd, reply.data(), reply.size(), 0);
        const auto decoded =
            got > 0 ? nbt::service::DecodeReply({reply.data(), std::size_t(got)}) : std::nullopt;
        return decoded && decoded->type == nbt::service::ReplyType::kLanaList;
    }
    // Whether the server has closed fd's connection (after what it had sent).
    static bool Dropped(int fd) {
        std::vector<std::uint8_t> reply(nbt::service::kMaxMessage);
        for (;;) {
            const ssize_t got = ::recv(fd, reply.data(), reply.size(), 0);
            if (got == 0) return true;
            if (got < 0) return false;
        }
    }

    nbt::Provider provider_;
    std::string path_;
    std::shared_ptr<Server> server_;
};

TEST_F(KorveldServer, EachHostileClientIsDroppedAndTheOthersAreServed) {
    const int good = Connect(), garbage = Connect(), overlong = Connect(), deaf = Connect();
    EXPECT_TRUE(Served(good));

    const std::uint8_t junk[] = {0xFF, 0x00, 0x01};
    ::send(garbage, junk, sizeof junk, MSG_NOSIGNAL);
    EXPECT_TRUE(Dropped(garbage));
    EXPECT_TRUE(Served(good));

    const std::vector<std::uint8_t> huge(nbt::service::kMaxMessage + 1, 1);
    ASSERT_EQ(::send(overlong, huge.data(), huge.size(), MSG_NOSIGNAL), static_cast<ssize_t>(huge.size()));
    EXPECT_TRUE(Dropped(overlong));
    EXPECT_TRUE(Served(good));

    // Asks and never reads: once the socket and the bounded queue are full
    // the server lets it go.
    std::vector<std::uint8_t> request;
    nbt::service::EncodeLanasRequest(request);
    timeval limit{5, 0};
    ::setsockopt(deaf, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int sent = 0;
    while (sent < 100000 && ::send(deaf, request.data(), request.size(), MSG_NOSIGNAL) == 1) ++sent;
    EXPECT_LT(sent, 100000);  // it stopped taking them: the client was dropped
    EXPECT_TRUE(Dropped(deaf));
    EXPECT_TRUE(Served(good));
    for (const int fd : {good, garbage, overlong, deaf}) ::close(fd);
}

}  // namespace
}  // namespace korveld
