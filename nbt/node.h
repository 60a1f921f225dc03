// SPDX-License-Identifier: MIT
// One reset LANA: its sockets, its limits, its pending NCBs, its counters and
// the two services that carry the commands. NCBRESET opens a Node; the next
// reset of that LANA shuts it down and opens a fresh one.
//
// Threading: every member is called holding the state lock (state_lock.h):
// on the network thread (IoThread) for the handlers of its sockets and
// timers, or on a caller's thread that carries its own command from
// Provider::Netbios(). doc/threads.md has the whole picture.
//
// Lifetime: Nodes and services are held by std::shared_ptr. A service keeps
// its Node alive (it is constructed with a shared_ptr to it); the Node drops
// its services in Shutdown(), which breaks that cycle. Async handlers must
// capture shared_from_this() of their service (never a bare `this`), so a
// handler cancelled by Shutdown() still finds its object when it runs. The
// services reach each other only through the ServiceLinks the node hands
// them (service_links.h).
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "client_id.h"
#include "command_table.h"
#include "completion.h"
#include "lana_table.h"
#include "nb30.h"
#include "pending_table.h"
#include "service_links.h"
#include "settings.h"
#include "socket_poller.h"
#include "state_lock.h"

namespace nbt {

class DatagramPort;
class HandedNames;
class HostNames;
class DatagramService;
class NameService;
class SessionService;
struct BindFailure;

// What NCBRESET asked for (callname bytes 0..3); 0 became the default and
// values above 254 were clamped to 254.
struct Limits {
    std::uint8_t sessions = 16;
    std::uint8_t ncbs = 16;
    std::uint8_t names = 8;
    bool reserve_name_number_1 = false;
    // Opened by a client other than the process, for every client that
    // resets it after: numbers go to 254, and each client's own limits
    // (Node::ClientRoom) bound its NCBs instead of the node's count.
    bool shared = false;
};

// What a node shared by clients gets: the most of everything.
Limits SharedLimits();

// The limits an NCBRESET block asks for.
Limits LimitsFromReset(const NCB &ncb, const Settings &settings);

// Adapter statistics kept for NCBASTAT and node status answers. The node
// counts datagrams it sends and receives; the session service adds its
// session messages and aborts.
struct NodeCounters {
    std::chrono::steady_clock::time_point reset_time = std::chrono::steady_clock::now();
    std::uint32_t xmit_success = 0;
    std::uint32_t recv_success = 0;
    std::uint16_t xmit_aborts = 0;
    std::uint16_t iframe_xmit_err = 0;
    std::uint16_t recv_buff_unavail = 0;  // requests and connections turned away for want of room
    std::uint16_t xmit_buf_unavail = 0;   // datagrams dropped with the send queue full
    // Name conflict demands dropped because their record did not decode or
    // named another node's address.
    std::uint32_t conflict_demands_dropped = 0;

    // A flood must not wrap a 16-bit counter back to a small number.
    static void CountUpTo16Bits(std::uint16_t &counter) {
        if (counter < 0xFFFF) ++counter;
    }
};

class Node final : public std::enable_shared_from_this<Node>, public PolledSocket, public CallerWork {
public:
    // Binds the LANA's sockets and starts its services. On failure returns
    // null with *rc = NRC_OPENERR (port or address taken, no permission) or
    // NRC_OSRESNOTAV (no socket could be created). preferred_host is the N of
    // 127.0.0.N a previous reset of LANA 0 had, tried first (0: none).
    // host: the names of every node of this provider.
    static std::shared_ptr<Node> Open(const Lana &lana, const Limits &limits, const Settings &settings,
                                      std::shared_ptr<HostNames> host, std::uint8_t preferred_host,
                                      UCHAR *rc);
    ~Node();

