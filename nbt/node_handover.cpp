// SPDX-License-Identifier: MIT
// Sessions korveld hands to its clients: the service's node gives them up,
// and a client's node of handed sessions alone carries them.
#include <unistd.h>

#include <algorithm>

#include "handed_names.h"
#include "io_thread.h"
#include "node.h"
#include "provider.h"
#include "session_service.h"

namespace nbt {

int Node::HandOverSession(UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread, UCHAR *name_number) {
    if (!open_ || !session_service_ || !HasClient(client)) return -1;
    return session_service_->HandOver(lsn, client, unread, name_number);
}

void Node::HandedSessionOver(ClientId client, UCHAR lsn, const NodeCounters &carried) {
    if (!open_ || !HasClient(client)) return;
    counters_.xmit_success += carried.xmit_success;
    counters_.recv_success += carried.recv_success;
    counters_.xmit_aborts =
        static_cast<std::uint16_t>(std::min<unsigned>(0xFFFF, counters_.xmit_aborts + carried.xmit_aborts));
    if (lsn != 0 && session_service_) session_service_->HandedBack(lsn, client);
}

std::shared_ptr<Node> Node::OpenForHandedSessions(const Lana &lana, const Settings &settings) {
    auto node = std::make_shared<Node>(lana, SharedLimits(), settings, nullptr);
    node->open_ = true;
    node->address_ = lana.address;
    node->handed_names_ = std::make_shared<HandedNames>();
    node->session_service_ = std::make_shared<SessionService>(node, node->links_);
    node->links_ = {node->handed_names_.get(), node->session_service_.get(), nullptr};
    node->targets_[static_cast<std::size_t>(Service::kSession)] = node->session_service_.get();
    return node;
}

bool Node::AdoptSession(NCB *opener, int fd, std::span<const std::uint8_t> unread, UCHAR name_number) {
    if (!open_ || !session_service_ || !handed_names_) {
        ::close(fd);
        return false;
    }
    handed_names_->Remember(NameFromField(opener->ncb_name), name_number);
    return session_service_->Adopt(opener, fd, unread);
}

bool Node::CarriesSession(UCHAR lsn) const {
    return open_ && session_service_ && session_service_->Carries(lsn);
}

bool Node::CarriesReceiveAny(UCHAR name_number) const {
    return open_ && session_service_ && handed_names_ &&
           (name_number == 0xFF || handed_names_->NameOf(name_number, kProcessClient));
}

void Node::AddHandedPendingCounts(std::span<UCHAR> reply) const {
    if (open_ && session_service_) session_service_->AddPendingCounts(reply);
}

void Node::OnSessionReleased(std::function<void(UCHAR lsn)> released) {
    if (session_service_) session_service_->OnRelease(std::move(released));
}

void Node::HandedNameInConflict(const NetbiosName &name) {
    if (open_ && session_service_ && handed_names_ && handed_names_->MarkInConflict(name))
        session_service_->OnNameConflict(name);
}

void Node::OnHandedNameConflict(std::function<void(ClientId, const NetbiosName &)> notice) {
    if (session_service_) session_service_->OnHandedConflict(std::move(notice));
}

int Provider::HandOverSession(UCHAR lana, UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread,
                              UCHAR *name_number) {
    const auto node = nodes_.find(lana);
    return node == nodes_.end() ? -1 : node->second->HandOverSession(lsn, client, unread, name_number);
}

void Provider::OnHandedNameConflict(HandedNameConflict notice) {
    handed_name_conflict_ = std::move(notice);
    for (auto &[lana, node] : nodes_) TellOfHandedConflicts(*node, lana);
}

void Provider::TellOfHandedConflicts(Node &node, UCHAR lana) {
    if (!handed_name_conflict_) return;
    node.OnHandedNameConflict([notice = handed_name_conflict_, lana](
                                  ClientId client, const NetbiosName &name) { notice(lana, client, name); });
}

void Provider::HandedSessionOver(UCHAR lana, UCHAR lsn, ClientId client, std::uint32_t sent,
                                 std::uint32_t received, std::uint16_t send_failures) {
    const auto node = nodes_.find(lana);
    if (node == nodes_.end()) return;
    NodeCounters carried;
    carried.xmit_success = sent;
    carried.recv_success = received;
    carried.xmit_aborts = send_failures;
    node->second->HandedSessionOver(client, lsn, carried);
}

}  // namespace nbt
