// SPDX-License-Identifier: MIT
// How the name, session and datagram services of one node reach each
// other: each sees the other only through the small interface below, handed
// to it in ServiceLinks when the node constructs it. The node fills the links
// once both services exist and clears them when it shuts them down; a
// handler that may run after a reset checks its own service is still open
// before it follows a link.
#pragma once

#include <asio/ip/address_v4.hpp>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "client_id.h"
#include "nb30.h"
#include "netbios_name.h"

namespace nbt {

// What the session service needs of the node's name table.
class HeldNames {
public:
    struct HeldName {
        UCHAR number = 0;                  // ncb_num
        UCHAR flags = 0;                   // name_flags: GROUP_NAME | REGISTERED, DEREGISTERED, ...
        ClientId client = kProcessClient;  // who added it
    };
    // A name in our table, in any state.
    virtual std::optional<HeldName> Find(const NetbiosName &name) const = 0;

    // Our own table first (a held name resolves to our own address), then the
    // network. The handler runs once, on the network thread (never inside
    // this call), with the address or nullopt when nobody answered. After a
    // reset it never runs.
    using ResolveHandler = std::function<void(std::optional<asio::ip::address_v4>)>;
    virtual void Resolve(const NetbiosName &name, ResolveHandler handler) = 0;

    // The name of a number in our table, in any state, if `client` may use
    // it: to another client's number it is a number nobody uses.
    virtual std::optional<NetbiosName> NameOf(UCHAR number, ClientId client) const = 0;

    // As Resolve, and whether the name is a group name (the answer had the
    // G bit, or we hold it as one).
    struct Resolved {
        asio::ip::address_v4 address;
        bool group = false;
        // A unique name's further addresses (a host with several
        // interfaces), to try in this order after `address`.
        std::vector<asio::ip::address_v4> others;
    };
    using LookupHandler = std::function<void(std::optional<Resolved>)>;
    virtual void Lookup(const NetbiosName &name, LookupHandler handler) = 0;

    // The last session on a deregistered name has closed: delete it now.
    virtual void OnSessionsClosed(const NetbiosName &name) = 0;

    // A call found nobody at the address the name resolved to: whatever was
    // remembered of the name is stale, and the next call asks again.
    virtual void ForgetAddress(const NetbiosName &name) = 0;

protected:
    ~HeldNames() = default;
};

// What the name service needs of the node's sessions.
class OpenSessions {
public:
    // True while `name` has a session up or a call in progress (pending
    // LISTENs do not count): deleting it then only marks it deregistered.
    virtual bool HasSessions(const NetbiosName &name) const = 0;
    // Sessions in the table (pending LISTENs and CALLs included), for the
    // adapter status.
    virtual std::size_t SessionCount() const = 0;
    // The name left our table (or is on its way out): its pending LISTENs end.
    virtual void OnNameDeleted(const NetbiosName &name) = 0;
    // The name went into conflict: its pending LISTENs and CALLs, and the
    // RECEIVEs waiting on its sessions, end with NRC_NAMCONF.
    virtual void OnNameConflict(const NetbiosName &name) = 0;

protected:
    ~OpenSessions() = default;
};

// What the session status needs of the datagram service.
class DatagramReceives {
public:
    // NCBDGRECVs of `client` pending for name number `number`, those for
    // any name (0xFF) included; `number` 0xFF counts every one.
    virtual std::size_t PendingDatagramReceives(UCHAR number, ClientId client) const = 0;

protected:
    ~DatagramReceives() = default;
};

struct ServiceLinks {
    HeldNames *names = nullptr;
    OpenSessions *sessions = nullptr;
    DatagramReceives *datagrams = nullptr;
};

}  // namespace nbt
