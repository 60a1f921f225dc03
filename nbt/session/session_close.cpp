// SPDX-License-Identifier: MIT
// How sessions end: the peer's FIN or RST, our HANGUP, a malformed packet or
// a send time-out. A close no pending command heard of is reported once, by
// the next command on the number; then the number is free.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {
namespace {

// How long a HANGUP waits for the sends already under way.
constexpr auto kHangupSendWait = std::chrono::seconds(20);

// Bytes a hung-up session reads (and drops) until the peer's FIN. Read
// holding the state lock, and nobody looks at them.
std::array<std::uint8_t, 16384> drain_scratch;

}  // namespace

namespace {

// Resets the connection now, whoever else holds a descriptor of it (a forked
// child, or the service that handed it to us): a disconnect, not the close
// of the last descriptor, sends the RST.
void ResetConnection(int fd) {
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(fd, &unspecified, sizeof unspecified);
}

}  // namespace

void Session::CloseSocket(bool reset_peer) {
    if (conn_.open()) {
        if (reset_peer) {
            ResetConnection(conn_.fd());
        } else {
            ::shutdown(conn_.fd(), SHUT_RDWR);
        }
        conn_.Close();
        return;
    }
    if (!socket_.is_open()) return;
    asio::error_code ignored;
    if (reset_peer)
        ResetConnection(socket_.native_handle());
    else
        socket_.shutdown(asio::socket_base::shutdown_both, ignored);
    socket_.close(ignored);
}

void Session::PeerClosed() {
    CloseSocket(false);
    Closed(NRC_SCLOSED);
}

void Session::LeaveAddress() {
    switch (phase_) {
        case SessionPhase::kCalling:
            if (socket_.is_open()) FailCall(NRC_SABORT);
            return;
        case SessionPhase::kEstablished:
        case SessionPhase::kHangingUp:
            return Abort(/*reset_peer=*/true);
        default:
            return;
    }
}

void Session::Abort(bool reset_peer) {
    CloseSocket(reset_peer);
    Closed(NRC_SABORT);
}

void Session::Closed(UCHAR code) {
    auto self = shared_from_this();
    phase_ = code == NRC_SCLOSED ? SessionPhase::kClosed : SessionPhase::kAborted;
    close_code_ = code;
    message_ready_ = false;
    in_body_ = false;
    direct_ = nullptr;  // the receives end with the close: nothing to keep
    DropAhead();
    send_driven_ = writing_ = false;
    hangup_timer_.reset();
    keep_alive_timer_.reset();
    auto receives = std::move(receives_);
    auto sends = std::move(sends_);
    receives_.clear();
    sends_.clear();
    bool reported = false;
    for (auto &io : receives) reported |= node_->Complete(io.ncb, code);
    for (auto &io : sends) reported |= node_->Complete(io.ncb, code);
    if (NCB *hangup = hangup_) {
        hangup_ = nullptr;
        reported |= node_->Complete(hangup, code);
    }
    if (!reported && TakeReceiveAny()) {
        reported |= node_->Complete(receives_.front().ncb, code);
        receives_.clear();
    }
    if (reported)
        Release();
    else if (service_)
        service_->Ended(*this);
}

void Session::ReportClose(NCB *ncb) {
    auto self = shared_from_this();
    Finish(ncb, close_code_);
    Release();
}

void Session::Hangup(NCB *ncb) {
    auto self = shared_from_this();
    switch (phase_) {
        case SessionPhase::kListening:
        case SessionPhase::kCalling:
            EndOpener(NRC_SCLOSED);
            Finish(ncb, NRC_GOODRET);
            return;
        case SessionPhase::kClosed:
        case SessionPhase::kAborted:
            ReportClose(ncb);
            return;
        case SessionPhase::kEstablished:
            break;
        default:
            Finish(ncb, NRC_SCLOSED);  // a hangup is already under way
            return;
    }
    phase_ = SessionPhase::kHangingUp;
    hangup_ = ncb;
    auto receives = std::move(receives_);
    receives_.clear();
    for (auto &io : receives) Finish(io.ncb, NRC_SCLOSED);
    if (sends_.empty()) return FinishHangup();
    hangup_timer_ = std::make_unique<asio::steady_timer>(node_->io(), kHangupSendWait);
    hangup_timer_->async_wait([self](const asio::error_code &ec) {
        if (ec || self->phase_ != SessionPhase::kHangingUp || !self->hangup_) return;
        NCB *hangup = self->hangup_;
        self->hangup_ = nullptr;
        self->Abort(true);
        self->Finish(hangup, NRC_CMDTMO);
    });
}

void Session::FinishHangup() {
    auto self = shared_from_this();
    NCB *hangup = hangup_;
    hangup_ = nullptr;
    hangup_timer_.reset();
    keep_alive_timer_.reset();
    message_ready_ = false;
    DropAhead();  // nobody reads what came after the hangup
    // FIN now; closing with unread bytes would turn it into an RST, so read
    // on (and drop) until the peer closes too.
    ::shutdown(conn_.fd(), SHUT_WR);
    phase_ = SessionPhase::kDraining;
    if (service_) {
        SessionService *service = service_;
        service->Release(*this);
        service->Draining(self);
    }
    if (hangup) Finish(hangup, NRC_GOODRET);
    setup_timer_.expires_after(node_->settings().ssn_close_timeout);
    setup_timer_.async_wait([self](const asio::error_code &ec) {
        if (ec || self->phase_ != SessionPhase::kDraining) return;
        self->phase_ = SessionPhase::kGone;
        self->CloseSocket(true);
    });
    PumpInput();
}

Session::Input Session::DrainSome() {
    const ssize_t n = ::recv(conn_.fd(), drain_scratch.data(), drain_scratch.size(), MSG_DONTWAIT);
    if (n > 0) return Input::kProgress;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return Input::kBlocked;
    EndDrain();
    return Input::kStopped;
}

// The peer's FIN (or a reset) has been read: close now. Another read would
// wait for news the socket has already given.
void Session::EndDrain() {
    phase_ = SessionPhase::kGone;
    setup_timer_.cancel();
    CloseSocket(false);
}

}  // namespace nbt