    // ---- identity -------------------------------------------------------
    bool is_loopback() const { return lana_.loopback; }
    UCHAR lana_number() const { return lana_.number; }
    unsigned interface_index() const { return lana_.interface_index; }
    const std::string &interface_name() const { return lana_.interface_name; }
    // What this host holds on its other adapters.
    HostNames &host_names() const { return *host_; }
    asio::ip::address_v4 address() const { return address_; }
    // N of 127.0.0.N on LANA 0; 0 on other LANAs.
    std::uint8_t host_number() const { return host_number_; }
    std::uint16_t name_port() const { return name_port_; }
    std::uint16_t session_port() const { return session_port_; }
    // ip:name_port, where unicast requests and replies come to us.
    asio::ip::udp::endpoint name_endpoint() const { return {address_, name_port_}; }
    // broadcast:name_port, where broadcast requests go.
    asio::ip::udp::endpoint broadcast_endpoint() const { return {lana_.broadcast, name_port_}; }
    // The datagram service's port: 138, or the loopback one on LANA 0.
    std::uint16_t datagram_port() const { return datagram_port_number_; }
    // broadcast:datagram_port, where group and broadcast datagrams go.
    asio::ip::udp::endpoint datagram_broadcast_endpoint() const {
        return {lana_.broadcast, datagram_port_number_};
    }
    // LANA 0: 02:00:7F:00:00:N; other LANAs: the interface's MAC.
    const MacAddress &adapter_address() const { return mac_; }
    // Whether a peer can be reached at this address from this LANA: never
    // 0.0.0.0, a multicast or broadcast address, nor (on a LAN adapter) a
    // loopback one. Addresses the network hands us (query answers,
    // retargets, status responders) are used only when this holds.
    bool IsPeerAddress(const asio::ip::address_v4 &address) const;
    // Whether the address is on this LANA's own subnet (reached without a router).
    bool OnSubnet(const asio::ip::address_v4 &address) const;

    const Settings &settings() const { return settings_; }
    const Limits &limits() const { return limits_; }
    NodeCounters &counters() { return counters_; }
    // What the node's sockets and timers are built on: their handlers run
    // holding the state lock.
    StateExecutor io() { return io_; }
    // Diagnostics (korvel-nb names): the name service, null once shut down.
    NameService *name_service() const { return name_service_.get(); }

    // ---- sending ----------------------------------------------------------
    // Sends one datagram from our unicast socket (so its source port is the
    // name port, where defences come back to). The bytes are copied; it never
    // blocks. Broadcasts go to broadcast_endpoint(). When the socket's send
    // buffer and the short queue behind it are full the datagram is dropped
    // and counted in xmit_buf_unavail.
    void SendDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &to);

    // Sends one datagram-service packet from ip:datagram_port; never blocks.
    void SendDatagramPacket(std::span<const std::uint8_t> packet, const asio::ip::udp::endpoint &to);

    // ---- completion -------------------------------------------------------
    // Finishes a pending NCB with rc (once). Returns false if the NCB is no
    // longer pending, e.g. because a reset cancelled it: then leave the NCB
    // and its buffer alone, they belong to the caller again. Write an NCB's
    // output fields or its buffer only while IsPending() holds, and call
    // Complete() right after writing them.
    bool Complete(NCB *ncb, UCHAR rc);
    bool IsPending(const NCB *ncb) const { return pending_.Contains(ncb); }
    // Whether a synchronous caller waits for this pending NCB.
    bool HasCaller(const NCB *ncb) const { return pending_.WaiterOf(ncb) != nullptr; }
    // Hands the wait for `events` on `fd` to the synchronous caller of a
    // pending NCB, which then calls work.Step() itself (completion.h). False
    // when no such caller waits or it cannot wait that way.
    bool HandToCaller(const NCB *ncb, std::weak_ptr<CallerWork> work, int fd, short events);
    std::size_t pending_count() const { return pending_.size(); }

