// SPDX-License-Identifier: MIT
// What a P, M or H node does with its name servers (primary and secondary):
// registers names and keeps them registered (refresh at half the granted TTL,
// a fresh registration when no server has one), releases them, asks the
// servers for names, and caches what this node resolved by either way.
//
// Owned by the node's NameService, which decides when a server is asked (the
// node type's order) and shares its name table and request exchanges; on a
// B-node every claim here is silent and nothing is cached. It runs where
// its NameService does, under the same rules (node.h); async handlers hold
// this object, and after Shutdown() none of them touches the name service.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "name_cache.h"
#include "name_exchanges.h"
#include "name_packet.h"
#include "name_requests.h"
#include "name_table.h"
#include "netbios_name.h"
#include "service_links.h"

namespace nbt {

class Node;
struct NameServer;

// How a claim on a name ended: ours (server: the one that granted it, 0 or 1,
// or -1 for none; ttl: for how long), refused, or nobody answered.
enum class Claim { kOurs, kInUse, kSilent };
using ClaimHandler = std::function<void(Claim, int server, std::uint32_t ttl)>;
// What a query found, and for how long it may be kept.
using AnswerHandler = std::function<void(std::optional<HeldNames::Resolved>, std::uint32_t ttl)>;

class NameServerClient final : public std::enable_shared_from_this<NameServerClient> {
public:
    // A server refused to keep a unique name we held: somebody else has it.
    using ConflictHandler = std::function<void(NameEntry &)>;

    // names and exchanges belong to the name service, which must call
    // Shutdown() before they go.
    NameServerClient(std::shared_ptr<Node> node, NameTable &names, NameExchanges &exchanges,
                     const NameRequests &requests, ConflictHandler on_conflict);

    // ---- names we hold -------------------------------------------------
    // Registers a name being added with the primary; a silent primary
    // hands it on to the secondary. The add's entry notes each exchange.
    void Register(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done);
    // An add ended as ours: kept with the server that granted it, or, when
    // none did and one is configured, offered to them again later.
    void Keep(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl);
    // Tells the server that has the name to drop it (count 1: one datagram
    // and no wait) and forgets the binding.
    void Release(const NameEntry &entry, int count);
    // A name release request, unicast to us, about a name we hold and
    // neither are adding nor have in conflict.
    void OnReleaseDemand(const NameEntry &entry, const codec::NamePacket &packet,
                         const asio::ip::udp::endpoint &from);

    // ---- names of others -----------------------------------------------
    // Asks the primary, then the secondary; "no such name" from the primary
    // is final. The answer always comes after this call returns.
    void Query(const NetbiosName &name, AnswerHandler done);
    // A live cache entry (never on a B-node).
    std::optional<NameCache::Entry> Cached(const NetbiosName &name);
    // What a lookup found, or that nobody knew the name (not on a B-node).
    void Remember(const NetbiosName &name, const std::optional<HeldNames::Resolved> &found,
                  NameCache::Source source, std::uint32_t ttl);
    void Forget(const NetbiosName &name) { cache_.Forget(name); }
    std::vector<NameCache::Entry> CachedNames() const;

    // Stops the refresh timers; nothing here runs afterwards.
    void Shutdown();
    // The node moved to another address: what the servers granted the old
    // one is forgotten (no refresh of it runs), its names to be Kept anew.
    void Readdressed();

private:
    // Names held with (or offered again to) a name server, by name number.
    struct Binding {
        NetbiosName name{};
        int server = -1;               // who granted it; -1: no server has it
        std::uint64_t generation = 0;  // answers to an older round are ignored
        bool asking = false;           // a refresh or registration of it is out
        std::shared_ptr<asio::steady_timer> timer;
    };

    const NameServer &Server(int index) const;
    // Where requests to a server go: its port, or the name port when it gave none.
    asio::ip::udp::endpoint Endpoint(int index) const;
    bool UsesServer() const;
    // A registration (or refresh) with server 0 or 1.
    void RegisterWith(int server, const NetbiosName &name, bool group, UCHAR number, bool refresh,
                      ClaimHandler done);
    void QueryServer(const NetbiosName &name, int server, AnswerHandler done);
    // The server granted the name for ttl seconds: refresh at half of it.
    void Bind(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl);
    // No server has the name: offer it again after ns_recheck_interval.
    void RecheckLater(UCHAR number, const NetbiosName &name);
    void ArmTimer(UCHAR number, std::chrono::milliseconds after);
    void OnTimer(UCHAR number);

    std::shared_ptr<Node> node_;
    NameTable &names_;
    NameExchanges &exchanges_;
    const NameRequests &requests_;
    ConflictHandler on_conflict_;
    std::map<UCHAR, Binding> bindings_;
    std::uint64_t generation_ = 0;
    NameCache cache_;
    bool shut_down_ = false;
};

}  // namespace nbt
