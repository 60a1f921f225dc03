// SPDX-License-Identifier: MIT
// Outstanding name-service requests of one node: each is sent a number of
// times, a fixed interval apart, under one random transaction id, until a
// reply finishes it or the tries run out. Replies are matched on transaction
// id, opcode and (for unicast requests) the peer's address, and for a name
// server its port too.
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "name_packet.h"

namespace nbt {

class NameExchanges {
public:
    // Returns true when the reply finishes the exchange.
    using ReplyHandler = std::function<bool(const codec::NamePacket &, const asio::ip::udp::endpoint &)>;
    // The tries ran out without a finishing reply.
    using ExpiryHandler = std::function<void()>;
    using Sender = std::function<void(std::span<const std::uint8_t>, const asio::ip::udp::endpoint &)>;

    struct Request {
        std::vector<std::uint8_t> bytes;
        asio::ip::udp::endpoint to;
        std::optional<asio::ip::address_v4> peer;  // replies only from here; nullopt: anyone
        std::uint16_t peer_port = 0;               // and from this port; 0: any
        codec::NameOpcode opcode = codec::NameOpcode::kQuery;
        // A name server answers refreshes as registrations.
        std::optional<codec::NameOpcode> also_opcode;
        // To a name server: a WAIT FOR ACKNOWLEDGEMENT naming this name
        // stops the resending and moves the deadline to its TTL from now,
        // but never past wack_limit from the first sending. Anyone who can
        // send from the server's address can send one for every id.
        std::optional<codec::NetbiosName> wack_name;
        std::chrono::milliseconds wack_limit{0};
        int count = 3;
        std::chrono::milliseconds interval{250};
    };

    NameExchanges(const asio::any_io_executor &io, Sender sender);
    ~NameExchanges();
    NameExchanges(const NameExchanges &) = delete;
    NameExchanges &operator=(const NameExchanges &) = delete;

    // A random id not used by any exchange in progress, from the kernel's
    // cryptographic source: ids another host could predict from the ones
    // it has seen would let it answer our queries in a real owner's place.
    std::uint16_t NewId();
    // The request bytes must carry `id`. Sends the first copy at once.
    void Start(std::uint16_t id, Request request, ReplyHandler on_reply, ExpiryHandler on_expiry);
    // Sends the request once and matches no answer to it.
    void SendOnce(const Request &request) { sender_(request.bytes, request.to); }
    // Offers a received response; true when an exchange took it.
    bool Deliver(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    // Drops one exchange; none of its handlers runs afterwards.
    void Cancel(std::uint16_t id);
    // Drops every exchange; no handler runs afterwards.
    void CancelAll();
    std::uint32_t expired_count() const { return expired_; }

private:
    struct Exchange;
    using Clock = std::chrono::steady_clock;
    // One timer serves every exchange, armed for the earliest one due. A
    // finished exchange leaves it alone: re-arming costs a system call, and
    // a timer that fires with nothing due simply goes back to sleep.
    void Schedule(Clock::time_point due);
    void OnTimer();
    void Finish(std::uint16_t id);

    Sender sender_;
    asio::steady_timer timer_;
    std::optional<Clock::time_point> armed_;
    std::uint64_t generation_ = 0;
    std::map<std::uint16_t, std::shared_ptr<Exchange>> exchanges_;
    // Bytes from the kernel's random source, fetched a block at a time.
    std::array<std::uint8_t, 256> random_{};
    std::size_t random_used_ = sizeof random_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::uint32_t expired_ = 0;
};

}  // namespace nbt
