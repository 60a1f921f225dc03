// SPDX-License-Identifier: MIT
// Sessions the service handed to this process: one node per LANA that binds
// nothing and carries only them, with the session machinery of the
// in-process provider (Session adopts the socket and what the service had
// read of it).
#include <unistd.h>

#include <algorithm>

#include "command_table.h"
#include "io_thread.h"
#include "nbt_event.h"
#include "node.h"
#include "service_client.h"
#include "service_link.h"
#include "service_request.h"
#include "state_lock.h"

namespace nbt {
namespace {

bool SessionCommand(UCHAR code) {
    switch (code) {
        case NCBSEND:
        case NCBSENDNA:
        case NCBCHAINSEND:
        case NCBCHAINSENDNA:
        case NCBRECV:
        case NCBHANGUP:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool ServiceClient::CarriedHere(const NCB *ncb) const {
    const auto it = handed_.find(ncb->ncb_lana_num);
    if (it == handed_.end()) return false;
    const Node &node = *it->second.node;
    const UCHAR code = CommandCode(ncb->ncb_command);
    if (code == NCBCANCEL)
        return ncb->ncb_buffer && node.IsPending(reinterpret_cast<const NCB *>(ncb->ncb_buffer));
    // Any name's, or a name of a handed session's: their messages come here.
    if (code == NCBRECVANY) return node.CarriesReceiveAny(ncb->ncb_num);
    return SessionCommand(code) && node.CarriesSession(ncb->ncb_lsn);
}

bool ServiceClient::CarryHere(NCB *ncb, SyncWaiter *waiter) {
    if (!CarriedHere(ncb)) return false;
    Node &node = *handed_.at(ncb->ncb_lana_num).node;
    ncb->ncb_retcode = NRC_PENDING;
    ncb->ncb_cmd_cplt = NRC_PENDING;
    if ((ncb->ncb_command & ASYNCH) && ncb->ncb_event) ncb->ncb_event->Reset();
    if (CommandCode(ncb->ncb_command) == NCBCANCEL) {
        Deliver(ncb, waiter, node.Cancel(reinterpret_cast<NCB *>(ncb->ncb_buffer)));
        return true;
    }
    node.Submit(ncb, waiter);
    return true;
}

bool ServiceClient::CompleteHanded(const service::Completion &done, int *fd) {
    const auto it = outstanding_.find(done.id);
    if (it == outstanding_.end() || it->second.answer_waiter || done.rc != NRC_GOODRET || done.lsn == 0 ||
        done.lsn == 0xFF)
        return false;
    const Outstanding block = it->second;
    NCB *ncb = block.ncb;
    const UCHAR code = CommandCode(ncb->ncb_command);
    if (code != NCBCALL && code != NCBLISTEN) return false;
    const UCHAR lana = ncb->ncb_lana_num;
    ncb->ncb_lsn = done.lsn;
    ncb->ncb_num = done.num;
    ncb->ncb_length = done.length;
    std::copy(done.callname.begin(), done.callname.end(), ncb->ncb_callname);
    std::copy(done.name.begin(), done.name.end(), ncb->ncb_name);
    outstanding_.erase(it);

    Handed &handed = handed_[lana];
    if (!handed.node) {
        Lana adapter;
        adapter.number = lana;
        for (const auto &entry : last_lanas_)
            if (entry.number == lana) adapter.interface_name = entry.interface_name;
        handed.node = Node::OpenForHandedSessions(adapter, settings_);
        handed.node->OnSessionReleased([this, lana](UCHAR lsn) { SayOver(lana, lsn); });
    }
    const int socket = std::exchange(*fd, -1);
    if (!handed.node->AdoptSession(ncb, socket, done.unread, done.name_number)) {
        // Not carried here, so not anywhere: the service frees the number.
        SayOver(lana, done.lsn);
        Deliver(ncb, block.waiter, NRC_NORES);
        return true;
    }
    Deliver(ncb, block.waiter, NRC_GOODRET);
    MoveReceiveAnys(lana);
    return true;
}

void ServiceClient::AddHandedCounts(NCB &ncb, const service::Completion &done) {
    const auto it = handed_.find(ncb.ncb_lana_num);
    if (it == handed_.end() || (done.rc != NRC_GOODRET && done.rc != NRC_INCOMP)) return;
    it->second.node->AddHandedPendingCounts(
        {ncb.ncb_buffer, std::min<std::size_t>(done.data.size(), ncb.ncb_length)});
}

void ServiceClient::HandedNameConflict(const service::NameConflict &conflict) {
    if (const auto it = handed_.find(conflict.lana); it != handed_.end())
        it->second.node->HandedNameInConflict(conflict.name);
}

void ServiceClient::MoveReceiveAnys(UCHAR lana) {
    std::vector<std::uint64_t> moving;
    for (const auto &[id, block] : outstanding_)
        if (block.ncb->ncb_lana_num == lana && CommandCode(block.ncb->ncb_command) == NCBRECVANY &&
            CarriedHere(block.ncb))
            moving.push_back(id);
    std::sort(moving.begin(), moving.end());  // ids rise: the oldest stays first in line
    Node &node = *handed_.at(lana).node;
    for (const std::uint64_t id : moving) {
        const Outstanding block = outstanding_.at(id);
        outstanding_.erase(id);
        dropped_.insert(id);
        // Taken here, whatever the service answers.
        if (block.answer_waiter) {
            *block.answer = NRC_GOODRET;
            StateGuard::AfterUnlock([](void *w) { static_cast<SyncWaiter *>(w)->Signal(); },
                                    block.answer_waiter);
        }
        if (block.sent)
            CancelInService(lana, id, block.ncb->ncb_command);
        else
            cancel_once_sent_[id] = {lana, block.ncb->ncb_command};
        node.Submit(block.ncb, block.waiter);
    }
}

void ServiceClient::NoteSent(std::uint64_t id) {
    if (const auto it = outstanding_.find(id); it != outstanding_.end()) {
        it->second.sent = true;
    } else if (const auto unsent = cancel_once_sent_.find(id); unsent != cancel_once_sent_.end()) {
        CancelInService(unsent->second.lana, id, unsent->second.command);
        cancel_once_sent_.erase(unsent);
    }
}

void ServiceClient::CancelInService(UCHAR lana, std::uint64_t target, UCHAR command) {
    if (!link_ || link_->lost) return;
    service::SubmitRequest cancel;
    cancel.id = next_id_++;
    cancel.command = NCBCANCEL;
    cancel.lana = lana;
    cancel.cancel_target = target;
    cancel.cancel_command = command;
    dropped_.insert(cancel.id);
    std::vector<std::uint8_t> message;
    service::EncodeSubmit(cancel, message);
    SendHoldingLock(message);  // after the request it cancels
}

void ServiceClient::SayOver(UCHAR lana, UCHAR lsn) {
    const auto it = handed_.find(lana);
    if (it == handed_.end()) return;
    Handed &handed = it->second;
    const NodeCounters &now = handed.node->counters();
    service::SessionOver over;
    over.lana = lana;
    over.lsn = lsn;
    over.sent = now.xmit_success - handed.said_sent;
    over.received = now.recv_success - handed.said_received;
    over.send_failures = static_cast<std::uint16_t>(now.xmit_aborts - handed.said_failures);
    handed.said_sent = now.xmit_success;
    handed.said_received = now.recv_success;
    handed.said_failures = now.xmit_aborts;
    if (!link_ || link_->lost) return;
    std::vector<std::uint8_t> message;
    service::EncodeSessionOver(over, message);
    // It must reach the service before any later request that could be
    // given the number again.
    SendHoldingLock(message);
}

void ServiceClient::SendHoldingLock(const std::vector<std::uint8_t> &message) {
    // Losing the link here would end blocks under the caller's feet: later.
    if (!SendMessage(link_->fd, message))
        asio::post(IoThread::Get().executor(),
                   [this, link = link_] { Lose(link, "it takes no more requests"); });
}

void ServiceClient::EndHanded(UCHAR lana, UCHAR rc) {
    const auto it = handed_.find(lana);
    if (it == handed_.end()) return;
    const auto node = it->second.node;
    // What they carried still counts; the sessions themselves the service
    // ends with the reset or the lost connection.
    if (rc == NRC_CMDCAN) {
        node->Shutdown();
        SayOver(lana, 0);
    } else {
        node->Lose(rc);
    }
    handed_.erase(lana);
}

void ServiceClient::EndAllHanded(UCHAR rc) {
    while (!handed_.empty()) EndHanded(handed_.begin()->first, rc);
}

}  // namespace nbt
