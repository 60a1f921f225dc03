// SPDX-License-Identifier: MIT
// The name service of one node (RFC 1001/1002, UDP): the commands the
// command table gives it, defending our names, answering queries and node
// status requests, and resolving names for the session service. Every node
// type takes its broadcast steps here; a P, M or H node hands its steps with
// a name server (WINS) to its NameServerClient, in the order its node type
// sets (name_service_order.cpp).
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
#include "name_requests.h"
#include "name_server_client.h"
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
    // Stops the name-server client too: its pending handlers may outlive
    // this object, and must not reach the table and exchanges it lent them.
    ~NameService();

    void Submit(NCB *ncb) override;

    // Every datagram received on the node's unicast or broadcast socket,
    // except our own broadcasts coming back.
    void OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from);

    // Reset: release the names held (the sockets are still open during this
    // call and close right after it), stop every timer. No callback runs
    // after this returns. release false: the adapter is gone, and the names
    // with it, unreleased.
    void Shutdown(bool release = true);
    // The node's sockets are bound at a new address (Node::Readdress): each
    // name held is registered again from it as the node type registers a
    // name (its number kept, usable meanwhile; a refusal puts a unique name
    // in conflict), and each add under way starts over from there.
    void Readdressed();

    // ---- HeldNames, for the session service ----------------------------
    std::optional<HeldName> Find(const NetbiosName &name) const override;
    // A name we do not hold is asked for in the node type's order: B
    // broadcast, P the name server, M broadcast then the server, H the
    // server then broadcast. B-nodes keep no cache, so every call asks;
    // the others answer from their cache while its entry lives.
    void Resolve(const NetbiosName &name, ResolveHandler handler) override;
    void Lookup(const NetbiosName &name, LookupHandler handler) override;
    std::optional<NetbiosName> NameOf(UCHAR number, ClientId client) const override;
    void OnSessionsClosed(const NetbiosName &name) override;
    void ForgetAddress(const NetbiosName &name) override { server_->Forget(name); }

    // A client's reset (Node::FreeClient): its names are deleted, released
    // on the wire; its adds in progress end as a delete ends them.
    void DropClient(ClientId client);
    // Every name in the table with the client that added it.
    std::vector<std::pair<NetbiosName, ClientId>> Owners() const;

    // The adapter status of this node, as NCBASTAT for "*" reports it.
    AdapterStatusReply LocalStatus() const;
    // Its fixed part alone: what a node status answer carries beside the names.
    ADAPTER_STATUS LocalCounters() const;

    // The live entries of the resolved-name cache (empty on a B-node).
    std::vector<NameCache::Entry> CachedNames() const { return server_->CachedNames(); }

private:
    using StatusHandler = std::function<void(std::optional<codec::NodeStatus>)>;
    using Handler = void (NameService::*)(NCB *);

    void AddName(NCB *ncb);
    void DeleteName(NCB *ncb);
    void DeleteNow(const NetbiosName &name);
    // What a delete does to a name: still registering, it is dropped and the
    // add waiting for it ends (NRC_NAMERR); with sessions it is only marked
    // deregistered; otherwise it goes now. True when it went (or was dropped).
    bool Delete(NameEntry &entry);
    // Whoever may know the name hears it is gone: the server that granted it
    // and, unless we are a P-node, the segment (a count of 1: one datagram
    // each, no wait).
    void Release(const NameEntry &entry, int server_count, int broadcast_count);
    // What the host's other adapters learn of a name in our table.
    void TellHost(const NameEntry &entry);
    void ForgetOnHost(const NetbiosName &name);

    // name_service_order.cpp: where each node type claims and looks up names.
    void StartAdd(NCB *ncb, const NetbiosName &name, bool group, UCHAR number);
    // The node type's claim on a name: each step taken while still() holds.
    void ClaimInOrder(const NetbiosName &name, bool group, UCHAR number, std::function<bool()> still,
                      ClaimHandler finish);
    // A name held, claimed again from a new address; `round`: the
    // Readdressed() call it belongs to.
    void Reclaim(const NetbiosName &name, bool group, UCHAR number, std::uint64_t round);
    void FinishAdd(NCB *ncb, const NetbiosName &name, UCHAR number, Claim claim, int server,
                   std::uint32_t ttl);
    bool StillAdding(const NetbiosName &name, UCHAR number) const;
    void ResolveStep(const NetbiosName &name, std::size_t step, std::shared_ptr<LookupHandler> handler);

    // name_service_broadcast.cpp: the same on the segment.
    void ClaimByBroadcast(const NetbiosName &name, bool group, UCHAR number, ClaimHandler done);
    // An H-node tells its segment of a name the server granted.
    void Announce(const NetbiosName &name, bool group);
    void ReleaseByBroadcast(const NameEntry &entry, int count);
    void QueryByBroadcast(const NetbiosName &name, AnswerHandler done);

    void AdapterStatus(NCB *ncb);
    // Our status as a node status answer carries it.
    codec::NodeStatus LocalNodeStatus() const;
    void FinishStatus(NCB *ncb, const AdapterStatusReply &reply);
    void FinishRemoteStatus(NCB *ncb, const std::optional<codec::NodeStatus> &status);
    void QueryStatus(asio::ip::address_v4 peer, StatusHandler handler);
    void StatusByAddress(NCB *ncb, const MacAddress &mac);
    void StatusByBroadcast(NCB *ncb, const MacAddress &mac);

    void OnRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnRegistrationRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnQueryRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnStatusRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    void OnReleaseRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    // Spends one of the source's answers; false (and counted) once they are spent.
    bool MayAnswer(const asio::ip::udp::endpoint &from);
    void OnConflictDemand(const codec::NamePacket &packet);
    // REGISTERED -> DUPLICATE, DEREGISTERED -> DUPLICATE_DEREG; the commands
    // waiting on the name end.
    void EnterConflict(NameEntry &entry);
    // A late answer to a query of ours: a second owner of a unique name?
    bool OnLateQueryAnswer(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from);
    // first: the unique name as the first answer gave it.
    void WatchForConflicts(std::uint16_t id, const codec::NetbiosName &name, const Resolved &first);

    // The entry for a name from the wire, if its scope is ours and we hold it.
    NameEntry *Held(const codec::NetbiosName &name);
    std::uint32_t OwnAddress() const;
    void Send(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to);

    std::shared_ptr<Node> node_;
    const ServiceLinks &links_;
    NameTable table_;
    NameRequests requests_;
    NameExchanges exchanges_;
    ReplyBudget replies_;
    // Queries answered in the last conflict_timer: their first answer.
    struct ConflictWatch {
        codec::NetbiosName name;
        std::vector<std::uint32_t> first;  // every address of the first answer
        std::shared_ptr<asio::steady_timer> timer;
    };
    std::map<std::uint16_t, ConflictWatch> conflict_watches_;
    std::shared_ptr<NameServerClient> server_;
    bool shut_down_ = false;
    std::uint64_t readdressed_ = 0;  // Readdressed() calls
    std::uint16_t malformed_ = 0;    // datagrams that did not decode, reported as frmr_recv
};

}  // namespace nbt
