// The node types: registration, refresh, release and queries with a name
// server (WINS), and the order in which P, M and H nodes use it and the
// broadcast. A B-node only ever takes the broadcast paths here.
#include <algorithm>

#include "name_service.h"
#include "node.h"

namespace nbt {

namespace {

constexpr std::chrono::milliseconds kMinRefresh{1000};

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

const NameServer &NameService::Server(int index) const {
    return index == 0 ? node_->settings().name_server : node_->settings().name_server_secondary;
}

asio::ip::udp::endpoint NameService::ServerEndpoint(int index) const {
    const NameServer &server = Server(index);
    return {asio::ip::address_v4(server.ipv4), server.port ? server.port : node_->name_port()};
}

bool NameService::UsesServer() const {
    return node_->settings().node_type != NodeType::kB && (Server(0).configured() || Server(1).configured());
}

std::uint16_t NameService::OwnNbFlags(bool group) const {
    const auto ont = static_cast<std::uint16_t>(node_->settings().node_type) << codec::kNbOntShift;
    return static_cast<std::uint16_t>((group ? codec::kNbGroup : 0) | ont);
}

// ---- adding a name --------------------------------------------------------

void NameService::StartAdd(NCB *ncb, const NetbiosName &name, bool group, UCHAR number) {
    auto self = shared_from_this();
    ClaimHandler finish = [self, ncb, name, number](Claim claim, int server, std::uint32_t ttl) {
        self->FinishAdd(ncb, name, number, claim, server, ttl);
    };
    switch (node_->settings().node_type) {
        case NodeType::kB:
            return ClaimByBroadcast(name, group, number, finish);
        case NodeType::kP:
            return ClaimFromServer(name, group, number, 0, false, finish);
        case NodeType::kM:
            // The segment first; a name nobody there holds goes to the
            // server, and is ours by broadcast alone when the server is silent.
            return ClaimByBroadcast(
                name, group, number, [self, name, group, number, finish](Claim claim, int, std::uint32_t) {
                    if (!self->StillAdding(name, number)) return;
                    if (claim == Claim::kInUse) return finish(claim, -1, 0);
                    self->ClaimFromServer(
                        name, group, number, 0, false,
                        [finish](Claim from_server, int server, std::uint32_t ttl) {
                            finish(from_server == Claim::kSilent ? Claim::kOurs : from_server, server, ttl);
                        });
                });
        case NodeType::kH:
            // The server first; the segment only when no server answers.
            return ClaimFromServer(
                name, group, number, 0, false,
                [self, name, group, number, finish](Claim claim, int server, std::uint32_t ttl) {
                    if (claim != Claim::kSilent) {
                        if (claim == Claim::kOurs && self->StillAdding(name, number))
                            self->Announce(name, group);
                        return finish(claim, server, ttl);
                    }
                    if (self->StillAdding(name, number)) self->ClaimByBroadcast(name, group, number, finish);
                });
    }
}

void NameService::FinishAdd(NCB *ncb, const NetbiosName &name, UCHAR number, Claim claim, int server,
                            std::uint32_t ttl) {
    NameEntry *held = table_.Find(name);
    if (!held || held->number != number || held->state != REGISTERING) return;
    if (claim != Claim::kOurs) {
        table_.Remove(name);
        // Only a P-node can be left with nobody to ask.
        node_->Complete(ncb, claim == Claim::kInUse ? NRC_INUSE : NRC_CMDTMO);
        return;
    }
    held->state = REGISTERED;
    if (server >= 0)
        BindToServer(number, name, server, ttl);
    else if (UsesServer())
        RecheckLater(number, name);
    if (node_->IsPending(ncb)) {
        ncb->ncb_num = number;
        node_->Complete(ncb, NRC_GOODRET);
    }
}

bool NameService::StillAdding(const NetbiosName &name, UCHAR number) const {
    const NameEntry *held = table_.Find(name);
    return !shut_down_ && held && held->number == number && held->state == REGISTERING;
}

void NameService::Track(const NetbiosName &name, UCHAR number, std::uint16_t id) {
    NameEntry *held = table_.Find(name);
    if (held && held->number == number && held->state == REGISTERING) held->registration = id;
}

void NameService::ClaimByBroadcast(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done) {
    const std::uint16_t id = exchanges_.NewId();
    Track(name, number, id);
    NameExchanges::Request request;
    request.bytes = codec::BuildClaimRequest(id, codec::kRegistrationRequestFlags, WireName(name),
                                             {OwnNbFlags(group), OwnAddress()}, 0);
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kRegistration;
    request.count = node_->settings().bcast_retry_count;
    request.interval = node_->settings().bcast_retry_timeout;
    // Any negative answer (a defence, or a conflict) means someone holds it;
    // silence means nobody does.
    auto on_reply = [done](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() == codec::NameRcode::kOk) return false;
        done(Claim::kInUse, -1, 0);
        return true;
    };
    exchanges_.Start(id, std::move(request), on_reply, [done] { done(Claim::kOurs, -1, 0); });
}

void NameService::ClaimFromServer(const NetbiosName &name, bool group, UCHAR number, int server, bool refresh,
                                  ClaimHandler done) {
    if (!Server(server).configured() || node_->settings().node_type == NodeType::kB) {
        if (server == 0 && !refresh && Server(1).configured())
            return ClaimFromServer(name, group, number, 1, refresh, std::move(done));
        return done(Claim::kSilent, -1, 0);
    }
    const NameServer &target = Server(server);
    const asio::ip::address_v4 address(target.ipv4);
    const std::uint16_t id = exchanges_.NewId();
    Track(name, number, id);
    const codec::NetbiosName wire = WireName(name);
    NameExchanges::Request request;
    request.bytes =
        codec::BuildClaimRequest(id, refresh ? codec::kRefreshRequestFlags : codec::kServerRegistrationFlags,
                                 wire, {OwnNbFlags(group), OwnAddress()}, node_->settings().ns_requested_ttl);
    request.to = ServerEndpoint(server);
    request.peer = address;
    request.peer_port = request.to.port();
    // Servers answer a refresh as a registration.
    request.opcode = refresh ? codec::NameOpcode::kRefresh : codec::NameOpcode::kRegistration;
    if (refresh) request.also_opcode = codec::NameOpcode::kRegistration;
    request.wack_name = wire;
    request.wack_limit = node_->settings().ns_wack_limit;
    request.count = node_->settings().ns_retry_count;
    request.interval = node_->settings().ns_retry_timeout;
    const std::uint32_t asked = node_->settings().ns_requested_ttl;
    auto on_reply = [done, wire, server, asked](const codec::NamePacket &reply,
                                                const asio::ip::udp::endpoint &) {
        if (!reply.answers.empty() && reply.answers[0].name != wire) return false;
        if (reply.header.Rcode() != codec::NameRcode::kOk) {
            // A refusal can cost us the name: it must say which one.
            if (reply.answers.empty()) return false;
            done(Claim::kInUse, server, 0);
            return true;
        }
        done(Claim::kOurs, server, reply.answers.empty() ? asked : reply.answers[0].ttl);
        return true;
    };
    auto self = shared_from_this();
    auto on_expiry = [self, name, group, number, server, refresh, done] {
        if (server == 0 && !refresh && self->Server(1).configured() && !self->shut_down_)
            return self->ClaimFromServer(name, group, number, 1, refresh, done);
        done(Claim::kSilent, -1, 0);
    };
    exchanges_.Start(id, std::move(request), on_reply, on_expiry);
}

void NameService::Announce(const NetbiosName &name, bool group) {
    Send(codec::BuildClaimRequest(exchanges_.NewId(), codec::kRegistrationRequestFlags, WireName(name),
                                  {OwnNbFlags(group), OwnAddress()}, 0),
         node_->broadcast_endpoint());
}

// ---- keeping it: refresh, recheck, release ----------------------------------

void NameService::BindToServer(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl) {
    ServerBinding &binding = bindings_[number];
    binding.name = name;
    binding.server = server;
    binding.generation = ++binding_generation_;
    if (ttl == 0) {  // granted for ever
        if (binding.timer) binding.timer->cancel();
        return;
    }
    // Half the granted TTL leaves room for a whole round of retries.
    const auto half = std::chrono::milliseconds(std::uint64_t{ttl} * 500);
    ArmServerTimer(number, std::max(half, kMinRefresh));
}

void NameService::RecheckLater(UCHAR number, const NetbiosName &name) {
    ServerBinding &binding = bindings_[number];
    binding.name = name;
    binding.server = -1;
    binding.generation = ++binding_generation_;
    ArmServerTimer(number, node_->settings().ns_recheck_interval);
}

void NameService::ArmServerTimer(UCHAR number, std::chrono::milliseconds after) {
    ServerBinding &binding = bindings_[number];
    if (!binding.timer) binding.timer = std::make_shared<asio::steady_timer>(node_->io());
    binding.timer->expires_after(after);
    const std::uint64_t generation = binding.generation;
    binding.timer->async_wait([self = shared_from_this(), number, generation](const asio::error_code &ec) {
        if (ec || self->shut_down_) return;
        auto it = self->bindings_.find(number);
        if (it == self->bindings_.end() || it->second.generation != generation) return;
        self->OnServerTimer(number);
    });
}

// Refresh with the server that granted the name, or, when none has it,
// register it afresh (primary, then secondary).
void NameService::OnServerTimer(UCHAR number) {
    auto it = bindings_.find(number);
    if (it == bindings_.end()) return;
    const NetbiosName name = it->second.name;
    const NameEntry *entry = table_.Find(name);
    if (!entry || entry->number != number || entry->in_conflict()) {
        bindings_.erase(it);
        return;
    }
    const bool refresh = it->second.server >= 0;
    const std::uint64_t generation = ++binding_generation_;
    it->second.generation = generation;
    it->second.asking = true;
    auto self = shared_from_this();
    ClaimFromServer(
        name, entry->group, number, refresh ? it->second.server : 0, refresh,
        [self, number, name, generation, refresh](Claim claim, int server, std::uint32_t ttl) {
            auto it = self->bindings_.find(number);
            if (self->shut_down_ || it == self->bindings_.end() || it->second.generation != generation)
                return;
            it->second.asking = false;
            NameEntry *entry = self->table_.Find(name);
            if (!entry || entry->number != number) return void(self->bindings_.erase(it));
            switch (claim) {
                case Claim::kOurs:
                    return self->BindToServer(number, name, server, ttl);
                case Claim::kSilent:
                    return self->RecheckLater(number, name);
                case Claim::kInUse:
                    // A refused refresh (a server that lost its records)
                    // becomes a registration; a refused registration means
                    // somebody else holds the name now.
                    if (refresh) {
                        it->second.server = -1;
                        return self->OnServerTimer(number);
                    }
                    self->bindings_.erase(it);
                    if (!entry->group) self->EnterConflict(*entry);
                    return;
            }
        });
}

void NameService::ReleaseToServer(const NameEntry &entry, int count) {
    auto it = bindings_.find(entry.number);
    if (it == bindings_.end() || it->second.name != entry.name) return;
    const int server = it->second.server;
    if (it->second.timer) it->second.timer->cancel();
    bindings_.erase(it);
    if (server < 0 || !Server(server).configured()) return;
    const asio::ip::address_v4 address(Server(server).ipv4);
    const std::uint16_t id = exchanges_.NewId();
    NameExchanges::Request request;
    request.bytes = codec::BuildClaimRequest(id, codec::kServerReleaseFlags, WireName(entry.name),
                                             {OwnNbFlags(entry.group), OwnAddress()}, 0);
    request.to = ServerEndpoint(server);
    request.peer = address;
    request.peer_port = request.to.port();
    request.opcode = codec::NameOpcode::kRelease;
    request.count = count;
    request.interval = node_->settings().ns_retry_timeout;
    if (count <= 1) return Send(request.bytes, request.to);
    // The answer only stops the resending.
    exchanges_.Start(
        id, std::move(request),
        [](const codec::NamePacket &, const asio::ip::udp::endpoint &) { return true; }, nullptr);
}

// A server that dropped our name tells us so with a release of its own,
// unicast from the server that granted it. Any host can send that from the
// server's address, so it only makes us ask that server again at once,
// under an id of ours: a refresh it grants keeps the name; refusals of the
// refresh and then of a registration put a unique name in conflict.
void NameService::OnReleaseDemand(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    if (packet.header.IsBroadcast()) return;
    const auto &question = packet.questions[0];
    if (question.type != codec::kTypeNb) return;
    NameEntry *entry = Held(question.name);
    if (!entry || entry->state == REGISTERING || entry->in_conflict()) return;
    auto it = bindings_.find(entry->number);
    if (it == bindings_.end() || it->second.name != entry->name || it->second.server < 0 ||
        from != ServerEndpoint(it->second.server))
        return;
    if (it->second.asking) return;  // the answer to that will do
    if (!packet.additional.empty()) {
        auto addresses = codec::DecodeNbRdata(packet.additional[0].rdata);
        if (!addresses || (*addresses)[0].ipv4 != OwnAddress()) return;
    }
    OnServerTimer(entry->number);
}

// ---- resolution --------------------------------------------------------------

std::vector<NameCache::Entry> NameService::CachedNames() const {
    return cache_.Snapshot(NameCache::Clock::now());
}

void NameService::Remember(const NetbiosName &name, const std::optional<Resolved> &found, Source source,
                           std::uint32_t ttl) {
    const auto &settings = node_->settings();
    if (settings.node_type == NodeType::kB) return;
    const auto now = NameCache::Clock::now();
    NameCache::Entry entry;
    entry.name = name;
    entry.source = source;
    if (found) {
        entry.found = true;
        entry.address = found->address;
        entry.group = found->group;
        entry.expires =
            now + std::min<std::chrono::milliseconds>(std::chrono::seconds(ttl), settings.cache_max_ttl);
    } else {
        entry.expires = now + settings.negative_cache_ttl;
    }
    cache_.Put(entry, now);
}

void NameService::ResolveStep(const NetbiosName &name, std::size_t step,
                              std::shared_ptr<LookupHandler> handler) {
    const auto order = ResolutionOrder(node_->settings().node_type);
    if (step >= order.size()) {
        Remember(name, std::nullopt, Source::kServer, 0);
        return (*handler)(std::nullopt);
    }
    const Source source = order[step];
    auto next = [self = shared_from_this(), name, step, handler, source](std::optional<Resolved> found,
                                                                         std::uint32_t ttl) {
        if (self->shut_down_) return;
        if (!found) return self->ResolveStep(name, step + 1, handler);
        self->Remember(name, found, source, ttl);
        (*handler)(found);
    };
    if (source == Source::kServer) return QueryServer(name, 0, next);
    QueryByBroadcast(name, next);
}

void NameService::QueryByBroadcast(const NetbiosName &name, AnswerHandler done) {
    const std::uint16_t id = exchanges_.NewId();
    const codec::NetbiosName wire = WireName(name);
    NameExchanges::Request request;
    request.bytes = codec::BuildQueryRequest(id, wire, true);
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_->settings().bcast_retry_count;
    request.interval = node_->settings().bcast_retry_timeout;
    auto self = shared_from_this();
    auto on_reply = [self, done, wire, id](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNb || answer.name != wire) return false;
        auto addresses = codec::DecodeNbRdata(answer.rdata);
        if (!addresses) return false;
        // An answer pointing nowhere sensible is as good as none: wait for another.
        auto usable = std::find_if(addresses->begin(), addresses->end(), [&self](const codec::NbAddress &a) {
            return self->node_->IsPeerAddress(asio::ip::address_v4(a.ipv4));
        });
        if (usable == addresses->end()) return false;
        self->WatchForConflicts(id, wire, *usable);
        done(Resolved{asio::ip::address_v4(usable->ipv4), (usable->flags & codec::kNbGroup) != 0},
             answer.ttl);
        return true;
    };
    exchanges_.Start(id, std::move(request), on_reply, [done] { done(std::nullopt, 0); });
}

