// SPDX-License-Identifier: MIT
#include "loopback_settings.h"

#include <asio.hpp>
#include <stdexcept>

namespace nbt::testing {
namespace {

// A port the kernel just handed out for udp that is also free for tcp.
std::uint16_t FreeLoopbackPort(std::uint16_t other_than, std::uint16_t nor = 0) {
    asio::io_context io;
    const auto loopback = asio::ip::address_v4::loopback();
    for (int attempt = 0; attempt < 50; ++attempt) {
        asio::ip::udp::socket udp(io, asio::ip::udp::endpoint(loopback, 0));
        const std::uint16_t port = udp.local_endpoint().port();
        if (port == other_than || port == nor) continue;
        asio::error_code ec;
        asio::ip::tcp::acceptor tcp(io);
        tcp.open(asio::ip::tcp::v4());
        tcp.bind({loopback, port}, ec);
        if (!ec) return port;
    }
    throw std::runtime_error("no free loopback port");
}

}  // namespace

LoopbackPorts ProcessPorts() {
    static const LoopbackPorts ports = [] {
        LoopbackPorts chosen;
        chosen.name = FreeLoopbackPort(0);
        chosen.session = FreeLoopbackPort(chosen.name);
        chosen.datagram = FreeLoopbackPort(chosen.name, chosen.session);
        return chosen;
    }();
    return ports;
}

Settings LoopbackSettings() {
    Settings settings;
    settings.host_interfaces = false;
    settings.loopback_name_port = ProcessPorts().name;
    settings.loopback_session_port = ProcessPorts().session;
    settings.loopback_datagram_port = ProcessPorts().datagram;
    settings.loopback_first = 1;
    settings.loopback_last = 199;
    return settings;
}

Settings FastSettings() {
    Settings settings = LoopbackSettings();
    settings.bcast_retry_timeout = std::chrono::milliseconds(30);
    settings.bcast_retry_count = 2;
    return settings;
}

Settings NameServiceSettings() {
    Settings settings = LoopbackSettings();
    settings.bcast_retry_timeout = std::chrono::milliseconds(60);
    settings.ucast_retry_timeout = std::chrono::milliseconds(120);
    return settings;
}

}  // namespace nbt::testing