    // ---- used by the Provider --------------------------------------------
    bool is_open() const { return open_; }
    // Takes an accepted NCB of a command the table gives the name or the
    // session service: counts it against the NCB limit and routes it there.
    void Submit(NCB *ncb, SyncWaiter *waiter, ClientId client = kProcessClient);
    // NCBCANCEL of `target` (node_cancel.cpp): NRC_CANCEL for a command that
    // cannot be cancelled, NRC_CANOCCR when it is not pending (any more) or
    // not one `client` may use, otherwise it ends with NRC_CMDCAN and the
    // cancel succeeds.
    UCHAR Cancel(NCB *target, ClientId client = kProcessClient);
    // Reset or provider teardown: every pending NCB ends with NRC_CMDCAN,
    // then the services shut down (names released, sessions aborted), then
    // the sockets close. Idempotent.
    void Shutdown();
    // The adapter is gone (its interface went down or lost its address): as
    // Shutdown, but the pending NCBs end with `rc` and no name is released,
    // there being no wire left to carry the releases.
    void Lose(UCHAR rc);
    // The interface moved to another address (lana: this LANA as the host
    // now lists it). The sockets are bound there anew; the names held are
    // registered again from it and keep their numbers, adds under way
    // start over; the sessions, connections of the old address, end as
    // broken ones do (NRC_SABORT), and so do calls already connecting.
    // Pending LISTENs, datagram receives and lookups carry on. False when
    // the new address cannot be bound: Lose() the node then.
    bool Readdress(const Lana &lana);

    // ---- clients other than the process (node_clients.cpp) ----------------
    // Each has reset the LANA itself before it may use it, and holds its own
    // names, sessions and NCBs; the process is always there.
    bool HasClient(ClientId client) const;
    // The client's reset: what it had here is freed, and `limits` are its own.
    void ResetClient(ClientId client, const Limits &limits);
    // The client's reset that only frees: its pending NCBs end
    // (NRC_CMDCAN), its sessions are hung up as a reset hangs them up, its
    // names are deleted (released on the wire). Unknown clients are fine.
    void FreeClient(ClientId client);
    // The client a pending NCB was submitted for.
    ClientId ClientOf(const NCB *ncb) const { return pending_.ClientOf(ncb); }
    enum class ClientLimit { kNcbs, kNames, kSessions };
    // Whether `client`, holding `in_use` of `what`, may take one more:
    // NRC_GOODRET if so, NRC_NORES past the settings' cap for a client,
    // `full` past what its reset asked. The process has the node's limits.
    UCHAR ClientRoom(ClientId client, ClientLimit what, std::size_t in_use, UCHAR full) const;

    // ---- sessions korveld hands to its clients (node_handover.cpp) --------
    // korveld: the established session `lsn` of `client` goes to it; see
    // SessionService::HandOver. -1 when it stays here.
    int HandOverSession(UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread, UCHAR *name_number);
    // The client has ended a session handed to it (lsn 0: none), and carried
    // these session messages since it last said: they join the counters.
    void HandedSessionOver(ClientId client, UCHAR lsn, const NodeCounters &carried);
    // The client's side: a node that binds nothing and carries only the
    // sessions korveld hands this program on `lana`.
    static std::shared_ptr<Node> OpenForHandedSessions(const Lana &lana, const Settings &settings);
    // name_number: the session's local name's number in korveld.
    bool AdoptSession(NCB *opener, int fd, std::span<const std::uint8_t> unread, UCHAR name_number);
    // Whether an NCBRECVANY for this name number (0xFF: any) is carried here.
    bool CarriesReceiveAny(UCHAR name_number) const;
    bool CarriesSession(UCHAR lsn) const;
    // What is pending on its handed sessions, added to the service's NCBSSTAT reply.
    void AddHandedPendingCounts(std::span<UCHAR> reply) const;
    // Called with each handed session's number once it has ended here.
    void OnSessionReleased(std::function<void(UCHAR lsn)> released);
    // korveld says a name of handed sessions is in conflict: they end as its own do.
    void HandedNameInConflict(const NetbiosName &name);
    // korveld's side: told when the local name of sessions handed to a
    // client goes into conflict.
    void OnHandedNameConflict(std::function<void(ClientId, const NetbiosName &)> notice);

