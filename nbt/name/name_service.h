// The name service of one node (RFC 1001/1002 B-node, UDP): the commands
// the command table gives it, defending our names, answering queries and
// node status requests, and resolving names for the session service.
//
// One NameService per Node, created at reset, after the node's sockets are
// bound. It runs on the network thread. See node.h for what the node offers
// (address, broadcast endpoint, SendDatagram, settings, limits, counters,
// Complete) and for the lifetime rules of async handlers; it sees the
// sessions only through OpenSessions (service_links.h).
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "command_table.h"
#include "lana_table.h"
#include "name_adapter_status.h"
#include "name_cache.h"
#include "name_exchanges.h"
#include "name_packet.h"
#include "name_status.h"
#include "name_table.h"
#include "nb30.h"
#include "netbios_name.h"
#include "node.h"
#include "reply_budget.h"
#include "service_links.h"

namespace nbt {

class Node;

class NameService final : public std::enable_shared_from_this<NameService>,
                          public CommandTarget,
                          public HeldNames {
public:
    // links.sessions is followed only while this service is open.
    NameService(std::shared_ptr<Node> node, const ServiceLinks &links);

    void Submit(NCB *ncb) override;

    // Every datagram received on the node's unicast or broadcast socket,
    // except our own broadcasts coming back.
    void OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from);

    // Reset: release the names held (the sockets are still open during this
    // call and close right after it), stop every timer. No callback runs
    // after this returns.
    void Shutdown();

    // ---- HeldNames, for the session service ----------------------------
    std::optional<HeldName> Find(const NetbiosName &name) const override;
    // A name we do not hold is asked for in the node type's order: B
    // broadcast, P the name server, M broadcast then the server, H the
    // server then broadcast. B-nodes keep no cache, so every call asks;
    // the others answer from their cache while its entry lives.
    void Resolve(const NetbiosName &name, ResolveHandler handler) override;
    void Lookup(const NetbiosName &name, LookupHandler handler) override;
    std::optional<NetbiosName> NameOf(UCHAR number) const override;
    void OnSessionsClosed(const NetbiosName &name) override;
    void ForgetAddress(const NetbiosName &name) override { cache_.Forget(name); }

    // The adapter status of this node, as NCBASTAT for "*" reports it.
    AdapterStatusReply LocalStatus() const;

    // The live entries of the resolved-name cache (empty on a B-node).
    std::vector<NameCache::Entry> CachedNames() const;

private:
    using StatusHandler = std::function<void(std::optional<codec::NodeStatus>)>;
    using Handler = void (NameService::*)(NCB *);

    // How a claim on a name ended: ours (server: who granted it, -1 for
    // broadcast; ttl: what it granted), refused, or nobody answered.
    enum class Claim { kOurs, kInUse, kSilent };
    using ClaimHandler = std::function<void(Claim, int server, std::uint32_t ttl)>;
    // What a query found and for how long it may be kept.
    using AnswerHandler = std::function<void(std::optional<Resolved>, std::uint32_t ttl)>;

