// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>

#include "node.h"
#include "session_service.h"

namespace nbt {

Session::Session(std::shared_ptr<Node> node, SessionService *service, UCHAR lsn, NCB *opener)
    : node_(std::move(node)),
      service_(service),
      lsn_(lsn),
      client_(node_->ClientOf(opener)),
      local_(NameFromField(opener->ncb_name)),
      remote_(NameFromField(opener->ncb_callname)),
      rto_(opener->ncb_rto),
      sto_(opener->ncb_sto),
      phase_((opener->ncb_command & ~ASYNCH) == NCBLISTEN ? SessionPhase::kListening
                                                          : SessionPhase::kCalling),
      opener_(opener),
      socket_(node_->io()),
      setup_timer_(node_->io()) {}

Session::~Session() = default;

UCHAR Session::StatusState() const {
    switch (phase_) {
        case SessionPhase::kListening:
            return LISTEN_OUTSTANDING;
        case SessionPhase::kCalling:
            return CALL_PENDING;
        case SessionPhase::kEstablished:
        case SessionPhase::kHanded:
            return SESSION_ESTABLISHED;
        case SessionPhase::kHangingUp:
            return HANGUP_PENDING;
        case SessionPhase::kClosed:
            return HANGUP_COMPLETE;
        default:
            return SESSION_ABORTED;
    }
}

bool Session::HoldsName() const {
    return phase_ == SessionPhase::kCalling || phase_ == SessionPhase::kEstablished ||
           phase_ == SessionPhase::kHangingUp || phase_ == SessionPhase::kHanded;
}

void Session::Finish(NCB *ncb, UCHAR rc) {
    if (ncb == direct_) MoveDirectToBody();
    node_->Complete(ncb, rc);
}

void Session::Release() {
    if (!Live() || !service_) return;
    SessionService *service = service_;
    if (phase_ != SessionPhase::kDraining) phase_ = SessionPhase::kGone;
    if (timeouts_) timeouts_->cancel();
    service->Release(*this);
}

Session::Clock::time_point Session::Deadline(UCHAR units) {
    if (units == 0) return Clock::time_point::max();
    const auto due = Clock::now() + std::chrono::milliseconds(500) * units;
    if (due < timeouts_due_) ArmTimeouts(due);
    return due;
}

void Session::ArmTimeouts(Clock::time_point due) {
    if (!timeouts_) timeouts_ = std::make_unique<asio::steady_timer>(node_->io());
    timeouts_due_ = due;
    timeouts_->expires_at(due);
    timeouts_->async_wait([self = shared_from_this(), due](const asio::error_code &ec) {
        if (!ec) self->OnTimeouts(due);
    });
}

void Session::OnTimeouts(Clock::time_point due) {
    if (due != timeouts_due_) return;  // armed again for an earlier one since
    timeouts_due_ = Clock::time_point::max();
    if (!Live()) return;
    const auto now = Clock::now();
    std::vector<std::pair<NCB *, bool>> expired;
    for (const auto &io : receives_)
        if (io.deadline <= now) expired.emplace_back(io.ncb, false);
    for (const auto &io : sends_)
        if (io.deadline <= now) expired.emplace_back(io.ncb, true);
    auto self = shared_from_this();
    for (const auto &[ncb, send] : expired) OnTimeout(ncb, send);
    if (!Live()) return;
    auto next = Clock::time_point::max();
    for (const auto &io : receives_) next = std::min(next, io.deadline);
    for (const auto &io : sends_) next = std::min(next, io.deadline);
    if (next != Clock::time_point::max()) ArmTimeouts(next);
}

void Session::OnTimeout(NCB *ncb, bool send) {
    if (!Live()) return;
    auto &queue = send ? sends_ : receives_;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->ncb != ncb) continue;
        if (!send) {
            // A receive that runs out leaves the session as it was.
            queue.erase(it);
            Finish(ncb, NRC_CMDTMO);
            return;
        }
        // A send that runs out has left the stream in an unknown state:
        // the session cannot go on.
        queue.erase(it);
        auto self = shared_from_this();
        Abort(true);  // the socket closes before the NCB's buffer goes back
        Finish(ncb, NRC_CMDTMO);
        return;
    }
}

void Session::EndOpener(UCHAR rc) {
    auto self = shared_from_this();
    if (opener_) {
        NCB *ncb = opener_;
        opener_ = nullptr;
        Finish(ncb, rc);
    }
    setup_timer_.cancel();
    CloseSocket(phase_ == SessionPhase::kCalling);
    Release();
}

void Session::NameInConflict() {
    auto self = shared_from_this();
    if (phase_ == SessionPhase::kListening || phase_ == SessionPhase::kCalling) return EndOpener(NRC_NAMCONF);
    if (phase_ != SessionPhase::kEstablished) return;
    auto receives = std::move(receives_);
    receives_.clear();
    for (auto &io : receives) Finish(io.ncb, NRC_NAMCONF);
}

void Session::Drop() {
    auto self = shared_from_this();
    std::vector<NCB *> left;
    if (opener_) left.push_back(opener_);
    for (const auto &io : receives_)
        if (io.ncb) left.push_back(io.ncb);
    for (const auto &io : sends_)
        if (io.ncb) left.push_back(io.ncb);
    if (hangup_) left.push_back(hangup_);
    Detach();  // the socket closes before the buffers go back
    for (NCB *ncb : left) node_->Complete(ncb, NRC_SABORT);
}

void Session::Detach() {
    // A hung-up session has already said goodbye with its FIN: a plain close
    // keeps it that way unless the peer sent more that nobody will read.
    const bool hung_up = phase_ == SessionPhase::kDraining;
    const bool handed = phase_ == SessionPhase::kHanded;
    phase_ = SessionPhase::kGone;
    service_ = nullptr;
    opener_ = nullptr;
    hangup_ = nullptr;
    receives_.clear();
    sends_.clear();
    direct_ = nullptr;
    DropAhead();
    send_driven_ = writing_ = false;
    if (timeouts_) timeouts_->cancel();
    hangup_timer_.reset();
    keep_alive_timer_.reset();
    setup_timer_.cancel();
    if (hung_up) {
        conn_.Close();
    } else if (handed) {
        ResetHanded();
    } else {
        CloseSocket(true);
    }
}

}  // namespace nbt
