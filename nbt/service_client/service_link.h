// SPDX-License-Identifier: MIT
// The program's connection to korveld: a SOCK_SEQPACKET socket the network
// thread reads replies from, and any thread sends requests on (one send()
// per message, which the kernel never interleaves).
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "service_client.h"
#include "service_protocol.h"

namespace nbt {

struct ServiceClient::Link {
    Link(asio::io_context &io, int descriptor)
        : socket(io, descriptor), fd(descriptor), buffer(service::kMaxMessage) {}

    asio::posix::stream_descriptor socket;  // waited on; read and written with the calls themselves
    const int fd;
    // State lock held: set once the connection is given up. Its descriptor
    // stays open (shut down) while any thread may still send on it, so the
    // number is never reused under a sender.
    bool lost = false;
    std::vector<std::uint8_t> buffer;  // network thread: one reply at a time
};

// A connected socket, or -1 with the reason in *why.
int ConnectToService(const std::string &path, std::string *why);
// The whole message, waiting for room as long as the service is there.
bool SendMessage(int fd, const std::vector<std::uint8_t> &message);

}  // namespace nbt
