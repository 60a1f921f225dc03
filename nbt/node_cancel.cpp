// SPDX-License-Identifier: MIT
// NCBCANCEL: which commands may be cancelled, and ending one that is pending.
#include "node.h"
#include "session_service.h"

namespace nbt {
namespace {

// The commands that wait on the network or on a peer. Adding, deleting and
// resetting change state that cannot be half undone; datagram sends and the
// cancel itself never wait.
bool Cancellable(UCHAR code) {
    switch (code) {
        case NCBLISTEN:
        case NCBCALL:
        case NCBRECV:
        case NCBRECVANY:
        case NCBDGRECV:
        case NCBDGRECVBC:
        case NCBASTAT:
        case NCBSSTAT:
        case NCBSEND:
        case NCBSENDNA:
        case NCBCHAINSEND:
        case NCBCHAINSENDNA:
            return true;
        default:
            return false;
    }
}

}  // namespace

UCHAR Node::Cancel(NCB *target, ClientId client) {
    if (!Cancellable(CommandCode(target->ncb_command))) return NRC_CANCEL;
    // Another client's block is, to this one, a block that is not pending.
    if (!IsPending(target) || !MayUse(client, ClientOf(target))) return NRC_CANOCCR;
    // The session service has numbers, timers and streams to put right; the
    // other services check IsPending() before they touch an NCB again.
    if (CommandOf(target->ncb_command).service == Service::kSession && session_service_)
        session_service_->Cancel(target);
    if (IsPending(target)) Complete(target, NRC_CMDCAN);
    return NRC_GOODRET;
}

}  // namespace nbt
