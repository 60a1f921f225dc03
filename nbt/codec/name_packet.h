// SPDX-License-Identifier: MIT
// Name-service packets (UDP 137): header, questions and resource records,
// decoded from and encoded to byte spans. Pure functions, no sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "name_encoding.h"
#include "nbt_constants.h"

namespace nbt::codec {

struct NameHeader {
    std::uint16_t trn_id = 0;
    std::uint16_t flags = 0;
    std::uint16_t qdcount = 0;
    std::uint16_t ancount = 0;
    std::uint16_t nscount = 0;
    std::uint16_t arcount = 0;

    bool IsResponse() const { return flags & kFlagResponse; }
    NameOpcode Opcode() const { return static_cast<NameOpcode>((flags >> kOpcodeShift) & kOpcodeMask); }
    NameRcode Rcode() const { return static_cast<NameRcode>(flags & kRcodeMask); }
    bool IsBroadcast() const { return flags & kFlagBroadcast; }
};

struct NameQuestion {
    NetbiosName name;
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
};

struct NameRecord {
    NetbiosName name;
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
    std::uint32_t ttl = 0;
    std::vector<std::uint8_t> rdata;
};

struct NamePacket {
    NameHeader header;
    std::vector<NameQuestion> questions;
    std::vector<NameRecord> answers;
    std::vector<NameRecord> authority;
    std::vector<NameRecord> additional;
};

// One NB_FLAGS + address pair of NB RDATA. The address is in host order.
struct NbAddress {
    std::uint16_t flags = 0;
    std::uint32_t ipv4 = 0;
    bool operator==(const NbAddress &) const = default;
};

// Decodes the 12-byte header alone, so a receiver can judge the counts
// before it decodes (and allocates for) any record. Null when the bytes are
// too short or the counts ask for more questions and records than the
// bytes could hold even with every name a 2-byte pointer.
std::optional<NameHeader> DecodeNameHeader(std::span<const std::uint8_t> bytes);

// Decodes a whole packet. Every count is checked against the bytes that are
// there, the header's first; trailing bytes after the last record are
// tolerated (peers pad).
std::optional<NamePacket> DecodeNamePacket(std::span<const std::uint8_t> bytes);

// NB RDATA: a whole number of 6-byte entries, at least one.
std::optional<std::vector<NbAddress>> DecodeNbRdata(std::span<const std::uint8_t> rdata);

// Builders of what a B-node sends. Each returns an empty vector only if the
// name's scope cannot be encoded.
std::vector<std::uint8_t> BuildRegistrationRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                                   std::uint32_t ipv4);
std::vector<std::uint8_t> BuildReleaseRequest(std::uint16_t trn_id, const NetbiosName &name, bool group,
                                              std::uint32_t ipv4);
// Registration, refresh or release with the flags word, NB_FLAGS and TTL
// given: what P, M and H nodes send (to their server, and M/H by broadcast).
std::vector<std::uint8_t> BuildClaimRequest(std::uint16_t trn_id, std::uint16_t flags,
                                            const NetbiosName &name, const NbAddress &address,
                                            std::uint32_t ttl);
std::vector<std::uint8_t> BuildQueryRequest(std::uint16_t trn_id, const NetbiosName &name, bool broadcast);
// A query to a name server: unicast with RD, which servers want before they
// answer for names other nodes registered.
std::vector<std::uint8_t> BuildServerQueryRequest(std::uint16_t trn_id, const NetbiosName &name);
std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t trn_id, const NetbiosName &name,
                                                 bool broadcast);
std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name, const NbAddress &address);
// The same with one entry per address (a host holding the name on several
// interfaces); empty when there is none or too many for RDLENGTH.
std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name,
                                                     std::span<const NbAddress> addresses);
std::vector<std::uint8_t> BuildNegativeQueryResponse(std::uint16_t trn_id, std::uint16_t request_flags,
                                                     const NetbiosName &name);
// The defence (ACT_ERR) and the conflict demand (CFT_ERR) share a layout: the
// RR carries the offender's own NB RDATA back to it.
std::vector<std::uint8_t> BuildRegistrationRefusal(std::uint16_t trn_id, const NetbiosName &name,
                                                   const NbAddress &offender, NameRcode rcode);
// A name server's answers: a registration (or refresh) granted for `ttl`
// or refused with `rcode`, the RDATA echoed; a WAIT FOR ACKNOWLEDGEMENT
// whose RDATA is the request's flags word.
std::vector<std::uint8_t> BuildRegistrationResponse(std::uint16_t trn_id, const NetbiosName &name,
                                                    const NbAddress &address, std::uint32_t ttl,
                                                    NameRcode rcode);
std::vector<std::uint8_t> BuildWack(std::uint16_t trn_id, const NetbiosName &name,
                                    std::uint16_t request_flags, std::uint32_t ttl);
std::vector<std::uint8_t> BuildNodeStatusResponse(std::uint16_t trn_id, const NetbiosName &name,
                                                  std::span<const std::uint8_t> rdata);

}  // namespace nbt::codec
