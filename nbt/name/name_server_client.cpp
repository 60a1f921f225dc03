// SPDX-License-Identifier: MIT
#include "name_server_client.h"

#include <algorithm>

#include "host_names.h"
#include "name_answer.h"
#include "node.h"

namespace nbt {

namespace {

constexpr std::chrono::milliseconds kMinRefresh{1000};

}  // namespace

NameServerClient::NameServerClient(std::shared_ptr<Node> node, NameTable &names, NameExchanges &exchanges,
                                   const NameRequests &requests, ConflictHandler on_conflict)
    : node_(std::move(node)),
      names_(names),
      exchanges_(exchanges),
      requests_(requests),
      on_conflict_(std::move(on_conflict)),
      cache_(node_->settings().cache_size) {}

const NameServer &NameServerClient::Server(int index) const {
    return index == 0 ? node_->settings().name_server : node_->settings().name_server_secondary;
}

asio::ip::udp::endpoint NameServerClient::Endpoint(int index) const {
    const NameServer &server = Server(index);
    return {asio::ip::address_v4(server.ipv4), server.port ? server.port : node_->name_port()};
}

bool NameServerClient::UsesServer() const {
    return node_->settings().NodeTypeInUse() != NodeType::kB &&
           (Server(0).configured() || Server(1).configured());
}

void NameServerClient::Shutdown() {
    for (auto &[number, binding] : bindings_)
        if (binding.timer) binding.timer->cancel();
    bindings_.clear();
    shut_down_ = true;
}

void NameServerClient::Readdressed() {
    for (auto &[number, binding] : bindings_)
        if (binding.timer) binding.timer->cancel();
    bindings_.clear();
}

// ---- registering ------------------------------------------------------------

void NameServerClient::Register(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done) {
    RegisterWith(0, name, group, number, false, std::move(done));
}

void NameServerClient::RegisterWith(int server, const NetbiosName &name, bool group, UCHAR number,
                                    bool refresh, ClaimHandler done) {
    if (!Server(server).configured() || node_->settings().NodeTypeInUse() == NodeType::kB) {
        if (server == 0 && !refresh && Server(1).configured())
            return RegisterWith(1, name, group, number, refresh, std::move(done));
        return done(Claim::kSilent, -1, 0);
    }
    const std::uint16_t id = exchanges_.NewId();
    if (NameEntry *adding = names_.Adding(name, number)) adding->registration = id;
    const bool multihomed =
        !group && node_->host_names().HeldElsewhere(requests_.WireName(name), node_->lana_number());
    auto request = requests_.ServerRegistration(id, name, group, Endpoint(server), refresh, multihomed);
    const codec::NetbiosName wire = *request.wack_name;
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
            return self->RegisterWith(1, name, group, number, refresh, done);
        done(Claim::kSilent, -1, 0);
    };
    exchanges_.Start(id, std::move(request), on_reply, on_expiry);
}

// ---- keeping it: refresh, recheck, release ----------------------------------

void NameServerClient::Keep(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl) {
    if (server >= 0)
        Bind(number, name, server, ttl);
    else if (UsesServer())
        RecheckLater(number, name);
}

void NameServerClient::Bind(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl) {
    Binding &binding = bindings_[number];
    binding.name = name;
    binding.server = server;
    binding.generation = ++generation_;
    if (ttl == 0) {  // granted for ever
        if (binding.timer) binding.timer->cancel();
        return;
    }
    // Half the granted TTL leaves room for a whole round of retries.
    const auto half = std::chrono::milliseconds(std::uint64_t{ttl} * 500);
    ArmTimer(number, std::max(half, kMinRefresh));
}

void NameServerClient::RecheckLater(UCHAR number, const NetbiosName &name) {
    Binding &binding = bindings_[number];
    binding.name = name;
    binding.server = -1;
    binding.generation = ++generation_;
    ArmTimer(number, node_->settings().ns_recheck_interval);
}

void NameServerClient::ArmTimer(UCHAR number, std::chrono::milliseconds after) {
    Binding &binding = bindings_[number];
    if (!binding.timer) binding.timer = std::make_shared<asio::steady_timer>(node_->io());
    binding.timer->expires_after(after);
    const std::uint64_t generation = binding.generation;
    binding.timer->async_wait([self = shared_from_this(), number, generation](const asio::error_code &ec) {
        if (ec || self->shut_down_) return;
        auto it = self->bindings_.find(number);
        if (it == self->bindings_.end() || it->second.generation != generation) return;
        self->OnTimer(number);
    });
}

