// SPDX-License-Identifier: MIT
// The NetBIOS provider: one node set (its LANA table, its reset LANAs, its
// loopback address 127.0.0.N). The global Netbios() uses the process-wide
// Default() provider; tests construct more Providers, each one its own node
// on the loopback LANA, with its own Settings.
//
// All Providers share the one network thread (IoThread).
#pragma once

#include <array>
#include <asio/ip/address_v4.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "client_id.h"
#include "completion.h"
#include "lana_bits.h"
#include "lana_table.h"
#include "nb30.h"
#include "netbios_name.h"
#include "settings.h"

namespace nbt {

class HostNames;
class IoThread;
class Node;

// A name in a LANA's table and the client that added it.
struct NameOwner {
    std::array<std::uint8_t, 16> name{};
    ClientId client = kProcessClient;
};

// What Provider::FollowInterfaces found changed in the LANA table.
struct LanaChanges {
    std::vector<Lana> added;    // numbers enumerated now and not before
    std::vector<Lana> removed;  // numbers enumerated before and not now
    // Reset LANAs whose interface went away: ended.
    std::vector<UCHAR> lost;
    // Reset LANAs whose interface moved to another address: moved with it.
    std::vector<UCHAR> readdressed;
    // Not 0: a reset LANA's interface is up but has lost its address, as
    // it does while its address is being changed; call again after this
    // long, when it is lost unless an address came back.
    std::chrono::milliseconds look_again{0};
};

class Provider {
public:
    // How long a reset LANA's interface may stay up without an address
    // before the LANA is lost: an address changed by deleting the old one
    // first and then adding the new one is back well within it.
    static constexpr std::chrono::milliseconds kAddressGrace{1000};

    // numbering: how LANAs 1 and up are numbered; null numbers them by
    // interface index at every reading (NumberLanas).
    explicit Provider(Settings settings = {}, std::shared_ptr<LanaNumbering> numbering = nullptr);
    // Ends every pending NCB (NRC_CMDCAN) and closes every node.
    ~Provider();
    Provider(const Provider &) = delete;
    Provider &operator=(const Provider &) = delete;

    // What Netbios() does. Validates at once (NULL block, event and post both
    // given, and what the command table asks: a known command, its LANA
    // enumerated, its LANA reset), then starts the command on the caller's
    // thread under the state lock (from the network thread itself: queued
    // there). The synchronous form waits for completion, which may have come
    // already; the asynchronous form returns NRC_GOODRET with ncb_retcode =
    // ncb_cmd_cplt = NRC_PENDING unless it finished already, and its
    // ncb_post or ncb_event is run on the network thread.
    UCHAR Netbios(NCB *ncb);
    // The same, on behalf of `client`. A client other than the process uses
    // only the names, sessions and NCBs it made; to it another's numbers
    // are numbers nobody uses. It resets a LANA for itself alone: its reset
    // frees what it had there (a reset with ncb_lsn != 0 only that) and
    // makes its callname limits its own, capped by the settings'
    // client_max_*; it opens the LANA, with room for every client, if no
    // reset had. Until it has reset a LANA, commands there get
    // NRC_ENVNOTDEF. The process's own reset resets the LANA for everyone.
    UCHAR Netbios(NCB *ncb, ClientId client);
    // The same from the network thread, in a handler that runs no node's
    // code (a server reading its clients' requests): the asynchronous
    // command is carried at once instead of queued behind that handler, so
    // its post routine may run before this returns.
    UCHAR NetbiosAtOnce(NCB *ncb, ClientId client);
    // `client` is gone: as if it had reset every LANA it used. Its pending
    // NCBs end (NRC_CMDCAN), its sessions are hung up and its names deleted
    // (released on the wire). Any thread; idempotent.
    void DropClient(ClientId client);
    // korveld, state lock held (node_handover.cpp): the session `lsn` that
    // just completed `client`'s CALL or LISTEN on `lana` goes to it (a
    // duplicate of its socket, what was read of it in *unread; -1 when it
    // stays here), and later the client says it is over (lsn 0: only the
    // session messages it carried since it last said, for the counters).
    int HandOverSession(UCHAR lana, UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread,
                        UCHAR *name_number);
    void HandedSessionOver(UCHAR lana, UCHAR lsn, ClientId client, std::uint32_t sent, std::uint32_t received,
                           std::uint16_t send_failures);
    // korveld, before any LANA is reset: told, on the network thread, when
    // the local name of sessions handed to a client goes into conflict.
    using HandedNameConflict = std::function<void(UCHAR lana, ClientId client, const NetbiosName &name)>;
    void OnHandedNameConflict(HandedNameConflict notice);
    // Every name of a reset LANA with the client that holds it. Any thread.
    std::vector<NameOwner> NameOwners(UCHAR lana) const;

