// SPDX-License-Identifier: MIT
#include "datagram_packet.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace nbt::codec {
namespace {

void WriteHeader(ByteWriter &out, const DatagramHeader &header) {
    out.U8(static_cast<std::uint8_t>(header.type));
    out.U8(header.flags);
    out.U16(header.id);
    out.U32(header.source_ip);
    out.U16(header.source_port);
}

}  // namespace

DatagramDecode DecodeDatagram(std::span<const std::uint8_t> bytes) {
    DatagramDecode result;
    ByteReader in(bytes);
    DatagramHeader &header = result.packet.header;
    const std::uint8_t type = in.U8();
    header.flags = in.U8();
    header.id = in.U16();
    header.source_ip = in.U32();
    header.source_port = in.U16();
    if (!in.ok()) return {DatagramFault::kTruncated, {}};
    header.type = static_cast<DatagramType>(type);

    switch (header.type) {
        case DatagramType::kDirectUnique:
        case DatagramType::kDirectGroup:
        case DatagramType::kBroadcast:
            break;
        case DatagramType::kError: {
            const std::uint8_t code = in.U8();
            if (!in.ok()) return {DatagramFault::kTruncated, result.packet};
            result.packet.error = static_cast<DatagramError>(code);
            return result;
        }
        case DatagramType::kQueryRequest:
        case DatagramType::kPositiveQuery:
        case DatagramType::kNegativeQuery:
            result.fault = DatagramFault::kNotForUs;
            return result;
        default:
            result.fault = DatagramFault::kUnknownType;
            return result;
    }

    const std::uint16_t length = in.U16();
    result.packet.offset = in.U16();
    if (!in.ok()) return {DatagramFault::kTruncated, result.packet};
    if (length > in.remaining()) {
        result.fault = DatagramFault::kTruncated;
        return result;
    }
    if (length < 2 * kPlainEncodedName) {
        result.fault = DatagramFault::kBadLength;
        return result;
    }
    // Everything below reads inside DGM_LENGTH only.
    ByteReader body(bytes.subspan(in.pos(), length));
    auto source = ReadName(body, /*allow_pointers=*/false);
    if (!source) {
        result.fault = DatagramFault::kBadSourceName;
        return result;
    }
    auto destination = ReadName(body, /*allow_pointers=*/false);
    if (!destination) {
        result.fault = DatagramFault::kBadDestinationName;
        return result;
    }
    result.packet.source = std::move(*source);
    result.packet.destination = std::move(*destination);
    result.packet.data = body.Bytes(body.remaining());
    return result;
}

std::vector<std::uint8_t> BuildDatagram(const DatagramHeader &header, std::uint16_t offset,
                                        const NetbiosName &source, const NetbiosName &destination,
                                        std::span<const std::uint8_t> data) {
    if (!IsValidScope(source.scope) || !IsValidScope(destination.scope)) return {};
    const std::size_t length = EncodedNameSize(source) + EncodedNameSize(destination) + data.size();
    if (length > 0xFFFF) return {};
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kDatagramDataHeaderSize + length);
    ByteWriter out(bytes);
    WriteHeader(out, header);
    out.U16(static_cast<std::uint16_t>(length));
    out.U16(offset);
    WriteName(out, source);
    WriteName(out, destination);
    out.Bytes(data);
    return bytes;
}

std::vector<std::uint8_t> BuildDatagramError(const DatagramHeader &header, DatagramError error) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    DatagramHeader copy = header;
    copy.type = DatagramType::kError;
    WriteHeader(out, copy);
    out.U8(static_cast<std::uint8_t>(error));
    return bytes;
}

}  // namespace nbt::codec
