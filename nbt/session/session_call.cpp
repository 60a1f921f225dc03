// SPDX-License-Identifier: MIT
// The caller's side of session setup: connect to each resolved address in
// turn, send the SESSION REQUEST, and follow retargets a bounded number of times.
#include <asio.hpp>

#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {
namespace {

// Connect plus the answer to our request, per attempt. A peer that accepts
// the connection and then says nothing must not hold the CALL for ever.
constexpr auto kSetupTimeout = std::chrono::seconds(10);

// What a NEGATIVE SESSION RESPONSE code means to the caller: the remote
// node is there but refuses (its table or its listens), or the name is not.
UCHAR RefusalCode(std::uint8_t code) {
    switch (static_cast<codec::SessionRefusal>(code)) {
        case codec::SessionRefusal::kNotListeningOnCalled:
        case codec::SessionRefusal::kNotListeningForCalling:
        case codec::SessionRefusal::kInsufficientResources:
            return NRC_REMTFUL;
        default:
            return NRC_NOCALL;
    }
}

}  // namespace

void Session::Connect(std::vector<asio::ip::tcp::endpoint> targets) {
    if (phase_ != SessionPhase::kCalling) return;
    targets_ = std::move(targets);
    next_target_ = 0;
    auto request = codec::EncodeSessionRequest(remote_, local_, node_->settings().scope);
    if (!request) {
        FailCall(NRC_SYSTEM);
        return;
    }
    request_ = std::move(*request);
    ConnectNext();
}

void Session::ArmSetupTimer() {
    // A wait already due when the next attempt starts still runs with no
    // error; it must not close that attempt's socket.
    const unsigned attempt = ++setup_attempt_;
    setup_timer_.expires_after(kSetupTimeout);
    setup_timer_.async_wait([self = shared_from_this(), attempt](const asio::error_code &ec) {
        if (ec || self->phase_ != SessionPhase::kCalling || attempt != self->setup_attempt_) return;
        // Whatever step hangs, closing the socket ends it.
        asio::error_code ignored;
        self->socket_.close(ignored);
    });
}

void Session::ConnectNext() {
    if (next_target_ >= targets_.size()) {
        if (phase_ == SessionPhase::kCalling) service_->Unreachable(remote_);
        FailCall(NRC_NOCALL);
        return;
    }
    const asio::ip::tcp::endpoint target = targets_[next_target_++];
    asio::error_code ec;
    if (socket_.is_open()) socket_.close(ec);
    socket_.open(asio::ip::tcp::v4(), ec);
    if (ec) {
        FailCall(NRC_OSRESNOTAV);
        return;
    }
    ArmSetupTimer();
    socket_.async_connect(
        target, [self = shared_from_this()](const asio::error_code &error) { self->OnConnected(error); });
}

void Session::OnConnected(const asio::error_code &ec) {
    if (phase_ != SessionPhase::kCalling) return;
    if (ec) {
        ConnectNext();  // refused or timed out: the next address, if any
        return;
    }
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    asio::async_write(socket_, asio::buffer(request_),
                      [self = shared_from_this()](const asio::error_code &error, std::size_t) {
                          if (self->phase_ != SessionPhase::kCalling) return;
                          if (error) {
                              self->FailCall(NRC_SABORT);
                              return;
                          }
                          asio::async_read(
                              self->socket_, asio::buffer(self->in_header_),
                              [self](const asio::error_code &e, std::size_t) { self->OnCallReply(e); });
                      });
}

void Session::OnCallReply(const asio::error_code &ec) {
    if (phase_ != SessionPhase::kCalling) return;
    if (ec) {
        FailCall(NRC_SABORT);  // closed or reset before answering
        return;
    }
    const auto decoded = codec::DecodeSessionHeader(in_header_);
    if (decoded.error != codec::HeaderError::kOk) {
        FailCall(NRC_SABORT);
        return;
    }
    switch (decoded.header.type) {
        case codec::SessionType::kPositive:
            setup_timer_.cancel();
            Establish();
            return;
        case codec::SessionType::kKeepAlive:
            asio::async_read(socket_, asio::buffer(in_header_),
                             [self = shared_from_this()](const asio::error_code &e, std::size_t) {
                                 self->OnCallReply(e);
                             });
            return;
        case codec::SessionType::kNegative:
        case codec::SessionType::kRetarget:
            // The header check has held these to 1 and 6 bytes.
            reply_length_ = decoded.header.length;
            asio::async_read(socket_, asio::buffer(reply_body_.data(), reply_length_),
                             [self = shared_from_this()](const asio::error_code &e, std::size_t) {
                                 self->OnCallReplyBody(e);
                             });
            return;
        default:
            FailCall(NRC_SABORT);
            return;
    }
}

void Session::OnCallReplyBody(const asio::error_code &ec) {
    if (phase_ != SessionPhase::kCalling) return;
    if (ec) {
        FailCall(NRC_SABORT);
        return;
    }
    const std::span<const std::uint8_t> body(reply_body_.data(), reply_length_);
    if (in_header_[0] == static_cast<std::uint8_t>(codec::SessionType::kNegative)) {
        const auto code = codec::DecodeNegativeResponse(body);
        FailCall(code ? RefusalCode(*code) : NRC_SABORT);
        return;
    }
    const auto target = codec::DecodeRetarget(body);
    if (!target) {
        FailCall(NRC_SABORT);
        return;
    }
    if (!node_->IsPeerAddress(asio::ip::address_v4(target->address))) {
        // A retarget pointing nowhere sensible (0.0.0.0 would be this host)
        // is not followed: on to the next address, if any.
        setup_timer_.cancel();
        ConnectNext();
        return;
    }
    if (++retargets_ > node_->settings().ssn_retry_count) {
        FailCall(NRC_NOCALL);  // a retarget loop, or one too long to follow
        return;
    }
    setup_timer_.cancel();
    targets_.insert(targets_.begin() + static_cast<std::ptrdiff_t>(next_target_),
                    asio::ip::tcp::endpoint(asio::ip::address_v4(target->address), target->port));
    ConnectNext();
}

void Session::FailCall(UCHAR rc) {
    if (phase_ != SessionPhase::kCalling) return;
    EndOpener(rc);
}

}  // namespace nbt
