// SPDX-License-Identifier: MIT
#include "name_requests.h"

#include <utility>

#include "node.h"

namespace nbt {

codec::NetbiosName NameRequests::WireName(const NetbiosName &name) const {
    return codec::MakeName(name, node_.settings().scope);
}

codec::NbAddress NameRequests::Own(bool group) const {
    const auto ont = static_cast<std::uint16_t>(node_.settings().NodeTypeInUse()) << codec::kNbOntShift;
    return {static_cast<std::uint16_t>((group ? codec::kNbGroup : 0) | ont), node_.address().to_uint()};
}

NameRequests::Request NameRequests::ToSegment(std::vector<std::uint8_t> bytes, codec::NameOpcode opcode,
                                              int count) const {
    Request request;
    request.bytes = std::move(bytes);
    request.to = node_.broadcast_endpoint();
    request.opcode = opcode;
    request.count = count;
    request.interval = node_.settings().bcast_retry_timeout;
    return request;
}

NameRequests::Request NameRequests::ToServer(std::vector<std::uint8_t> bytes, const Endpoint &server,
                                             codec::NameOpcode opcode, int count) const {
    Request request;
    request.bytes = std::move(bytes);
    request.to = server;
    request.peer = server.address().to_v4();
    request.peer_port = server.port();
    request.opcode = opcode;
    request.count = count;
    request.interval = node_.settings().ns_retry_timeout;
    return request;
}

NameRequests::Request NameRequests::Registration(std::uint16_t id, const NetbiosName &name,
                                                 bool group) const {
    return ToSegment(
        codec::BuildClaimRequest(id, codec::kRegistrationRequestFlags, WireName(name), Own(group), 0),
        codec::NameOpcode::kRegistration, node_.settings().bcast_retry_count);
}

// As a B-node's: its NB_FLAGS carry the group bit alone.
NameRequests::Request NameRequests::Release(std::uint16_t id, const NetbiosName &name, bool group,
                                            int count) const {
    return ToSegment(codec::BuildReleaseRequest(id, WireName(name), group, node_.address().to_uint()),
                     codec::NameOpcode::kRelease, count);
}

NameRequests::Request NameRequests::Query(std::uint16_t id, const NetbiosName &name) const {
    return ToSegment(codec::BuildQueryRequest(id, WireName(name), true), codec::NameOpcode::kQuery,
                     node_.settings().bcast_retry_count);
}

// "*": a node status request asks for every name a node holds.
codec::NetbiosName NameRequests::Star() const {
    codec::NetbiosName star;
    star.raw[0] = '*';
    star.scope = node_.settings().scope;
    return star;
}

NameRequests::Request NameRequests::StatusOfAll(std::uint16_t id) const {
    return ToSegment(codec::BuildNodeStatusRequest(id, Star(), true), codec::NameOpcode::kQuery,
                     node_.settings().bcast_retry_count);
}

NameRequests::Request NameRequests::Status(std::uint16_t id, asio::ip::address_v4 peer) const {
    Request request;
    request.bytes = codec::BuildNodeStatusRequest(id, Star(), false);
    request.to = {peer, node_.name_port()};
    request.peer = peer;
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_.settings().ucast_retry_count;
    request.interval = node_.settings().ucast_retry_timeout;
    return request;
}

NameRequests::Request NameRequests::ServerRegistration(std::uint16_t id, const NetbiosName &name, bool group,
                                                       const Endpoint &server, bool refresh,
                                                       bool multihomed) const {
    const auto &settings = node_.settings();
    const codec::NetbiosName wire = WireName(name);
    const auto [flags, opcode] =
        refresh ? std::pair{codec::kRefreshRequestFlags, codec::NameOpcode::kRefresh}
        : multihomed
            ? std::pair{codec::kMultihomedRegistrationFlags, codec::NameOpcode::kMultiHomedRegistration}
            : std::pair{codec::kServerRegistrationFlags, codec::NameOpcode::kRegistration};
    Request request =
        ToServer(codec::BuildClaimRequest(id, flags, wire, Own(group), settings.ns_requested_ttl), server,
                 opcode, settings.ns_retry_count);
    // Servers answer a refresh and a multihomed registration as a registration.
    if (opcode != codec::NameOpcode::kRegistration) request.also_opcode = codec::NameOpcode::kRegistration;
    request.wack_name = wire;
    request.wack_limit = settings.ns_wack_limit;
    return request;
}

NameRequests::Request NameRequests::ServerRelease(std::uint16_t id, const NetbiosName &name, bool group,
                                                  const Endpoint &server, int count) const {
    return ToServer(codec::BuildClaimRequest(id, codec::kServerReleaseFlags, WireName(name), Own(group), 0),
                    server, codec::NameOpcode::kRelease, count);
}

NameRequests::Request NameRequests::ServerQuery(std::uint16_t id, const NetbiosName &name,
                                                const Endpoint &server) const {
    return ToServer(codec::BuildServerQueryRequest(id, WireName(name)), server, codec::NameOpcode::kQuery,
                    node_.settings().ns_retry_count);
}

}  // namespace nbt
