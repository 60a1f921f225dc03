// Provider settings for tests on the loopback LANA: ports of their own, so a
// test does not meet a console or another test running on this machine, and
// no host interfaces enumerated.
#pragma once

#include <asio.hpp>
#include <cstdint>

#include "settings.h"

namespace nbt::testing {

// A port the kernel just handed out for both udp and tcp on loopback.
inline std::uint16_t FreeLoopbackPort() {
    asio::io_context io;
    for (int attempt = 0; attempt < 50; ++attempt) {
        asio::ip::udp::socket udp(io, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
        const std::uint16_t port = udp.local_endpoint().port();
        asio::error_code ec;
        asio::ip::tcp::acceptor tcp(io);
        tcp.open(asio::ip::tcp::v4());
        tcp.bind({asio::ip::address_v4::loopback(), port}, ec);
        if (!ec) return port;
    }
    return 0;
}

// Name and session ports chosen once per test process, shared by every
// Provider of that process so that they are peers on one segment.
inline Settings LoopbackSettings() {
    static const std::uint16_t name_port = FreeLoopbackPort();
    static const std::uint16_t session_port = FreeLoopbackPort();
    Settings settings;
    settings.loopback_name_port = name_port;
    settings.loopback_session_port = session_port;
    settings.host_interfaces = false;
    return settings;
}

}  // namespace nbt::testing
