// SPDX-License-Identifier: MIT
// What the name service answers on the wire: defences of our names, query
// and node status answers, conflict demands in both directions.
#include <algorithm>

#include "host_names.h"
#include "name_service.h"
#include "name_status_records.h"
#include "node.h"

namespace nbt {

namespace {

bool IsStarName(const codec::NetbiosName &name) {
    return name.raw[0] == '*';
}

// A request asks one question; nothing we answer or wait for carries more
// than a few records. Anything else is dropped before its records are
// decoded, so no datagram costs more than a small, fixed amount of work.
constexpr std::size_t kMaxRecords = 4;

bool WorthDecoding(const codec::NameHeader &header) {
    if (!header.IsResponse() && header.qdcount != 1) return false;
    return std::size_t{header.qdcount} + header.ancount + header.nscount + header.arcount <= kMaxRecords;
}

}  // namespace

void NameService::OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from) {
    if (shut_down_) return;
    if (!from.address().is_v4()) return;
    // Our own broadcasts, should one come back on another socket.
    if (from == node_->name_endpoint()) return;
    const auto header = codec::DecodeNameHeader(datagram);
    if (header && !WorthDecoding(*header)) return;
    auto packet = header ? codec::DecodeNamePacket(datagram) : std::nullopt;
    if (!packet) {
        if (malformed_ < 0xFFFF) ++malformed_;
        return;
    }
    if (!packet->header.IsResponse()) return OnRequest(*packet, from);
    if (exchanges_.Deliver(*packet, from)) return;
    if (OnLateQueryAnswer(*packet, from)) return;
    if (packet->header.Opcode() == codec::NameOpcode::kRegistration &&
        packet->header.Rcode() == codec::NameRcode::kConflict)
        OnConflictDemand(*packet);
    // Anything else is a late or duplicate reply: dropped.
}

void NameService::OnRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    if (packet.questions.size() != 1) return;
    switch (packet.header.Opcode()) {
        case codec::NameOpcode::kRegistration:
        case codec::NameOpcode::kMultiHomedRegistration:
            return OnRegistrationRequest(packet, from);
        case codec::NameOpcode::kQuery:
            if (packet.questions[0].type == codec::kTypeNbstat) return OnStatusRequest(packet, from);
            if (packet.questions[0].type == codec::kTypeNb) return OnQueryRequest(packet, from);
            return;
        case codec::NameOpcode::kRelease:
            return OnReleaseRequest(packet, from);
        default:
            return;  // refreshes, WACKs: nothing for an end node to say
    }
}

void NameService::OnRegistrationRequest(const codec::NamePacket &packet,
                                        const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    if (question.type != codec::kTypeNb) return;
    NameEntry *entry = Held(question.name);
    if (!entry || entry->state == REGISTERING || entry->in_conflict()) return;
    codec::NbAddress offender{0, from.address().to_v4().to_uint()};
    if (!packet.additional.empty()) {
        if (auto addresses = codec::DecodeNbRdata(packet.additional[0].rdata)) offender = (*addresses)[0];
    }
    // Nor against this host's own other adapters.
    if (offender.ipv4 == OwnAddress() || node_->host_names().HeldAt(question.name, offender.ipv4)) return;
    const bool request_group = offender.flags & codec::kNbGroup;
    if (entry->group && request_group) return;  // joining a group is no conflict
    Send(codec::BuildRegistrationRefusal(packet.header.trn_id, question.name, offender,
                                         codec::NameRcode::kActive),
         from);
}

void NameService::OnQueryRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    NameEntry *entry = Held(question.name);
    if (entry && entry->state == REGISTERED) {
        if (!MayAnswer(from)) return;
        // Every address this host holds the name at, ours first.
        std::vector<codec::NbAddress> addresses{requests_.Own(entry->group)};
        for (const std::uint32_t other :
             node_->host_names().RegisteredElsewhere(question.name, node_->lana_number()))
            addresses.push_back({addresses.front().flags, other});
        Send(codec::BuildPositiveQueryResponse(packet.header.trn_id, packet.header.flags, question.name,
                                               addresses),
             from);
        return;
    }
    // A broadcast query for a name we do not hold gets silence; a unicast one
    // a clear "no such name", so the asker need not wait out its timer.
    if (!packet.header.IsBroadcast())
        Send(codec::BuildNegativeQueryResponse(packet.header.trn_id, packet.header.flags, question.name),
             from);
}

