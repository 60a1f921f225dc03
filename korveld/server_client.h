// SPDX-License-Identifier: MIT
// What the server keeps of one client and of each of its NCBs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "server.h"

namespace korveld {

struct Server::Client {
    Client(asio::io_context &io, int fd) : socket(io, fd) {}

    nbt::ClientId id = 0;
    asio::posix::stream_descriptor socket;
    PeerIdentity peer;
    bool gone = false;
    // Replies not yet taken by the socket, oldest first; a handed session's
    // socket goes with its completion (closed here once sent).
    struct Reply {
        std::vector<std::uint8_t> bytes;
        int fd = -1;
    };
    std::deque<Reply> replies;
    std::size_t queued_bytes = 0;
    bool writing = false;  // waiting for room
    // When its last reply went out, and whether its latest request came hard
    // on one: a program asking in a loop, which the server waits for a little.
    std::chrono::steady_clock::time_point answered{};
    bool asking_in_a_loop = false;
    // Its NCBs in the provider, by the id it gave them.
    std::unordered_map<std::uint64_t, Block *> blocks;
    std::size_t block_bytes = 0;
    std::size_t resolving = 0;  // name lookups not yet answered
};

// The service's copy of a client's NCB. The NCB comes first, so its post
// routine finds the rest.
struct Server::Block {
    NCB ncb{};
    Server *server = nullptr;
    nbt::ClientId client = 0;
    std::uint64_t id = 0;
    std::array<UCHAR, NCBNAMSZ> callname{};  // as the client sent it (a chain send's holds our address)
    std::vector<std::uint8_t> buffer;        // ncb_length bytes, zeroed: never a byte of another client's
    std::vector<std::uint8_t> chained;
    // What a cancel of a block the service does not carry points to: never
    // pending, with that block's command.
    NCB no_target{};
    std::size_t bytes() const { return buffer.size() + chained.size(); }
};

static_assert(std::is_standard_layout_v<Server::Block>, "the post routine finds the block from its NCB");

}  // namespace korveld