    // ---- what the sockets hand the services -----------------------------
    // A datagram from `from`, as if the name sockets had received it, and a
    // connection, as if the session listener had accepted it. The stateful
    // fuzzers feed a live node through these, without the sockets between.
    void OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from);
    void OnConnection(asio::ip::tcp::socket socket);

    // ---- the unicast name socket -------------------------------------------
    // Watched through the SocketPoller. A synchronous caller whose block
    // waits for an answer to a request just sent from it reads it itself
    // until the block ends, instead of being woken by the network thread.
    void LetCallerReadNameSocket(NCB *ncb);
    void OnReady(std::uint32_t events) override;
    void Recheck() override;
    short Step(short events, bool at_once) override;
    void Leave(short events) override;

    Node(const Lana &lana, const Limits &limits, const Settings &settings,
         std::shared_ptr<HostNames> host);  // use Open()

private:
    void Close(UCHAR pending_rc, bool release_names);
    UCHAR Bind(std::uint8_t preferred_host);
    // Binds the unicast and session sockets at address; on failure closes
    // them and says in *why which step failed.
    bool BindAt(const asio::ip::address_v4 &address, BindFailure *why);
    void StartServices();
    // The receive loops of the bound sockets.
    void StartReceiving();
    void ReceiveBroadcasts();
    // One of the broadcast name sockets, read into its buffer for good.
    void ReceiveBroadcasts(asio::ip::udp::socket &socket, std::vector<std::uint8_t> &buffer,
                           asio::ip::udp::endpoint &from);
    void BindLimitedBroadcast();
    // A datagram from either name socket, counted and handed to the name service.
    void HandleNameDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from);
    // Hands the datagrams waiting on the unicast name socket to the name
    // service, then has the network thread watch it again.
    void ReadNameSocket();
    // later: a socket to arm is left to a recheck a little later instead.
    void WatchNameSocket(bool later = false);
    void FlushNameBacklog();
    void CloseNameSocket();
    void Accept();
    void RetryLater(std::function<void()> again);

    StateExecutor io_;
    Lana lana_;
    Limits limits_;
    Settings settings_;
    std::shared_ptr<HostNames> host_;
    bool open_ = false;

    asio::ip::address_v4 address_;
    std::uint8_t host_number_ = 0;
    std::uint16_t name_port_ = 0;
    std::uint16_t session_port_ = 0;
    std::uint16_t datagram_port_number_ = 0;
    MacAddress mac_{};

    asio::ip::udp::socket unicast_;  // until the services start: then name_socket_
    PolledFd name_socket_;
    bool unicast_drained_ = false;  // the last read found nothing
    int name_socket_readers_ = 0;   // callers reading it themselves
    // Datagrams the socket had no room for, sent once it has.
    std::deque<std::pair<std::vector<std::uint8_t>, asio::ip::udp::endpoint>> unicast_backlog_;
    class HeldSends;
    bool holding_sends_ = false;
    std::vector<std::pair<std::vector<std::uint8_t>, asio::ip::udp::endpoint>> held_sends_;
    asio::ip::udp::socket broadcast_;
    // Name requests some peers broadcast to 255.255.255.255 rather than to
    // the subnet's address (LAN adapters only; open when it could be bound).
    asio::ip::udp::socket limited_broadcast_;
    asio::ip::tcp::acceptor listener_;
    // Bumped when the sockets are bound anew: the old ones' handlers stop.
    std::uint64_t sockets_generation_ = 0;
    std::vector<std::uint8_t> unicast_buffer_, broadcast_buffer_, limited_buffer_;
    asio::ip::udp::endpoint broadcast_from_, limited_from_;

    PendingTable pending_;
    std::map<ClientId, Limits> clients_;  // those reset here, with their limits
    NodeCounters counters_;
    std::shared_ptr<NameService> name_service_;
    std::shared_ptr<SessionService> session_service_;
    std::shared_ptr<DatagramPort> datagram_socket_;
    std::shared_ptr<DatagramService> datagram_service_;
    ServiceLinks links_;
    std::shared_ptr<HandedNames> handed_names_;  // a node of handed sessions' stand-in name table
    // The service of each Service value that reaches the node.
    std::array<CommandTarget *, kServiceCount> targets_{};
};

}  // namespace nbt
