// SPDX-License-Identifier: MIT
#include "session_packet.h"

#include "byte_reader.h"
#include "byte_writer.h"
#include "name_encoding.h"

namespace nbt::codec {
namespace {

// The body length a control packet must carry; nullopt when it varies.
std::optional<std::uint32_t> RequiredLength(SessionType type) {
    switch (type) {
        case SessionType::kPositive:
        case SessionType::kKeepAlive:
            return 0;
        case SessionType::kNegative:
            return kNegativeBodySize;
        case SessionType::kRetarget:
            return kRetargetBodySize;
        default:
            return std::nullopt;
    }
}

bool KnownType(std::uint8_t type) {
    switch (static_cast<SessionType>(type)) {
        case SessionType::kMessage:
        case SessionType::kRequest:
        case SessionType::kPositive:
        case SessionType::kNegative:
        case SessionType::kRetarget:
        case SessionType::kKeepAlive:
            return true;
    }
    return false;
}

// A request carries two names, each at least the plain encoded name.
bool RequestLengthFits(std::uint32_t length) {
    return length >= 2 * kPlainEncodedName && length <= 2 * kMaxEncodedName;
}

// Built in place: every session message sends one, so no allocation.
std::array<std::uint8_t, kSessionHeaderSize> HeaderBytes(SessionType type, std::uint32_t length) {
    return {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>((length >> 16) & kSessionFlagE),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

void WriteSessionHeader(ByteWriter &out, SessionType type, std::uint32_t length) {
    out.Bytes(HeaderBytes(type, length));
}

// A control packet of a header and no body.
std::array<std::uint8_t, kSessionHeaderSize> BareHeader(SessionType type) {
    return HeaderBytes(type, 0);
}

// Reads one encoded name (no pointers), filling in the raw bytes and the scope.
bool ReadSessionName(ByteReader &in, SessionName &name, std::string *scope) {
    const auto decoded = ReadName(in, /*allow_pointers=*/false);
    if (!decoded) return false;
    name = decoded->raw;
    if (scope) *scope = decoded->scope;
    return true;
}

}  // namespace

std::optional<std::array<std::uint8_t, kSessionHeaderSize>> EncodeSessionHeader(SessionType type,
                                                                                std::uint32_t length) {
    if (length > kSessionMaxLength) return std::nullopt;
    return HeaderBytes(type, length);
}

HeaderResult DecodeSessionHeader(std::span<const std::uint8_t> bytes) {
    HeaderResult result{HeaderError::kShort, {SessionType::kMessage, 0}};
    ByteReader in(bytes);
    const std::uint8_t type = in.U8();
    const std::uint8_t flags = in.U8();
    const std::uint16_t length = in.U16();
    if (!in.ok()) return result;
    if (!KnownType(type)) {
        result.error = HeaderError::kUnknownType;
        return result;
    }
    if ((flags & ~kSessionFlagE) != 0) {
        result.error = HeaderError::kReservedFlags;
        return result;
    }
    result.header.type = static_cast<SessionType>(type);
    result.header.length = std::uint32_t{flags} << 16 | length;
    const auto required = RequiredLength(result.header.type);
    const bool bad_request =
        result.header.type == SessionType::kRequest && !RequestLengthFits(result.header.length);
    if ((required && result.header.length != *required) || bad_request) {
        result.error = HeaderError::kBadLength;
        return result;
    }
    result.error = HeaderError::kOk;
    return result;
}

std::optional<std::vector<std::uint8_t>> EncodeSessionRequest(const SessionName &called,
                                                              const SessionName &calling,
                                                              std::string_view scope) {
    std::vector<std::uint8_t> body;
    ByteWriter names(body);
    if (!WriteName(names, MakeName(called, std::string(scope))) ||
        !WriteName(names, MakeName(calling, std::string(scope))))
        return std::nullopt;
    if (body.size() > kSessionMaxLength) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    WriteSessionHeader(out, SessionType::kRequest, static_cast<std::uint32_t>(body.size()));
    out.Bytes(body);
    return bytes;
}

std::optional<SessionRequest> DecodeSessionRequest(std::span<const std::uint8_t> body) {
    SessionRequest request{};
    ByteReader in(body);
    if (!ReadSessionName(in, request.called, &request.called_scope)) return std::nullopt;
    if (!ReadSessionName(in, request.calling, nullptr)) return std::nullopt;
    if (!in.AtEnd()) return std::nullopt;
    return request;
}

std::array<std::uint8_t, kSessionHeaderSize> EncodePositiveResponse() {
    return BareHeader(SessionType::kPositive);
}

std::array<std::uint8_t, kSessionHeaderSize> EncodeKeepAlive() {
    return BareHeader(SessionType::kKeepAlive);
}

std::array<std::uint8_t, kSessionHeaderSize + kNegativeBodySize> EncodeNegativeResponse(SessionRefusal code) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    WriteSessionHeader(out, SessionType::kNegative, kNegativeBodySize);
    out.U8(static_cast<std::uint8_t>(code));
    return FixedBytes<kSessionHeaderSize + kNegativeBodySize>(bytes);
}

std::optional<std::uint8_t> DecodeNegativeResponse(std::span<const std::uint8_t> body) {
    ByteReader in(body);
    const std::uint8_t code = in.U8();
    if (!in.AtEnd()) return std::nullopt;
    return code;
}

std::array<std::uint8_t, kSessionHeaderSize + kRetargetBodySize> EncodeRetarget(const Retarget &target) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    WriteSessionHeader(out, SessionType::kRetarget, kRetargetBodySize);
    out.U32(target.address);
    out.U16(target.port);
    return FixedBytes<kSessionHeaderSize + kRetargetBodySize>(bytes);
}

std::optional<Retarget> DecodeRetarget(std::span<const std::uint8_t> body) {
    ByteReader in(body);
    Retarget target{};
    target.address = in.U32();
    target.port = in.U16();
    if (!in.AtEnd()) return std::nullopt;
    return target;
}

}  // namespace nbt::codec
