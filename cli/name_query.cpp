// SPDX-License-Identifier: MIT
#include "name_query.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "name_packet.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// After the first answer for a unique name, how long to listen for a second
// holder (a conflict) or a peer's duplicate reply.
constexpr std::chrono::milliseconds kUniqueGrace{50};

sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = htonl(address);
    endpoint.sin_port = htons(port);
    return endpoint;
}

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string NodeType(std::uint16_t nb_flags) {
    static const char *const kTypes[] = {"B-node", "P-node", "M-node", "H-node"};
    return kTypes[(nb_flags & nbt::codec::kNbOntMask) >> 13];
}

QueryResult QueryName(const LanaInfo &lana, const NameField &name, std::optional<std::uint32_t> unicast_to,
                      std::chrono::milliseconds window, std::chrono::milliseconds retry) {
    QueryResult result;
    Socket socket;
    const int on = 1;
    // LANA 0's nodes sit on 127.0.0.N; any loopback address reaches them.
    const sockaddr_in local = Endpoint(lana.loopback ? 0x7F000001u : lana.address, 0);
    if (socket.fd() < 0 || ::setsockopt(socket.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(socket.fd(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        result.failure = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return result;
    }

    std::random_device random;
    const auto id = static_cast<std::uint16_t>(random());
    const nbt::codec::NetbiosName wire = nbt::codec::MakeName(std::span<const std::uint8_t>(name));
    const auto request = nbt::codec::BuildQueryRequest(id, wire, !unicast_to);
    const sockaddr_in to = Endpoint(unicast_to.value_or(lana.broadcast), lana.name_port);

    const auto start = Clock::now();
    auto end = start + window;
    auto next_send = start;
    int sent = 0;
    std::vector<std::uint8_t> packet(1500);
    while (Clock::now() < end) {
        if (sent < 3 && result.answers.empty() && !result.name_error && Clock::now() >= next_send) {
            if (::sendto(socket.fd(), request.data(), request.size(), 0,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
                result.failure = std::string("cannot send the query: ") + std::strerror(errno);
                return result;
            }
            ++sent;
            next_send += retry;
        }
        auto wake = std::min(end, sent < 3 && result.answers.empty() ? next_send : end);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        pollfd poll{socket.fd(), POLLIN, 0};
        if (::poll(&poll, 1, static_cast<int>(std::max<long long>(wait, 0) + 1)) <= 0) continue;

        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = ::recvfrom(socket.fd(), packet.data(), packet.size(), 0,
                                     reinterpret_cast<sockaddr *>(&from), &from_size);
        if (n <= 0) continue;
        auto reply = nbt::codec::DecodeNamePacket(std::span(packet.data(), static_cast<std::size_t>(n)));
        if (!reply || reply->header.trn_id != id || !reply->header.IsResponse() ||
            reply->header.Opcode() != nbt::codec::NameOpcode::kQuery || reply->answers.empty())
            continue;
        const auto &answer = reply->answers[0];
        if (answer.name.raw != wire.raw) continue;
        const std::uint32_t responder = ntohl(from.sin_addr.s_addr);
        if (reply->header.Rcode() == nbt::codec::NameRcode::kNameError) {
            result.name_error = true;
            if (unicast_to) break;
            continue;
        }
        if (reply->header.Rcode() != nbt::codec::NameRcode::kOk || answer.type != nbt::codec::kTypeNb)
            continue;
        auto addresses = nbt::codec::DecodeNbRdata(answer.rdata);
        if (!addresses) continue;
        bool unique = false;
        for (const auto &entry : *addresses) {
            const QueryAnswer found{responder, entry.ipv4, entry.flags};
            unique |= !(entry.flags & nbt::codec::kNbGroup);
            const bool seen =
                std::any_of(result.answers.begin(), result.answers.end(), [&](const QueryAnswer &a) {
                    return a.responder == found.responder && a.address == found.address;
                });
            if (!seen) result.answers.push_back(found);
        }
        if (unicast_to) break;
        if (unique) end = std::min(end, Clock::now() + kUniqueGrace);
    }
    return result;
}

}  // namespace cli