    void AddName(NCB *ncb);
    // name_service_server.cpp: registration, refresh, release and queries
    // with a name server, and the node type's order of things.
    void StartAdd(NCB *ncb, const NetbiosName &name, bool group, UCHAR number);
    void FinishAdd(NCB *ncb, const NetbiosName &name, UCHAR number, Claim claim, int server,
                   std::uint32_t ttl);
    bool StillAdding(const NetbiosName &name, UCHAR number) const;
    // Notes the exchange an add in progress is waiting for (a delete cancels it).
    void Track(const NetbiosName &name, UCHAR number, std::uint16_t id);
    void ClaimByBroadcast(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done);
    // A registration (or refresh) with server 0 (primary) or 1; a silent
    // primary hands a registration on to the secondary.
    void ClaimFromServer(const NetbiosName &name, bool group, UCHAR number, int server, bool refresh,
                         ClaimHandler done);
    // An H-node tells its segment of a name the server granted.
    void Announce(const NetbiosName &name, bool group);
    // The server granted the name for ttl seconds: refresh at half of it.
    void BindToServer(UCHAR number, const NetbiosName &name, int server, std::uint32_t ttl);
    // No server has the name: offer it again after ns_recheck_interval.
    void RecheckLater(UCHAR number, const NetbiosName &name);
    void ArmServerTimer(UCHAR number, std::chrono::milliseconds after);
    void OnServerTimer(UCHAR number);
    // Tells the server that has the name to drop it (count 1: one datagram
    // and no wait) and forgets the binding.
    void ReleaseToServer(const NameEntry &entry, int count);
    void OnReleaseDemand(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    const NameServer &Server(int index) const;
    // Where requests to a server go: its port, or the name port when it gave none.
    asio::ip::udp::endpoint ServerEndpoint(int index) const;
    bool UsesServer() const;
    std::uint16_t OwnNbFlags(bool group) const;
    void ResolveStep(const NetbiosName &name, std::size_t step, std::shared_ptr<LookupHandler> handler);
    void QueryByBroadcast(const NetbiosName &name, AnswerHandler done);
    void QueryServer(const NetbiosName &name, int server, AnswerHandler done);
    void Remember(const NetbiosName &name, const std::optional<Resolved> &found, NameCache::Source source,
                  std::uint32_t ttl);

    void DeleteName(NCB *ncb);
    void AdapterStatus(NCB *ncb);
    void ReleaseNow(const NameEntry &entry, int count);
    void DeleteNow(const NetbiosName &name);

    void FinishStatus(NCB *ncb, const AdapterStatusReply &reply);
    void FinishRemoteStatus(NCB *ncb, const std::optional<codec::NodeStatus> &status);
    void QueryStatus(asio::ip::address_v4 peer, StatusHandler handler);
    void StatusByAddress(NCB *ncb, const MacAddress &mac);
    void StatusByBroadcast(NCB *ncb, const MacAddress &mac);

    void OnRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnRegistrationRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnQueryRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnStatusRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    // Spends one of the source's answers; false (and counted) once they are spent.
    bool MayAnswer(const asio::ip::udp::endpoint &from);
    void OnConflictDemand(const codec::NamePacket &packet);
    // REGISTERED -> DUPLICATE, DEREGISTERED -> DUPLICATE_DEREG; the commands
    // waiting on the name end.
    void EnterConflict(NameEntry &entry);
    // A late answer to a query of ours: a second owner of a unique name?
    bool OnLateQueryAnswer(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void WatchForConflicts(std::uint16_t id, const codec::NetbiosName &name, const codec::NbAddress &first);

    codec::NetbiosName WireName(const NetbiosName &name) const;
    // The entry for a name from the wire, if its scope is ours and we hold it.
    NameEntry *Held(const codec::NetbiosName &name);
    std::uint32_t OwnAddress() const;
    void Send(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to);

    std::shared_ptr<Node> node_;
    const ServiceLinks &links_;
    NameTable table_;
    NameExchanges exchanges_;
    ReplyBudget replies_;
    // Queries answered in the last conflict_timer: their first answer.
    struct ConflictWatch {
        codec::NetbiosName name;
        codec::NbAddress first;
        std::shared_ptr<asio::steady_timer> timer;
    };
    std::map<std::uint16_t, ConflictWatch> conflict_watches_;
    // Names held with (or offered again to) a name server, by name number.
    struct ServerBinding {
        NetbiosName name{};
        int server = -1;               // who granted it; -1: no server has it
        std::uint64_t generation = 0;  // answers to an older round are ignored
        bool asking = false;           // a refresh or registration of it is out
        std::shared_ptr<asio::steady_timer> timer;
    };
    std::map<UCHAR, ServerBinding> bindings_;
    std::uint64_t binding_generation_ = 0;
    NameCache cache_;
    bool shut_down_ = false;
    std::uint16_t malformed_ = 0;  // datagrams that did not decode, reported as frmr_recv
};

}  // namespace nbt
