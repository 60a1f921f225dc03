// SPDX-License-Identifier: MIT
// korvel-nb as a process: a settings file that is a FIFO cannot hold it,
// and SIGTERM ends it, waiting or not, with the status a shell expects
// (143). Its node is LANA 0 (loopback); the name server it is given is a
// socket here that never answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <fstream>

#include "korvel_nb_process.h"

namespace {

using korvel_nb_test::ConfigHome;
using korvel_nb_test::Describe;
using korvel_nb_test::KorvelNb;

// A name server on 127.0.0.1 that hears and never answers.
class SilentNameServer {
public:
    SilentNameServer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), size) == 0)
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentNameServer() { ::close(fd_); }
    std::uint16_t port() const { return port_; }
    // True once a request has come (at most 10 s).
    bool Heard() const {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1) return false;
        char packet[1500];
        return ::recv(fd_, packet, sizeof packet, 0) > 0;
    }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

TEST(KorvelNbSignals, ASettingsFileThatIsAFifoIsRefusedAtOnce) {
    ConfigHome home;
    ASSERT_EQ(::mkfifo(home.Conf().c_str(), 0600), 0);
    KorvelNb nb({"names"}, home);
    ASSERT_TRUE(nb.started());
    auto status = nb.WaitUpTo(std::chrono::seconds(10));
    if (!status) {
        ADD_FAILURE() << "blocked opening the FIFO";
        nb.Signal(SIGTERM);
        status = nb.WaitUpTo(std::chrono::seconds(10));
        EXPECT_TRUE(status) << "and SIGTERM did not end it";
    }
    EXPECT_EQ(Describe(status), "exit status 2");
    EXPECT_NE(nb.Err().find(home.Conf().string() + ": is a FIFO"), std::string::npos) << nb.Err();
}

// A P-node whose name server is silent and waited on for an hour a try:
// `status` waits for the query (where it polls for the signal), `call` for
// its name's registration (inside Netbios(), where it cannot).
TEST(KorvelNbSignals, SigtermEndsAWaitAndACallThatWouldNotReturn) {
    for (const std::string command : {"status", "call"}) {
        SCOPED_TRACE(command);
        ConfigHome home;
        SilentNameServer wins;
        std::ofstream(home.Conf()) << "node-type = p\nwins = 127.0.0.1:" << wins.port()
                                   << "\nname-server-timeout = 3600\n";
        KorvelNb nb({command, "KORVEL-NOBODY"}, home);
        ASSERT_TRUE(nb.started());
        ASSERT_TRUE(wins.Heard()) << nb.Err();
        nb.Signal(SIGTERM);
        EXPECT_EQ(Describe(nb.WaitUpTo(std::chrono::seconds(60))), "exit status 143") << nb.Err();
    }
}

}  // namespace
