// SPDX-License-Identifier: MIT
// NCBCANCEL of the commands the session service carries: the cancelled NCB
// ends with NRC_CMDCAN. A LISTEN or CALL gives its number back; a send cannot
// be taken back out of the stream, so its session is aborted and the
// session's other pending NCBs end with NRC_SABORT.
#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {

void SessionService::Cancel(NCB *ncb) {
    if (std::erase(receive_any_, ncb) > 0) return void(node_->Complete(ncb, NRC_CMDCAN));
    const UCHAR code = CommandCode(ncb->ncb_command);
    if (code == NCBLISTEN || code == NCBCALL) {
        for (const auto &[lsn, session] : sessions_)
            if (session->opener() == ncb) return session->Cancel(ncb);
        return;
    }
    if (const auto it = sessions_.find(ncb->ncb_lsn); it != sessions_.end()) it->second->Cancel(ncb);
}

void Session::Cancel(NCB *ncb) {
    auto self = shared_from_this();
    if (opener_ == ncb) return EndOpener(NRC_CMDCAN);
    for (auto it = receives_.begin(); it != receives_.end(); ++it) {
        if (it->ncb != ncb) continue;
        receives_.erase(it);
        return Finish(ncb, NRC_CMDCAN);
    }
    for (auto it = sends_.begin(); it != sends_.end(); ++it) {
        if (it->ncb != ncb) continue;
        sends_.erase(it);
        Abort(true);  // the socket closes before the NCB's buffer goes back
        return Finish(ncb, NRC_CMDCAN);
    }
}

}  // namespace nbt
