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

namespace nbt::codec {

using SessionName = std::array<std::uint8_t, 16>;

// Packet types of the session service.
enum class SessionType : std::uint8_t {
    kMessage = 0x00,
    kRequest = 0x81,
    kPositive = 0x82,
    kNegative = 0x83,
    kRetarget = 0x84,
    kKeepAlive = 0x85,
};

// Error codes of a NEGATIVE SESSION RESPONSE.
enum class SessionRefusal : std::uint8_t {
    kNotListeningOnCalled = 0x80,
    kNotListeningForCalling = 0x81,
    kCalledNotPresent = 0x82,
    kInsufficientResources = 0x83,
    kUnspecified = 0x8F,
};

constexpr std::size_t kSessionHeaderSize = 4;
// LENGTH is 16 bits plus the E (extension) bit of FLAGS.
constexpr std::uint32_t kSessionMaxLength = 0x1FFFF;
constexpr std::uint8_t kSessionFlagE = 0x01;

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
std::array<std::uint8_t, 5> EncodeNegativeResponse(SessionRefusal code);
std::optional<std::uint8_t> DecodeNegativeResponse(std::span<const std::uint8_t> body);

struct Retarget {
    std::uint32_t address;  // IPv4, host order
    std::uint16_t port;
};

// Ten-byte SESSION RETARGET RESPONSE and its decoder (body = 6 bytes).
std::array<std::uint8_t, 10> EncodeRetarget(const Retarget &target);
std::optional<Retarget> DecodeRetarget(std::span<const std::uint8_t> body);

}  // namespace nbt::codec
