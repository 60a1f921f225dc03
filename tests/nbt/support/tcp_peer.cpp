// SPDX-License-Identifier: MIT
#include "tcp_peer.h"

#include <array>
#include <asio/read.hpp>
#include <asio/write.hpp>

namespace nbt::testing {

TcpPeer::TcpPeer(const asio::ip::tcp::endpoint &to, const asio::ip::address &from) {
    if (!from.is_unspecified()) {
        socket.open(to.protocol());
        socket.bind({from, 0});
    }
    socket.connect(to);
}

void TcpPeer::Write(const std::vector<std::uint8_t> &bytes) {
    asio::write(socket, asio::buffer(bytes));
}

std::vector<std::uint8_t> TcpPeer::Read(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    asio::read(socket, asio::buffer(bytes));
    return bytes;
}

bool TcpPeer::ReadToEnd(std::vector<std::uint8_t> *bytes) {
    std::vector<std::uint8_t> all;
    std::array<std::uint8_t, 4096> chunk;
    for (;;) {
        asio::error_code ec;
        const std::size_t n = socket.read_some(asio::buffer(chunk), ec);
        all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (ec == asio::error::eof) break;
        if (ec) return false;
    }
    if (bytes) *bytes = std::move(all);
    return true;
}

void TcpPeer::Reset() {
    socket.set_option(asio::socket_base::linger(true, 0));
    socket.close();
}

}  // namespace nbt::testing
