// SPDX-License-Identifier: MIT
// The packets of the datagram service (RFC 1002 4.4): the three data packets
// (direct unique, direct group, broadcast) and the datagram error. The query
// packets are for a datagram distribution server, which a B-node never
// talks to: they decode as kNotForUs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "name_encoding.h"
#include "nbt_constants.h"

namespace nbt::codec {

struct DatagramHeader {
    DatagramType type = DatagramType::kDirectUnique;
    std::uint8_t flags = kDatagramWholeFlags;
    std::uint16_t id = 0;
    std::uint32_t source_ip = 0;
    std::uint16_t source_port = 0;

    bool more() const { return flags & kDatagramMore; }
    bool first() const { return flags & kDatagramFirst; }
};

struct DatagramPacket {
    DatagramHeader header;
    // Data packets.
    std::uint16_t offset = 0;  // PACKET_OFFSET: where this piece sits in the whole datagram
    NetbiosName source;
    NetbiosName destination;
    std::span<const std::uint8_t> data;  // into the decoded bytes
    // Datagram error.
    DatagramError error = DatagramError::kNameNotPresent;

    bool IsData() const {
        return header.type == DatagramType::kDirectUnique || header.type == DatagramType::kDirectGroup ||
               header.type == DatagramType::kBroadcast;
    }
};

enum class DatagramFault : std::uint8_t {
    kOk,
    kTruncated,           // shorter than its header, or than DGM_LENGTH says
    kBadLength,           // DGM_LENGTH smaller than the two names it must cover
    kBadSourceName,       // answered with error 0x83 when it was meant for us
    kBadDestinationName,  // error 0x84
    kUnknownType,
    kNotForUs,  // a query packet of the distribution server
};

struct DatagramDecode {
    DatagramFault fault = DatagramFault::kOk;
    DatagramPacket packet;  // the header is filled whenever it could be read
};

// Decodes one packet. DGM_LENGTH must lie within the bytes; bytes after it
// are ignored (peers pad). The names allow no compression pointers.
DatagramDecode DecodeDatagram(std::span<const std::uint8_t> bytes);

// A data packet: header, DGM_LENGTH, PACKET_OFFSET, both names, data. Empty
// when a name's scope cannot be encoded or the packet would not fit the
// 16-bit length.
std::vector<std::uint8_t> BuildDatagram(const DatagramHeader &header, std::uint16_t offset,
                                        const NetbiosName &source, const NetbiosName &destination,
                                        std::span<const std::uint8_t> data);
std::vector<std::uint8_t> BuildDatagramError(const DatagramHeader &header, DatagramError error);

}  // namespace nbt::codec
