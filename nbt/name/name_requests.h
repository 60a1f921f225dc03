// SPDX-License-Identifier: MIT
// Every request the name service sends, built in one place: the bytes, where
// they go, whose answers count and how often they are sent. The node's
// settings are read as each request is built, so a request always follows
// the settings of the moment it starts.
#pragma once

#include <asio.hpp>
#include <cstdint>

#include "name_exchanges.h"
#include "name_packet.h"
#include "netbios_name.h"

namespace nbt {

class Node;

class NameRequests {
public:
    using Request = NameExchanges::Request;
    using Endpoint = asio::ip::udp::endpoint;

    // The node must outlive this.
    explicit NameRequests(const Node &node) : node_(node) {}

    codec::NetbiosName WireName(const NetbiosName &name) const;

    // To the segment. The bytes of every request carry `id`.
    Request Registration(std::uint16_t id, const NetbiosName &name, bool group) const;
    Request Release(std::uint16_t id, const NetbiosName &name, bool group, int count) const;
    Request Query(std::uint16_t id, const NetbiosName &name) const;
    // Node status of "*" from whoever answers.
    Request StatusOfAll(std::uint16_t id) const;

    // Node status of "*" at one node's name port.
    Request Status(std::uint16_t id, asio::ip::address_v4 peer) const;

    // To a name server at `server`: only it may answer, from that port. A
    // registration or refresh may be held by its WACKs.
    // multihomed: the host holds the name on another adapter too.
    Request ServerRegistration(std::uint16_t id, const NetbiosName &name, bool group, const Endpoint &server,
                               bool refresh, bool multihomed) const;
    Request ServerRelease(std::uint16_t id, const NetbiosName &name, bool group, const Endpoint &server,
                          int count) const;
    Request ServerQuery(std::uint16_t id, const NetbiosName &name, const Endpoint &server) const;

    // Our NB_FLAGS and address: the group bit and our node type.
    codec::NbAddress Own(bool group) const;

private:
    Request ToSegment(std::vector<std::uint8_t> bytes, codec::NameOpcode opcode, int count) const;
    Request ToServer(std::vector<std::uint8_t> bytes, const Endpoint &server, codec::NameOpcode opcode,
                     int count) const;
    codec::NetbiosName Star() const;

    const Node &node_;
};

}  // namespace nbt
