// SPDX-License-Identifier: MIT
#include "session_answer.h"

#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {
namespace {

// A connection that has not sent its SESSION REQUEST by then is dropped
// (sooner when a full pool needs its place: SessionService::OnAccept).
constexpr auto kRequestTimeout = std::chrono::seconds(10);

}  // namespace

SessionAnswer::SessionAnswer(std::shared_ptr<Node> node, SessionService *service,
                             asio::ip::tcp::socket socket)
    : node_(std::move(node)), service_(service), socket_(std::move(socket)), timer_(node_->io()) {
    asio::error_code ec;
    const auto peer = socket_.remote_endpoint(ec);
    if (!ec) source_ = peer.address();
}

void SessionAnswer::Start() {
    timer_.expires_after(kRequestTimeout);
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec) self->OnRequestTimeout();
    });
    ReadHeader();
}

void SessionAnswer::Stop() {
    stopped_ = true;
    service_ = nullptr;
    timer_.cancel();
    asio::error_code ignored;
    socket_.set_option(asio::socket_base::linger(true, 0), ignored);
    socket_.close(ignored);
}

void SessionAnswer::Evict() {
    Done(/*reset=*/true);
}

void SessionAnswer::OnRequestTimeout() {
    // Once the request is in, the timer has done its job; its handler may
    // still run (cancel() cannot take back one already due), and must not
    // close a connection whose answer, and the LISTEN it took, is under way.
    if (stopped_ || request_in_) return;
    Done();
}

void SessionAnswer::ReadHeader() {
    asio::async_read(
        socket_, asio::buffer(header_),
        [self = shared_from_this()](const asio::error_code &ec, std::size_t) { self->OnHeader(ec); });
}

void SessionAnswer::OnHeader(const asio::error_code &ec) {
    if (stopped_) return;
    if (ec) return Done();
    const auto decoded = codec::DecodeSessionHeader(header_);
    if (decoded.error != codec::HeaderError::kOk) return Done();
    if (decoded.header.type == codec::SessionType::kKeepAlive) return ReadHeader();
    if (decoded.header.type != codec::SessionType::kRequest) return Done();
    // The header check has held the length to what two names can take.
    body_.resize(decoded.header.length);
    asio::async_read(
        socket_, asio::buffer(body_),
        [self = shared_from_this()](const asio::error_code &error, std::size_t) { self->OnRequest(error); });
}

void SessionAnswer::OnRequest(const asio::error_code &ec) {
    if (stopped_) return;
    if (ec) return Done();
    request_in_ = true;
    timer_.cancel();
    const auto request = codec::DecodeSessionRequest(body_);
    if (!request) return Done();
    std::uint8_t refusal = 0;
    std::shared_ptr<Session> session =
        service_->MatchListen(request->called, request->calling, request->called_scope, &refusal);
    if (!session) return Refuse(refusal);

    static const auto positive = codec::EncodePositiveResponse();
    asio::async_write(socket_, asio::buffer(positive),
                      [self = shared_from_this(), session, caller = request->calling](
                          const asio::error_code &error, std::size_t) {
                          if (self->stopped_) return;
                          if (error) {
                              self->service_->ReturnListen(session);
                              return self->Done();
                          }
                          session->Accept(std::move(self->socket_), caller);
                          self->Done();
                      });
    if (const auto &hook = node_->settings().answer_sent_for_test)
        hook([self = shared_from_this()] { self->OnRequestTimeout(); });
}

void SessionAnswer::Refuse(std::uint8_t code) {
    refusal_ = codec::EncodeNegativeResponse(static_cast<codec::SessionRefusal>(code));
    asio::async_write(socket_, asio::buffer(refusal_),
                      [self = shared_from_this()](const asio::error_code &, std::size_t) {
                          if (self->stopped_) return;
                          // Our FIN follows the answer; the caller closes its end.
                          asio::error_code ignored;
                          self->socket_.shutdown(asio::socket_base::shutdown_send, ignored);
                          self->Done();
                      });
}

void SessionAnswer::Done(bool reset) {
    if (stopped_) return;
    stopped_ = true;
    timer_.cancel();
    asio::error_code ignored;
    if (reset) socket_.set_option(asio::socket_base::linger(true, 0), ignored);
    if (socket_.is_open()) socket_.close(ignored);
    SessionService *service = service_;
    service_ = nullptr;
    if (service) service->AnswerDone(this);
}

}  // namespace nbt