void NameService::QueryServer(const NetbiosName &name, int server, AnswerHandler done) {
    if (!Server(server).configured()) {
        if (server == 0 && Server(1).configured()) return QueryServer(name, 1, std::move(done));
        // Nobody to ask; the answer still comes after this call returns.
        asio::post(node_->io(), [done = std::move(done)] { done(std::nullopt, 0); });
        return;
    }
    const asio::ip::address_v4 address(Server(server).ipv4);
    const std::uint16_t id = exchanges_.NewId();
    const codec::NetbiosName wire = WireName(name);
    NameExchanges::Request request;
    request.bytes = codec::BuildServerQueryRequest(id, wire);
    request.to = ServerEndpoint(server);
    request.peer = address;
    request.peer_port = request.to.port();
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_->settings().ns_retry_count;
    request.interval = node_->settings().ns_retry_timeout;
    auto self = shared_from_this();
    // "No such name" from the server is final for the server step.
    auto on_reply = [self, done, wire](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (!reply.answers.empty() && reply.answers[0].name != wire) return false;
        std::optional<codec::NbAddress> usable;
        if (reply.header.Rcode() == codec::NameRcode::kOk && !reply.answers.empty() &&
            reply.answers[0].type == codec::kTypeNb) {
            if (auto addresses = codec::DecodeNbRdata(reply.answers[0].rdata)) {
                for (const auto &a : *addresses)
                    if (self->node_->IsPeerAddress(asio::ip::address_v4(a.ipv4))) {
                        usable = a;
                        break;
                    }
            }
        }
        if (!usable) {
            done(std::nullopt, 0);
            return true;
        }
        done(Resolved{asio::ip::address_v4(usable->ipv4), (usable->flags & codec::kNbGroup) != 0},
             reply.answers[0].ttl);
        return true;
    };
    auto on_expiry = [self, name, server, done] {
        if (server == 0 && self->Server(1).configured() && !self->shut_down_)
            return self->QueryServer(name, 1, done);
        done(std::nullopt, 0);
    };
    exchanges_.Start(id, std::move(request), on_reply, on_expiry);
}

}  // namespace nbt
