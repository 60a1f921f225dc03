// SPDX-License-Identifier: MIT
// The name service on the segment: claims, releases and queries sent to the
// broadcast address, as every node type but P sends them.
#include "name_answer.h"
#include "name_service.h"
#include "node.h"

namespace nbt {

void NameService::ClaimByBroadcast(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done) {
    const std::uint16_t id = exchanges_.NewId();
    if (NameEntry *adding = table_.Adding(name, number)) adding->registration = id;
    // Any negative answer (a defence, or a conflict) means someone holds it;
    // silence means nobody does.
    auto on_reply = [done](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() == codec::NameRcode::kOk) return false;
        done(Claim::kInUse, -1, 0);
        return true;
    };
    exchanges_.Start(id, requests_.Registration(id, name, group), on_reply,
                     [done] { done(Claim::kOurs, -1, 0); });
}

void NameService::Announce(const NetbiosName &name, bool group) {
    const std::uint16_t id = exchanges_.NewId();
    exchanges_.SendOnce(requests_.Registration(id, name, group));
}

void NameService::ReleaseByBroadcast(const NameEntry &entry, int count) {
    const std::uint16_t id = exchanges_.NewId();
    auto request = requests_.Release(id, entry.name, entry.group, count);
    if (count <= 1) return exchanges_.SendOnce(request);
    // Nothing to wait for: B-nodes do not answer releases.
    exchanges_.Start(
        id, std::move(request),
        [](const codec::NamePacket &, const asio::ip::udp::endpoint &) { return false; }, nullptr);
}

void NameService::QueryByBroadcast(const NetbiosName &name, AnswerHandler done) {
    const std::uint16_t id = exchanges_.NewId();
    const codec::NetbiosName wire = requests_.WireName(name);
    auto self = shared_from_this();
    auto on_reply = [self, done, wire, id](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNb || answer.name != wire) return false;
        auto addresses = codec::DecodeNbRdata(answer.rdata);
        if (!addresses) return false;
        // An answer pointing nowhere sensible is as good as none: wait for another.
        auto found = ResolveAnswer(*self->node_, *addresses);
        if (!found) return false;
        if (!found->group) self->WatchForConflicts(id, wire, *found);
        done(*found, answer.ttl);
        return true;
    };
    exchanges_.Start(id, requests_.Query(id, name), on_reply, [done] { done(std::nullopt, 0); });
}

}  // namespace nbt