// Refresh with the server that granted the name, or, when none has it,
// register it afresh (primary, then secondary).
void NameServerClient::OnTimer(UCHAR number) {
    auto it = bindings_.find(number);
    if (it == bindings_.end()) return;
    const NetbiosName name = it->second.name;
    const NameEntry *entry = names_.Find(name);
    if (!entry || entry->number != number || entry->in_conflict()) {
        bindings_.erase(it);
        return;
    }
    const bool refresh = it->second.server >= 0;
    const std::uint64_t generation = ++generation_;
    it->second.generation = generation;
    it->second.asking = true;
    auto self = shared_from_this();
    RegisterWith(
        refresh ? it->second.server : 0, name, entry->group, number, refresh,
        [self, number, name, generation, refresh](Claim claim, int server, std::uint32_t ttl) {
            auto it = self->bindings_.find(number);
            if (self->shut_down_ || it == self->bindings_.end() || it->second.generation != generation)
                return;
            it->second.asking = false;
            NameEntry *entry = self->names_.Find(name);
            if (!entry || entry->number != number) return void(self->bindings_.erase(it));
            switch (claim) {
                case Claim::kOurs:
                    return self->Bind(number, name, server, ttl);
                case Claim::kSilent:
                    return self->RecheckLater(number, name);
                case Claim::kInUse:
                    // A refused refresh (a server that lost its records)
                    // becomes a registration; a refused registration means
                    // somebody else holds the name now.
                    if (refresh) {
                        it->second.server = -1;
                        return self->OnTimer(number);
                    }
                    self->bindings_.erase(it);
                    if (!entry->group) self->on_conflict_(*entry);
                    return;
            }
        });
}

void NameServerClient::Release(const NameEntry &entry, int count) {
    auto it = bindings_.find(entry.number);
    if (it == bindings_.end() || it->second.name != entry.name) return;
    const int server = it->second.server;
    if (it->second.timer) it->second.timer->cancel();
    bindings_.erase(it);
    if (server < 0 || !Server(server).configured()) return;
    const std::uint16_t id = exchanges_.NewId();
    auto request = requests_.ServerRelease(id, entry.name, entry.group, Endpoint(server), count);
    if (count <= 1) return exchanges_.SendOnce(request);
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
void NameServerClient::OnReleaseDemand(const NameEntry &entry, const codec::NamePacket &packet,
                                       const asio::ip::udp::endpoint &from) {
    auto it = bindings_.find(entry.number);
    if (it == bindings_.end() || it->second.name != entry.name || it->second.server < 0 ||
        from != Endpoint(it->second.server))
        return;
    if (it->second.asking) return;  // the answer to that will do
    if (!packet.additional.empty()) {
        auto addresses = codec::DecodeNbRdata(packet.additional[0].rdata);
        if (!addresses || (*addresses)[0].ipv4 != node_->address().to_uint()) return;
    }
    OnTimer(entry.number);
}

// ---- resolution --------------------------------------------------------------

void NameServerClient::Query(const NetbiosName &name, AnswerHandler done) {
    QueryServer(name, 0, std::move(done));
}

void NameServerClient::QueryServer(const NetbiosName &name, int server, AnswerHandler done) {
    if (!Server(server).configured()) {
        if (server == 0 && Server(1).configured()) return QueryServer(name, 1, std::move(done));
        // Nobody to ask; the answer still comes after this call returns.
        asio::post(node_->io(), [done = std::move(done)] { done(std::nullopt, 0); });
        return;
    }
    const std::uint16_t id = exchanges_.NewId();
    const codec::NetbiosName wire = requests_.WireName(name);
    auto self = shared_from_this();
    auto on_reply = [self, done, wire](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (!reply.answers.empty() && reply.answers[0].name != wire) return false;
        std::optional<HeldNames::Resolved> found;
        if (reply.header.Rcode() == codec::NameRcode::kOk && !reply.answers.empty() &&
            reply.answers[0].type == codec::kTypeNb) {
            if (auto addresses = codec::DecodeNbRdata(reply.answers[0].rdata))
                found = ResolveAnswer(*self->node_, *addresses);
        }
        done(found, found ? reply.answers[0].ttl : 0);
        return true;
    };
    auto on_expiry = [self, name, server, done] {
        if (server == 0 && self->Server(1).configured() && !self->shut_down_)
            return self->QueryServer(name, 1, done);
        done(std::nullopt, 0);
    };
    exchanges_.Start(id, requests_.ServerQuery(id, name, Endpoint(server)), on_reply, on_expiry);
}

std::optional<NameCache::Entry> NameServerClient::Cached(const NetbiosName &name) {
    if (node_->settings().NodeTypeInUse() == NodeType::kB) return std::nullopt;
    return cache_.Find(name, NameCache::Clock::now());
}

void NameServerClient::Remember(const NetbiosName &name, const std::optional<HeldNames::Resolved> &found,
                                NameCache::Source source, std::uint32_t ttl) {
    const auto &settings = node_->settings();
    if (settings.NodeTypeInUse() == NodeType::kB) return;
    const auto now = NameCache::Clock::now();
    NameCache::Entry entry;
    entry.name = name;
    entry.source = source;
    if (found) {
        entry.found = true;
        entry.address = found->address;
        entry.group = found->group;
        entry.others = found->others;
        entry.expires =
            now + std::min<std::chrono::milliseconds>(std::chrono::seconds(ttl), settings.cache_max_ttl);
    } else {
        entry.expires = now + settings.negative_cache_ttl;
    }
    cache_.Put(entry, now);
}

std::vector<NameCache::Entry> NameServerClient::CachedNames() const {
    return cache_.Snapshot(NameCache::Clock::now());
}

}  // namespace nbt
