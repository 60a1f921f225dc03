// SPDX-License-Identifier: MIT
// NCBRECVANY: a receive for the next message of any session of one name, or
// of any name (0xFF). A message goes first to an NCBRECV pending on its own
// session, then to the oldest NCBRECVANY for its name, then to the oldest for
// any name; a session's close is reported the same way.
#include <algorithm>

#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {
namespace {

constexpr UCHAR kAnyName = 0xFF;

}  // namespace

void SessionService::ReceiveAny(NCB *ncb) {
    if (ncb->ncb_length > 0 && ncb->ncb_buffer == nullptr) return void(node_->Complete(ncb, NRC_BUFLEN));
    if (ncb->ncb_num != kAnyName && !links_.names->NameOf(ncb->ncb_num, node_->ClientOf(ncb)))
        return void(node_->Complete(ncb, NRC_ILLNN));
    receive_any_.push_back(ncb);
    // A message or a close already waiting on one of the name's sessions.
    for (const auto &[lsn, session] : std::map(sessions_)) {
        if (!node_->IsPending(ncb)) break;
        session->OfferToReceiveAny();
    }
}

NCB *SessionService::TakeReceiveAny(const NetbiosName &local, ClientId client) {
    std::erase_if(receive_any_, [this](NCB *ncb) { return !node_->IsPending(ncb); });
    const auto held = links_.names->Find(local);
    auto pick = receive_any_.end();
    if (held)
        pick = std::find_if(receive_any_.begin(), receive_any_.end(),
                            [&](const NCB *ncb) { return ncb->ncb_num == held->number; });
    // Any name is any name of the receiving client's own.
    if (pick == receive_any_.end())
        pick = std::find_if(receive_any_.begin(), receive_any_.end(), [&](const NCB *ncb) {
            return ncb->ncb_num == kAnyName && MayUse(node_->ClientOf(ncb), client);
        });
    if (pick == receive_any_.end()) return nullptr;
    NCB *ncb = *pick;
    receive_any_.erase(pick);
    return ncb;
}

std::size_t SessionService::PendingReceiveAny(UCHAR number, ClientId client) const {
    return static_cast<std::size_t>(
        std::count_if(receive_any_.begin(), receive_any_.end(), [&](const NCB *ncb) {
            return node_->IsPending(ncb) && MayUse(client, node_->ClientOf(ncb)) &&
                   (number == kAnyName || ncb->ncb_num == number || ncb->ncb_num == kAnyName);
        }));
}

// ---- Session -------------------------------------------------------------------

bool Session::TakeReceiveAny() {
    if (!service_) return false;
    NCB *any = service_->TakeReceiveAny(local_, client_);
    if (!any) return false;
    any->ncb_lsn = lsn_;
    receives_.push_back({any});
    return true;
}

void Session::OfferToReceiveAny() {
    auto self = shared_from_this();
    if (phase_ == SessionPhase::kEstablished && message_ready_ && receives_.empty()) return DeliverMessage();
    if (AheadUnread()) return PumpInput();  // its next message is read already, in part
    UpdateWatch();                          // its next message is awaited now, if a recheck was still to come
    if ((phase_ == SessionPhase::kClosed || phase_ == SessionPhase::kAborted) && TakeReceiveAny()) {
        NCB *any = receives_.front().ncb;
        receives_.clear();
        ReportClose(any);
    }
}

}  // namespace nbt