void NameService::OnStatusRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    if (question.name.scope != node_->settings().scope) return;
    if (!IsStarName(question.name)) {
        NameEntry *entry = Held(question.name);
        if (!entry || entry->state == REGISTERING) return;
    }
    if (!MayAnswer(from)) return;
    Send(codec::BuildNodeStatusResponse(packet.header.trn_id, question.name,
                                        codec::EncodeNodeStatusRdata(LocalNodeStatus())),
         from);
}

// Other nodes' releases need no answer. One unicast to us about a name we
// hold may come from the name server that dropped it: its client decides.
void NameService::OnReleaseRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    if (packet.header.IsBroadcast()) return;
    const auto &question = packet.questions[0];
    if (question.type != codec::kTypeNb) return;
    const NameEntry *entry = Held(question.name);
    if (!entry || entry->state == REGISTERING || entry->in_conflict()) return;
    server_->OnReleaseDemand(*entry, packet, from);
}

bool NameService::MayAnswer(const asio::ip::udp::endpoint &from) {
    if (replies_.Take(from.address().to_v4().to_uint())) return true;
    NodeCounters::CountUpTo16Bits(node_->counters().recv_buff_unavail);
    return false;
}

void NameService::OnConflictDemand(const codec::NamePacket &packet) {
    // Only a demand whose record names our address is about us: one that does
    // not decode, or is aimed at another node, must not take a name away.
    std::optional<std::vector<codec::NbAddress>> addresses;
    if (!packet.answers.empty() && packet.answers[0].type == codec::kTypeNb)
        addresses = codec::DecodeNbRdata(packet.answers[0].rdata);
    if (!addresses || (*addresses)[0].ipv4 != OwnAddress()) {
        ++node_->counters().conflict_demands_dropped;
        return;
    }
    NameEntry *entry = Held(packet.answers[0].name);
    if (!entry || entry->group || entry->state == REGISTERING) return;
    EnterConflict(*entry);
}

void NameService::EnterConflict(NameEntry &entry) {
    if (entry.state == REGISTERED)
        entry.state = DUPLICATE;
    else if (entry.state == DEREGISTERED)
        entry.state = DUPLICATE_DEREG;
    else
        return;
    const NetbiosName name = entry.name;  // the entry may move while the commands end
    links_.sessions->OnNameConflict(name);
}

// Another node answering for a unique name after the first owner did, while
// the conflict timer runs, gets a conflict demand: two nodes claim the name.
void NameService::WatchForConflicts(std::uint16_t id, const codec::NetbiosName &name, const Resolved &first) {
    if (shut_down_ || first.group) return;
    std::vector<std::uint32_t> addresses{first.address.to_uint()};
    for (const auto &other : first.others) addresses.push_back(other.to_uint());
    auto timer = std::make_shared<asio::steady_timer>(node_->io(), node_->settings().conflict_timer);
    conflict_watches_[id] = ConflictWatch{name, std::move(addresses), timer};
    timer->async_wait([self = shared_from_this(), id, timer](const asio::error_code &ec) {
        if (ec || self->shut_down_) return;
        auto it = self->conflict_watches_.find(id);
        if (it != self->conflict_watches_.end() && it->second.timer == timer)
            self->conflict_watches_.erase(it);
    });
}

bool NameService::OnLateQueryAnswer(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    auto it = conflict_watches_.find(packet.header.trn_id);
    if (it == conflict_watches_.end()) return false;
    if (packet.header.Opcode() != codec::NameOpcode::kQuery ||
        packet.header.Rcode() != codec::NameRcode::kOk || packet.answers.empty())
        return true;
    const auto &answer = packet.answers[0];
    if (answer.type != codec::kTypeNb || answer.name != it->second.name) return true;
    auto addresses = codec::DecodeNbRdata(answer.rdata);
    if (!addresses) return true;
    const codec::NbAddress &second = (*addresses)[0];
    const std::uint32_t source = from.address().to_v4().to_uint();
    // The first owner repeating itself (nmbd answers broadcasts twice), from
    // any of its addresses, is no conflict.
    const auto &first = it->second.first;
    if (std::find(first.begin(), first.end(), source) != first.end() ||
        std::find(first.begin(), first.end(), second.ipv4) != first.end() || (second.flags & codec::kNbGroup))
        return true;
    // Nor is an answer pointing nowhere sensible, and a demand is sent only to a real node.
    if (!node_->IsPeerAddress(asio::ip::address_v4(second.ipv4)) ||
        !node_->IsPeerAddress(from.address().to_v4()))
        return true;
    Send(
        codec::BuildRegistrationRefusal(exchanges_.NewId(), answer.name, second, codec::NameRcode::kConflict),
        {from.address(), node_->name_port()});
    return true;
}

}  // namespace nbt
