// SPDX-License-Identifier: MIT
// The two UDP sockets of a node's datagram service: ip:port for datagrams
// sent to this node, broadcast:port (shared with every node of the segment)
// for group and broadcast datagrams. The node binds them beside its name and
// session sockets, so a loopback node that finds one taken moves on to the
// next 127.0.0.N; the datagram service reads and writes through them.
// Network thread only.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nbt {

class DatagramPort : public std::enable_shared_from_this<DatagramPort> {
public:
    explicit DatagramPort(const asio::any_io_executor &io);
    ~DatagramPort();

    // interface_name: the LANA's interface, "" on the loopback adapter.
    // An empty error code when bound.
    asio::error_code BindBroadcast(const asio::ip::address_v4 &broadcast, std::uint16_t port,
                                   const std::string &interface_name);
    asio::error_code BindUnicast(const asio::ip::address_v4 &address, std::uint16_t port,
                                 const std::string &interface_name);
    void CloseUnicast();

    // Every datagram read from either socket; `unicast` tells which.
    using Receiver =
        std::function<void(std::span<const std::uint8_t>, const asio::ip::udp::endpoint &from, bool unicast)>;
    void Start(Receiver receiver);
    enum class SendResult { kSent, kQueueFull, kFailed };
    // From the unicast socket, so the source port is the datagram port. The
    // bytes are copied; never blocks. A full send buffer queues a copy, up to
    // kMaxQueued of them; past that the datagram is dropped (kQueueFull).
    SendResult Send(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to);
    static constexpr std::size_t kMaxQueued = 64;
    // Closes both sockets; no receiver call after this.
    void Close();

private:
    struct Socket {
        explicit Socket(const asio::any_io_executor &io) : socket(io), buffer(65536) {}
        asio::ip::udp::socket socket;
        std::vector<std::uint8_t> buffer;
        asio::ip::udp::endpoint from;
    };
    asio::error_code Open(Socket &s, bool reuse, const std::string &interface_name);
    void ReceiveOn(Socket &s, bool unicast);

    asio::any_io_executor io_;
    Socket unicast_;
    Socket broadcast_;
    Receiver receiver_;
    bool open_ = false;
    // Shared with the queued sends' handlers, which may outlive this port.
    std::shared_ptr<std::size_t> queued_ = std::make_shared<std::size_t>(0);
};

}  // namespace nbt
