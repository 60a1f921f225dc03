// SPDX-License-Identifier: MIT
// The provider's own settings. The defaults need no file; tests and tools
// construct a Provider with their own copy.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "nb30.h"
#include "nbt_constants.h"

namespace nbt {

enum class NodeType : std::uint8_t { kB, kP, kM, kH };

// A NetBIOS name server: its IPv4 address in host order (0: none) and its
// port (0: the adapter's own name-service port, 137 on a LAN).
struct NameServer {
    std::uint32_t ipv4 = 0;
    std::uint16_t port = 0;
    bool configured() const { return ipv4 != 0; }
    bool operator==(const NameServer &) const = default;
};

struct Settings {
    // LANA 0, the loopback adapter: unprivileged ports, so two consoles on
    // one machine reach each other without root.
    std::uint16_t loopback_name_port = 10137;      // udp
    std::uint16_t loopback_session_port = 10139;   // tcp
    std::uint16_t loopback_datagram_port = 10138;  // udp
    // The 127.0.0.N addresses LANA 0 may take, tried from first to last.
    std::uint8_t loopback_first = 1;
    std::uint8_t loopback_last = 254;

    // LANAs 1 and up, the host's IPv4 broadcast interfaces.
    std::uint16_t name_port = codec::kNameServicePort;
    std::uint16_t session_port = codec::kSessionServicePort;
    std::uint16_t datagram_port = codec::kDatagramServicePort;
    // false: enumerate LANA 0 only.
    bool host_interfaces = true;

    // Name service timers. Broadcast requests (registration, query) and
    // unicast requests (node status) are each sent `count` times, `timeout`
    // apart.
    std::chrono::milliseconds bcast_retry_timeout{250};
    int bcast_retry_count = 3;
    std::chrono::milliseconds ucast_retry_timeout{750};
    int ucast_retry_count = 3;
    std::chrono::milliseconds conflict_timer{1000};
    // Node status answers and positive query answers to any one source
    // address, per second once a burst of `reply_burst` is spent: a real
    // peer asks a few times a second at most, while every answer is a
    // datagram a spoofed request can aim at somebody else. 0 = no limit.
    unsigned reply_rate = 30;
    unsigned reply_burst = 30;

    // Session service.
    int ssn_retry_count = 4;  // retargets followed per call
    std::chrono::milliseconds ssn_close_timeout{30000};
    std::chrono::milliseconds ssn_keep_alive{0};  // 0 = never send keep-alives

    // NetBIOS scope appended to every encoded name ("" = none), dotted.
    std::string scope;

    // How names are registered and resolved (B: broadcast only; P: name
    // server only; M: broadcast, then the server; H: the server, then
    // broadcast) and the name servers (WINS) P, M and H use. Unset: H when
    // a name server is configured, B otherwise (what Windows peers expect
    // of a host with a server); NodeTypeInUse() says which.
    std::optional<NodeType> node_type;
    NameServer name_server;            // primary
    NameServer name_server_secondary;  // asked when the primary is silent
    // Requests to a name server: sent `count` times, `timeout` apart, before
    // the next server (or broadcast) is tried.
    std::chrono::milliseconds ns_retry_timeout{2000};
    int ns_retry_count = 3;
    // The longest a server's WAIT FOR ACKNOWLEDGEMENTs may hold one request,
    // counted from its first sending, whatever TTL they carry: enough for a
    // server to challenge a silent owner (3 x 5 s by the RFC's timers, 21.6 s
    // seen from nmbd), short enough that WACKs sprayed by another host
    // cannot hold an add for long.
    std::chrono::milliseconds ns_wack_limit{30000};
    // The TTL our registrations ask for; the server may grant less, and the
    // name is refreshed at half of what it granted.
    std::uint32_t ns_requested_ttl = 259200;
    // A name whose server was silent is offered to it again after this.
    std::chrono::milliseconds ns_recheck_interval{60000};
    // P, M and H nodes cache resolved names for their TTL, at most
    // cache_max_ttl; names nobody knew for negative_cache_ttl.
    std::chrono::milliseconds cache_max_ttl{600000};
    std::chrono::milliseconds negative_cache_ttl{5000};
    std::size_t cache_size = 256;

    // Node type, name servers and scope of one adapter, by interface name;
    // what is unset there comes from the fields above.
    struct AdapterOverride {
        std::optional<NodeType> node_type;
        std::optional<NameServer> name_server;
        std::optional<NameServer> name_server_secondary;
        std::optional<std::string> scope;
        // The LANA number korveld gives the interface, whatever it had.
        std::optional<std::uint8_t> lana;
    };
    std::map<std::string, AdapterOverride> adapters;

    NodeType NodeTypeInUse() const {
        if (node_type) return *node_type;
        return name_server.configured() || name_server_secondary.configured() ? NodeType::kH : NodeType::kB;
    }

    void Apply(const AdapterOverride &o) {
        if (o.node_type) node_type = *o.node_type;
        if (o.name_server) name_server = *o.name_server;
        if (o.name_server_secondary) name_server_secondary = *o.name_server_secondary;
        if (o.scope) scope = *o.scope;
    }
    // These settings with an adapter's overrides applied.
    Settings ForAdapter(const std::string &interface_name) const {
        Settings out = *this;
        if (auto it = adapters.find(interface_name); it != adapters.end()) out.Apply(it->second);
        return out;
    }

    // Limits used when NCBRESET leaves a callname byte at 0.
    std::uint8_t default_sessions = 16;
    std::uint8_t default_ncbs = 16;
    std::uint8_t default_names = 8;

    // What one client other than the process itself (korveld's programs)
    // may hold on one LANA at most, whatever its reset asked: pending NCBs,
    // names and sessions. Past them it gets NRC_NORES, so one client cannot
    // take what the others need of a shared node.
    std::size_t client_max_ncbs = 128;
    std::size_t client_max_names = 32;
    std::size_t client_max_sessions = 32;

    // Tests only: called on the network thread for every NCB a reset node is
    // about to route to a service. Returning true keeps the NCB pending in
    // the node untouched (until a reset cancels it), which lets the core be
    // tested without a service that blocks.
    std::function<bool(const NCB &)> hold_for_test;

    // Tests only: called on the network thread when the positive answer to an
    // incoming session request is on its way (its write started, its
    // completion not run yet), with a function that runs what the timer
    // limiting the wait for that request does when it fires. Calling it
    // there plays the timer winning the race against the write.
    std::function<void(const std::function<void()> &request_timer_fires)> answer_sent_for_test;
};

}  // namespace nbt
