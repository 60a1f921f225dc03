// SPDX-License-Identifier: MIT
#include "udp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nbt::testing {
namespace {

sockaddr_in Address(const std::string &address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return sa;
}

}  // namespace

UdpPeer::UdpPeer(const std::string &address, std::uint16_t port, bool reuse) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    if (reuse) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in sa = Address(address, port);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

std::uint16_t UdpPeer::port() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

UdpPeer::~UdpPeer() {
    ::close(fd_);
}

void UdpPeer::SendTo(const std::vector<std::uint8_t> &bytes, const std::string &address, std::uint16_t port) {
    sockaddr_in sa = Address(address, port);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
}

std::optional<UdpPeer::Datagram> UdpPeer::Receive(std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
    Datagram datagram;
    datagram.bytes.resize(65536);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const ssize_t n = ::recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), 0,
                                 reinterpret_cast<sockaddr *>(&sa), &len);
    if (n < 0) return std::nullopt;
    datagram.bytes.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    datagram.from = text;
    datagram.port = ntohs(sa.sin_port);
    return datagram;
}

void UdpPeer::Drain() {
    while (Receive(std::chrono::milliseconds(0))) {
    }
}

}  // namespace nbt::testing
