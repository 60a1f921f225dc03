// SPDX-License-Identifier: MIT
// A bare UDP socket standing in for a name-service peer that says exactly
// what a test wants, well-formed or not.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "name_packet.h"

namespace nbt::testing {

class UdpPeer {
public:
    // Port 0 lets the kernel choose. reuse: share the address with the nodes
    // (needed to hear the broadcast address).
    UdpPeer(const std::string &address, std::uint16_t port, bool reuse = true);
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    bool bound() const { return bound_; }
    // The port it is bound to (the kernel's choice for port 0).
    std::uint16_t port() const;

    void SendTo(const std::vector<std::uint8_t> &bytes, const std::string &address, std::uint16_t port);

    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::string from;
        std::uint16_t port = 0;
    };
    std::optional<Datagram> Receive(std::chrono::milliseconds wait);
    // The next datagram that decodes and passes `want`, within `wait`.
    template <class Pred>
    std::optional<codec::NamePacket> ReceiveMatching(std::chrono::milliseconds wait, Pred want,
                                                     Datagram *raw = nullptr) {
        const auto end = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < end) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            auto datagram = Receive(left);
            if (!datagram) break;
            auto packet = codec::DecodeNamePacket(datagram->bytes);
            if (packet && want(*packet)) {
                if (raw) *raw = *datagram;
                return packet;
            }
        }
        return std::nullopt;
    }
    // Throws away whatever has arrived so far.
    void Drain();

private:
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace nbt::testing
