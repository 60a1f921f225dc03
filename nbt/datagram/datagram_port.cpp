// SPDX-License-Identifier: MIT
#include "datagram_port.h"

#include <sys/socket.h>

namespace nbt {
namespace {

constexpr auto kRetryDelay = std::chrono::milliseconds(100);

asio::error_code BindToDevice(int fd, const std::string &interface_name) {
    if (interface_name.empty() || setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface_name.c_str(),
                                             static_cast<socklen_t>(interface_name.size())) == 0)
        return {};
    return {errno, asio::system_category()};
}

}  // namespace

DatagramPort::DatagramPort(const asio::any_io_executor &io) : io_(io), unicast_(io), broadcast_(io) {}

DatagramPort::~DatagramPort() {
    Close();
}

asio::error_code DatagramPort::Open(Socket &s, bool reuse, const std::string &interface_name) {
    asio::error_code ec;
    s.socket.open(asio::ip::udp::v4(), ec);
    if (ec) return ec;
    if (reuse) s.socket.set_option(asio::socket_base::reuse_address(true), ec);
    s.socket.set_option(asio::socket_base::broadcast(true), ec);
    if (ec) return ec;
    return BindToDevice(s.socket.native_handle(), interface_name);
}

asio::error_code DatagramPort::BindBroadcast(const asio::ip::address_v4 &broadcast, std::uint16_t port,
                                             const std::string &interface_name) {
    asio::error_code ec = Open(broadcast_, true, interface_name);
    if (ec) return ec;
    broadcast_.socket.bind({broadcast, port}, ec);
    return ec;
}

asio::error_code DatagramPort::BindUnicast(const asio::ip::address_v4 &address, std::uint16_t port,
                                           const std::string &interface_name) {
    // No SO_REUSEADDR: a second node on the same address finds it taken.
    asio::error_code ec = Open(unicast_, false, interface_name);
    if (!ec) unicast_.socket.bind({address, port}, ec);
    if (!ec) unicast_.socket.non_blocking(true, ec);
    if (ec) CloseUnicast();
    return ec;
}

void DatagramPort::CloseUnicast() {
    asio::error_code ignored;
    unicast_.socket.close(ignored);
}

void DatagramPort::Start(Receiver receiver) {
    receiver_ = std::move(receiver);
    open_ = true;
    ReceiveOn(unicast_, true);
    ReceiveOn(broadcast_, false);
}

void DatagramPort::ReceiveOn(Socket &s, bool unicast) {
    s.socket.async_receive_from(
        asio::buffer(s.buffer), s.from,
        [self = shared_from_this(), &s, unicast](const asio::error_code &ec, std::size_t size) {
            if (!self->open_) return;
            if (ec) {
                if (ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor) return;
                auto timer = std::make_shared<asio::steady_timer>(self->io_, kRetryDelay);
                timer->async_wait([self, timer, &s, unicast](const asio::error_code &) {
                    if (self->open_) self->ReceiveOn(s, unicast);
                });
                return;
            }
            // One bad datagram must not stop the receive loop.
            try {
                // A copy: the receiver may close the port.
                if (auto receiver = self->receiver_)
                    receiver(std::span<const std::uint8_t>(s.buffer.data(), size), s.from, unicast);
            } catch (...) {
            }
            if (self->open_) self->ReceiveOn(s, unicast);
        });
}

DatagramPort::SendResult DatagramPort::Send(std::span<const std::uint8_t> bytes,
                                            const asio::ip::udp::endpoint &to) {
    if (!unicast_.socket.is_open()) return SendResult::kFailed;
    asio::error_code ec;
    unicast_.socket.send_to(asio::buffer(bytes.data(), bytes.size()), to, 0, ec);
    if (!ec) return SendResult::kSent;
    if (ec != asio::error::would_block && ec != asio::error::try_again) return SendResult::kFailed;
    if (*queued_ >= kMaxQueued) return SendResult::kQueueFull;
    ++*queued_;
    auto copy = std::make_shared<std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
    unicast_.socket.async_send_to(
        asio::buffer(*copy), to,
        [copy, queued = queued_](const asio::error_code &, std::size_t) { --*queued; });
    return SendResult::kSent;
}

void DatagramPort::Close() {
    open_ = false;
    receiver_ = nullptr;
    asio::error_code ignored;
    unicast_.socket.close(ignored);
    broadcast_.socket.close(ignored);
}

}  // namespace nbt
