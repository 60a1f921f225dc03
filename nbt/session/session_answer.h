// SPDX-License-Identifier: MIT
// The listening side of session setup: one accepted connection until it is
// handed to a LISTEN or refused. It is answered at once; nothing is held
// open waiting for a LISTEN to be posted.
#pragma once

#include <array>
#include <asio.hpp>
#include <memory>
#include <vector>

#include "session_packet.h"

namespace nbt {

class Node;
class SessionService;

class SessionAnswer : public std::enable_shared_from_this<SessionAnswer> {
public:
    SessionAnswer(std::shared_ptr<Node> node, SessionService *service, asio::ip::tcp::socket socket);
    void Start();
    // Reset: the connection closes and the service is never called again.
    void Stop();
    // Still waiting for the caller's SESSION REQUEST.
    bool AwaitingRequest() const { return !stopped_ && !request_in_; }
    const asio::ip::address &source() const { return source_; }
    // Makes room for another connection: this one ends with a reset and
    // tells the service it is done.
    void Evict();

private:
    void OnRequestTimeout();
    void ReadHeader();
    void OnHeader(const asio::error_code &ec);
    void OnRequest(const asio::error_code &ec);
    void Refuse(std::uint8_t code);
    void Done(bool reset = false);

    std::shared_ptr<Node> node_;
    SessionService *service_;
    asio::ip::tcp::socket socket_;
    asio::ip::address source_;
    asio::steady_timer timer_;
    std::array<std::uint8_t, codec::kSessionHeaderSize> header_{};
    std::vector<std::uint8_t> body_;
    std::array<std::uint8_t, 5> refusal_{};
    bool request_in_ = false;  // the session request has been read
    bool stopped_ = false;
};

}  // namespace nbt
