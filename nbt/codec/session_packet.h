// SPDX-License-Identifier: MIT
// NetBIOS session service (TCP) packets: the 4-byte header and the control
// packets that set a session up. Pure functions over byte spans; every read
// is bounds-checked and a length from the wire is never trusted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "nbt_constants.h"

namespace nbt::codec {

using SessionName = std::array<std::uint8_t, 16>;

struct SessionHeader {
    SessionType type;
    std::uint32_t length;  // of the packet after the header, 0..131071
};

// Why a header was refused; anything but kOk means the stream is unusable.
enum class HeaderError { kOk, kShort, kUnknownType, kReservedFlags, kBadLength };

struct HeaderResult {
    HeaderError error;
    SessionHeader header;
};

// Encodes a header. Lengths above 131071 cannot be framed and are refused.
std::optional<std::array<std::uint8_t, kSessionHeaderSize>> EncodeSessionHeader(SessionType type,
                                                                                std::uint32_t length);

// Decodes the first four bytes of `bytes`. Control packets must carry the
// length their type demands (a request at least two names), so a broken peer
// is caught at the header rather than after reading its body.
HeaderResult DecodeSessionHeader(std::span<const std::uint8_t> bytes);

struct SessionRequest {
    SessionName called;
    SessionName calling;
    std::string called_scope;  // dot-separated labels, empty for no scope
};

// A whole SESSION REQUEST packet, header included: the two names in
// first-level encoding, each followed by the scope labels (empty scope: 72 bytes).
// Returns nothing when the scope cannot be encoded (a label longer than 63
// bytes, an empty label, or more than 255 bytes of encoded name).
std::optional<std::vector<std::uint8_t>> EncodeSessionRequest(const SessionName &called,
                                                              const SessionName &calling,
                                                              std::string_view scope = {});

// Decodes the body (after the header) of a SESSION REQUEST. The scope labels
// are checked and skipped; compression pointers are not allowed here.
std::optional<SessionRequest> DecodeSessionRequest(std::span<const std::uint8_t> body);

// Four-byte POSITIVE SESSION RESPONSE and KEEP ALIVE.
std::array<std::uint8_t, kSessionHeaderSize> EncodePositiveResponse();
std::array<std::uint8_t, kSessionHeaderSize> EncodeKeepAlive();

// Five-byte NEGATIVE SESSION RESPONSE and its decoder (body = the one byte).
std::array<std::uint8_t, kSessionHeaderSize + kNegativeBodySize> EncodeNegativeResponse(SessionRefusal code);
std::optional<std::uint8_t> DecodeNegativeResponse(std::span<const std::uint8_t> body);

struct Retarget {
    std::uint32_t address;  // IPv4, host order
    std::uint16_t port;
};

// Ten-byte SESSION RETARGET RESPONSE and its decoder (body = 6 bytes).
std::array<std::uint8_t, kSessionHeaderSize + kRetargetBodySize> EncodeRetarget(const Retarget &target);
std::optional<Retarget> DecodeRetarget(std::span<const std::uint8_t> body);

}  // namespace nbt::codec