    static Provider &Default();

    // Around fork() (fork_handlers.h): every Provider's locks are held
    // across it. In the child each one forgets the parent's nodes, which it
    // never touches nor destroys (their sockets are shared with the parent),
    // and has no LANA reset.
    static void LockAllForFork();
    static void UnlockAllInParent();
    static void ForgetAllInChild();

    const Settings &settings() const { return settings_; }
    // The address LANA `lana` was reset on, if it is reset.
    std::optional<asio::ip::address_v4> LanaAddress(UCHAR lana) const;
    // Runs fn(node) on the network thread with the node of a reset LANA (or
    // null), and waits. For tests and diagnostics.
    void WithNode(UCHAR lana, const std::function<void(Node *)> &fn) const;
    // The LANA table, read again from the host as NCBENUM reads it.
    std::vector<Lana> Lanas();
    // The host's interfaces changed: the table is read again. A reset LANA
    // whose interface is there with another address moves to it
    // (Node::Readdress); one whose interface is up without an address is
    // given kAddressGrace to get one; one whose interface is gone, or that
    // cannot move, is ended as Node::Lose ends it, its pending NCBs with NRC_BRIDGE (the
    // code a new command on it gets while it is missing), and its clients
    // must reset it again. State lock held (the network thread).
    LanaChanges FollowInterfaces();

private:
    struct Alive {};
    // The commands the provider carries itself; they return the NCB's code.
    using Handler = UCHAR (Provider::*)(NCB *, ClientId);

    UCHAR Start(NCB *ncb, ClientId client, bool at_once);
    void Dispatch(NCB *ncb, SyncWaiter *waiter, ClientId client);  // state lock held
    UCHAR Reset(NCB *ncb, ClientId client);                        // state lock held
    // A client's own reset of an enumerated LANA.
    UCHAR ResetClient(NCB *ncb, ClientId client, const Lana &lana);  // state lock held
    UCHAR Enumerate(NCB *ncb, ClientId client);                      // state lock held
    UCHAR Cancel(NCB *ncb, ClientId client);                         // state lock held (provider_cancel.cpp)
    void RefreshLanas();                                             // any thread
    void SetLanas(std::vector<Lana> lanas);                          // mutex_ held
    std::vector<Lana> Number(const std::vector<InterfaceAddress> &interfaces);  // mutex_ held
    UCHAR Validate(const NCB *ncb);

    Settings settings_;
    const std::shared_ptr<LanaNumbering> numbering_;  // called with mutex_ held
    std::shared_ptr<Alive> alive_ = std::make_shared<Alive>();

    mutable std::mutex mutex_;  // guards lanas_, serialises writes of the sets
    std::vector<Lana> lanas_;
    LanaBits enumerated_;  // the numbers in lanas_
    LanaBits reset_;

    // State lock held.
    std::map<UCHAR, std::shared_ptr<Node>> nodes_;
    // The names those nodes hold, for a name held on several of them.
    std::shared_ptr<HostNames> host_names_;
    std::uint8_t last_loopback_host_ = 0;
    // Reset LANAs whose interface is up without an address, and since when.
    std::map<UCHAR, std::chrono::steady_clock::time_point> addressless_;
    HandedNameConflict handed_name_conflict_;
    // A node just opened learns whom to tell (node_handover.cpp).
    void TellOfHandedConflicts(Node &node, UCHAR lana);
};

}  // namespace nbt
