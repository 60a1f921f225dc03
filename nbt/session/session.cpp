#include "session.h"

#include "node.h"
#include "session_service.h"

namespace nbt {

Session::Session(std::shared_ptr<Node> node, SessionService *service, UCHAR lsn, NCB *opener)
    : node_(std::move(node)),
      service_(service),
      lsn_(lsn),
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
           phase_ == SessionPhase::kHangingUp;
}

void Session::Finish(NCB *ncb, UCHAR rc) {
    node_->Complete(ncb, rc);
}

void Session::Release() {
    if (!Live() || !service_) return;
    SessionService *service = service_;
    if (phase_ != SessionPhase::kDraining) phase_ = SessionPhase::kGone;
    service->Release(*this);
}

std::unique_ptr<asio::steady_timer> Session::StartTimer(UCHAR units, NCB *ncb, bool send) {
    if (units == 0) return nullptr;
    auto timer = std::make_unique<asio::steady_timer>(node_->io(), std::chrono::milliseconds(500) * units);
    timer->async_wait([self = shared_from_this(), ncb, send](const asio::error_code &ec) {
        if (!ec) self->OnTimeout(ncb, send);
    });
    return timer;
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

void Session::Detach() {
    // A hung-up session has already said goodbye with its FIN: a plain close
    // keeps it that way unless the peer sent more that nobody will read.
    const bool hung_up = phase_ == SessionPhase::kDraining;
    phase_ = SessionPhase::kGone;
    service_ = nullptr;
    opener_ = nullptr;
    hangup_ = nullptr;
    receives_.clear();  // their timers are cancelled as they go
    sends_.clear();
    hangup_timer_.reset();
    keep_alive_timer_.reset();
    setup_timer_.cancel();
    if (hung_up) {
        asio::error_code ignored;
        socket_.close(ignored);
    } else {
        CloseSocket(true);
    }
}

}  // namespace nbt
