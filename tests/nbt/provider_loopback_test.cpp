// SPDX-License-Identifier: MIT
// The loopback LANA as a node per provider and per process: each takes its
// own 127.0.0.N, and ports it cannot bind make the reset fail cleanly.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "loopback_settings.h"
#include "ncb_helpers.h"
#include "node.h"
#include "provider.h"

extern char **environ;

namespace nbt {
namespace {

using testing::LoopbackSettings;
using testing::ResetLana;

constexpr const char *kChildPorts = "KORVEL_TEST_CHILD_PORTS";

TEST(ProviderLoopback, TwoProvidersAreTwoNodes) {
    Provider first(LoopbackSettings()), second(LoopbackSettings());
    ASSERT_EQ(ResetLana(first), NRC_GOODRET);
    ASSERT_EQ(ResetLana(second), NRC_GOODRET);
    auto a = first.LanaAddress(0), b = second.LanaAddress(0);
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);

    // Resetting the first again keeps its own address: the second holds its.
    ASSERT_EQ(ResetLana(first), NRC_GOODRET);
    EXPECT_EQ(first.LanaAddress(0), a);
    EXPECT_EQ(second.LanaAddress(0), b);
}

std::uint32_t DatagramsReceived(Provider &provider) {
    std::uint32_t count = 0;
    provider.WithNode(0, [&](Node *node) { count = node ? node->counters().recv_success : 0; });
    return count;
}

// Waits (bounded) until `provider` has received `count` datagrams.
bool AwaitDatagrams(Provider &provider, std::uint32_t count) {
    for (int i = 0; i < 500 && DatagramsReceived(provider) < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return DatagramsReceived(provider) >= count;
}

TEST(ProviderLoopback, BroadcastsReachTheOtherNodesButNotTheSender) {
    Provider sender(LoopbackSettings()), peer(LoopbackSettings());
    ASSERT_EQ(ResetLana(sender), NRC_GOODRET);
    ASSERT_EQ(ResetLana(peer), NRC_GOODRET);
    const std::uint8_t bytes[] = {1, 2, 3};
    sender.WithNode(0, [&](Node *node) { node->SendDatagram(bytes, node->broadcast_endpoint()); });
    ASSERT_TRUE(AwaitDatagrams(peer, 1));

    // A unicast reply comes back to the sender's own address and port.
    peer.WithNode(0, [&](Node *node) {
        node->SendDatagram(bytes, {*sender.LanaAddress(0), node->name_port()});
    });
    ASSERT_TRUE(AwaitDatagrams(sender, 1));
    // Its own broadcast never showed up at the sender.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(DatagramsReceived(sender), 1u);
    EXPECT_EQ(DatagramsReceived(peer), 1u);
    std::uint32_t sent = 0;
    sender.WithNode(0, [&](Node *node) { sent = node->counters().xmit_success; });
    EXPECT_EQ(sent, 1u);
}

// Run by the test below in a second process: takes a node, reports its
// address on stdout and keeps it until stdin closes.
TEST(ProviderChild, DISABLED_HoldLoopbackNode) {
    const char *ports = std::getenv(kChildPorts);
    ASSERT_NE(ports, nullptr);
    Settings settings;
    settings.host_interfaces = false;
    unsigned name_port = 0, session_port = 0;
    ASSERT_EQ(std::sscanf(ports, "%u,%u", &name_port, &session_port), 2);
    settings.loopback_name_port = static_cast<std::uint16_t>(name_port);
    settings.loopback_session_port = static_cast<std::uint16_t>(session_port);
    Provider provider(settings);
    const UCHAR rc = ResetLana(provider);
    auto address = provider.LanaAddress(0);
    std::cout << "NODE " << int(rc) << ' ' << (address ? address->to_string() : "-") << std::endl;
    char byte;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
}

TEST(ProviderLoopback, TwoProcessesTakeDifferentAddresses) {
    const Settings settings = LoopbackSettings();
    const std::string ports =
        std::to_string(settings.loopback_name_port) + "," + std::to_string(settings.loopback_session_port);
    ASSERT_EQ(setenv(kChildPorts, ports.c_str(), 1), 0);

    int to_child[2], from_child[2];
    ASSERT_EQ(pipe2(to_child, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(from_child, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=ProviderChild.DISABLED_HoldLoopbackNode";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char *argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(to_child[0]);
    close(from_child[1]);

    // The child's own test output surrounds the one line we are after.
    std::string output, line;
    char chunk[256];
    while (line.empty()) {
        ssize_t got = read(from_child[0], chunk, sizeof chunk);
        if (got <= 0) break;
        output.append(chunk, static_cast<std::size_t>(got));
        auto at = output.find("NODE ");
        if (at != std::string::npos && output.find('\n', at) != std::string::npos)
            line = output.substr(at, output.find('\n', at) - at);
    }
    ASSERT_FALSE(line.empty()) << output;
    EXPECT_EQ(line.rfind("NODE 0 127.0.0.", 0), 0u) << line;
    const std::string child_address = line.substr(std::string("NODE 0 ").size());

    Provider provider(settings);
    EXPECT_EQ(ResetLana(provider), NRC_GOODRET);
    auto own = provider.LanaAddress(0);
    ASSERT_TRUE(own);
    EXPECT_NE(own->to_string(), child_address);

    close(to_child[1]);  // lets the child finish
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(from_child[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ProviderLoopback, TakenPortsFailTheResetWithOpenError) {
    Settings settings = LoopbackSettings();
    settings.loopback_first = settings.loopback_last = 200;  // one address to choose from
    asio::io_context io;
    const asio::ip::address_v4 only((127u << 24) | 200);

    // The operator reads why on standard error: the address, the port, and
    // who holds it (this process).
    const std::string holder = "already in use by ";
    const std::string pid = "(pid " + std::to_string(getpid()) + ")";
    {  // the unicast name port is taken
        asio::ip::udp::socket taken(io, asio::ip::udp::endpoint(only, settings.loopback_name_port));
        Provider provider(settings);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ResetLana(provider), NRC_OPENERR);
        const std::string why = ::testing::internal::GetCapturedStderr();
        EXPECT_THAT(why,
                    ::testing::HasSubstr("cannot bind 127.0.0.200 port " +
                                         std::to_string(settings.loopback_name_port) + "/udp: " + holder));
        EXPECT_THAT(why, ::testing::HasSubstr(pid));
        NCB after = testing::MakeNcb(NCBADDNAME);
        EXPECT_EQ(provider.Netbios(&after), NRC_ENVNOTDEF);
    }
    {  // the session port is taken by a listener
        asio::ip::tcp::acceptor taken(io, asio::ip::tcp::endpoint(only, settings.loopback_session_port));
        Provider provider(settings);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ResetLana(provider), NRC_OPENERR);
        const std::string why = ::testing::internal::GetCapturedStderr();
        EXPECT_THAT(why,
                    ::testing::HasSubstr("cannot bind 127.0.0.200 port " +
                                         std::to_string(settings.loopback_session_port) + "/tcp: " + holder));
        EXPECT_THAT(why, ::testing::HasSubstr(pid));
    }
    {  // the broadcast port is held without address sharing
        asio::ip::udp::socket taken(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.255.255.255"),
                                                                settings.loopback_name_port));
        Provider provider(settings);
        EXPECT_EQ(ResetLana(provider), NRC_OPENERR);
    }
    {  // and with all of them free again the same settings work
        Provider provider(settings);
        EXPECT_EQ(ResetLana(provider), NRC_GOODRET);
        EXPECT_EQ(provider.LanaAddress(0), only);
    }
}

TEST(ProviderLoopback, AFailedResetFreesTheLanaItReplaced) {
    Settings settings = LoopbackSettings();
    settings.loopback_first = settings.loopback_last = 201;
    Provider provider(settings);
    Provider squatter(settings);
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    // Free it, let another node take 127.0.0.201, and reset again: no address left.
    ASSERT_EQ(ResetLana(provider, 0, 1), NRC_GOODRET);
    ASSERT_EQ(ResetLana(squatter), NRC_GOODRET);
    EXPECT_EQ(ResetLana(provider), NRC_OPENERR);
    NCB after = testing::MakeNcb(NCBASTAT);
    EXPECT_EQ(provider.Netbios(&after), NRC_ENVNOTDEF);
}

}  // namespace
}  // namespace nbt
