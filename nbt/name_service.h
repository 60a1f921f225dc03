// The name service of one node (RFC 1001/1002 B-node, UDP): NCBADDNAME,
// NCBDELNAME, NCBASTAT, defending our names, answering queries and node
// status requests, and resolving names for the session service.
//
// One NameService per Node, created at reset, after the node's sockets are
// bound. It runs on the network thread. See node.h for what the node offers
// (address, broadcast endpoint, SendDatagram, settings, limits, counters,
// Complete) and for the lifetime rules of async handlers.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "nb30.h"
#include "netbios_name.h"

namespace nbt {

class Node;

class NameService : public std::enable_shared_from_this<NameService> {
public:
    explicit NameService(std::shared_ptr<Node> node);

    // NCBADDNAME, NCBDELNAME and NCBASTAT. The NCB is pending in the node;
    // finish it with node.Complete(ncb, rc) exactly once.
    void Submit(NCB *ncb);

    // Every datagram received on the node's unicast or broadcast socket,
    // except our own broadcasts coming back.
    void OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from);

    // Reset: release the names held (the sockets are still open during this
    // call and close right after it), stop every timer. No callback runs
    // after this returns.
    void Shutdown();

    // ---- for the session service --------------------------------------
    struct HeldName {
        UCHAR number = 0;  // ncb_num
        UCHAR flags = 0;   // name_flags: GROUP_NAME | REGISTERED, DEREGISTERED, ...
    };
    // A name in our table, in any state.
    std::optional<HeldName> Find(const NetbiosName &name) const;
    // Our own table first, then the cache, then a broadcast query. The
    // handler runs once, on the network thread (never inside this call),
    // with the address or nullopt when nobody answered.
    using ResolveHandler = std::function<void(std::optional<asio::ip::address_v4>)>;
    void Resolve(const NetbiosName &name, ResolveHandler handler);
    // The last session on a DEREGISTERED name has closed: delete it now.
    void OnSessionsClosed(const NetbiosName &name);

private:
    std::shared_ptr<Node> node_;
};

}  // namespace nbt
