// SPDX-License-Identifier: MIT
// A session peer written by hand: a plain TCP socket and the session
// protocol's bytes, well-formed or not.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <vector>

namespace nbt::testing {

struct TcpPeer {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};

    // from: the source address (any 127.x on loopback); unspecified: the kernel's choice.
    explicit TcpPeer(const asio::ip::tcp::endpoint &to, const asio::ip::address &from = {});

    void Write(const std::vector<std::uint8_t> &bytes);
    // Exactly `count` bytes.
    std::vector<std::uint8_t> Read(std::size_t count);
    // Everything until the peer closes; false if it reset instead.
    bool ReadToEnd(std::vector<std::uint8_t> *bytes = nullptr);
    // Closes with a reset instead of an orderly close.
    void Reset();
};

}  // namespace nbt::testing
