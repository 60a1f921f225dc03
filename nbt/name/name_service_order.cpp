// SPDX-License-Identifier: MIT
// The node types' order of things: a B-node claims and looks up names by
// broadcast only, a P-node with its name server only, an M-node on the
// segment first and then with the server, an H-node the other way round.
#include "name_service.h"
#include "node.h"

namespace nbt {

namespace {

using Source = NameCache::Source;

// Where each node type looks for a name, in order.
std::span<const Source> ResolutionOrder(NodeType type) {
    static constexpr Source kB[] = {Source::kBroadcast};
    static constexpr Source kP[] = {Source::kServer};
    static constexpr Source kM[] = {Source::kBroadcast, Source::kServer};
    static constexpr Source kH[] = {Source::kServer, Source::kBroadcast};
    switch (type) {
        case NodeType::kP:
            return kP;
        case NodeType::kM:
            return kM;
        case NodeType::kH:
            return kH;
        case NodeType::kB:
            break;
    }
    return kB;
}

}  // namespace

// ---- adding a name --------------------------------------------------------

void NameService::StartAdd(NCB *ncb, const NetbiosName &name, bool group, UCHAR number) {
    auto self = shared_from_this();
    ClaimInOrder(
        name, group, number, [self, name, number] { return self->StillAdding(name, number); },
        [self, ncb, name, number](Claim claim, int server, std::uint32_t ttl) {
            self->FinishAdd(ncb, name, number, claim, server, ttl);
        });
}

void NameService::ClaimInOrder(const NetbiosName &name, bool group, UCHAR number, std::function<bool()> still,
                               ClaimHandler finish) {
    auto self = shared_from_this();
    switch (node_->settings().NodeTypeInUse()) {
        case NodeType::kB:
            return ClaimByBroadcast(name, group, number, finish);
        case NodeType::kP:
            return server_->Register(name, group, number, finish);
        case NodeType::kM:
            // The segment first; a name nobody there holds goes to the
            // server, and is ours by broadcast alone when the server is silent.
            return ClaimByBroadcast(
                name, group, number,
                [self, name, group, number, still, finish](Claim claim, int, std::uint32_t) {
                    if (!still()) return;
                    if (claim == Claim::kInUse) return finish(claim, -1, 0);
                    self->server_->Register(
                        name, group, number, [finish](Claim from_server, int server, std::uint32_t ttl) {
                            finish(from_server == Claim::kSilent ? Claim::kOurs : from_server, server, ttl);
                        });
                });
        case NodeType::kH:
            // The server first; the segment only when no server answers.
            return server_->Register(
                name, group, number,
                [self, name, group, number, still, finish](Claim claim, int server, std::uint32_t ttl) {
                    if (claim != Claim::kSilent) {
                        if (claim == Claim::kOurs && still()) self->Announce(name, group);
                        return finish(claim, server, ttl);
                    }
                    if (still()) self->ClaimByBroadcast(name, group, number, finish);
                });
    }
}

void NameService::FinishAdd(NCB *ncb, const NetbiosName &name, UCHAR number, Claim claim, int server,
                            std::uint32_t ttl) {
    NameEntry *held = table_.Adding(name, number);
    if (!held) return;
    if (claim != Claim::kOurs) {
        table_.Remove(name);
        ForgetOnHost(name);
        // Only a P-node can be left with nobody to ask.
        node_->Complete(ncb, claim == Claim::kInUse ? NRC_INUSE : NRC_CMDTMO);
        return;
    }
    held->state = REGISTERED;
    TellHost(*held);
    server_->Keep(number, name, server, ttl);
    if (node_->IsPending(ncb)) {
        ncb->ncb_num = number;
        node_->Complete(ncb, NRC_GOODRET);
    }
}

bool NameService::StillAdding(const NetbiosName &name, UCHAR number) const {
    return !shut_down_ && table_.Adding(name, number);
}

// ---- a new address ---------------------------------------------------------

void NameService::Readdressed() {
    if (shut_down_) return;
    const std::uint64_t round = ++readdressed_;
    // The servers' bindings were made from the old address.
    server_->Readdressed();
    const std::vector<NameEntry> entries = table_.entries();  // the claims may change the table
    for (const NameEntry &entry : entries) {
        if (entry.state == REGISTERING) {
            // Its requests name the old address: asked again from the new one.
            exchanges_.Cancel(entry.registration);
            StartAdd(entry.adding, entry.name, entry.group, entry.number);
            continue;
        }
        TellHost(entry);
        if (entry.state == REGISTERED) Reclaim(entry.name, entry.group, entry.number, round);
    }
}

void NameService::Reclaim(const NetbiosName &name, bool group, UCHAR number, std::uint64_t round) {
    auto self = shared_from_this();
    auto still = [self, name, number, round] {
        if (self->shut_down_ || round != self->readdressed_) return false;
        const NameEntry *entry = self->table_.Find(name);
        return entry && entry->number == number && entry->state == REGISTERED;
    };
    ClaimInOrder(name, group, number, still,
                 [self, name, group, number, still](Claim claim, int server, std::uint32_t ttl) {
                     if (!still()) return;
                     if (claim == Claim::kInUse && !group)
                         return self->EnterConflict(*self->table_.Find(name));
                     if (claim == Claim::kInUse) server = -1;  // a group: offered to the servers again later
                     self->server_->Keep(number, name, server, ttl);
                 });
}

// ---- resolution --------------------------------------------------------------

void NameService::ResolveStep(const NetbiosName &name, std::size_t step,
                              std::shared_ptr<LookupHandler> handler) {
    const auto order = ResolutionOrder(node_->settings().NodeTypeInUse());
    if (step >= order.size()) {
        server_->Remember(name, std::nullopt, Source::kServer, 0);
        return (*handler)(std::nullopt);
    }
    const Source source = order[step];
    auto next = [self = shared_from_this(), name, step, handler, source](std::optional<Resolved> found,
                                                                         std::uint32_t ttl) {
        if (self->shut_down_) return;
        if (!found) return self->ResolveStep(name, step + 1, handler);
        self->server_->Remember(name, found, source, ttl);
        (*handler)(found);
    };
    if (source == Source::kServer) return server_->Query(name, next);
    QueryByBroadcast(name, next);
}

}  // namespace nbt
