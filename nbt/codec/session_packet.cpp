#include "session_packet.h"

#include <algorithm>

#include "name_encoding.h"

namespace nbt::codec {
namespace {

constexpr std::size_t kEncodedNameSize = 32;
constexpr std::size_t kMaxWireName = 255;

std::uint32_t RequiredLength(SessionType type) {
    switch (type) {
        case SessionType::kPositive:
        case SessionType::kKeepAlive:
            return 0;
        case SessionType::kNegative:
            return 1;
        case SessionType::kRetarget:
            return 6;
        default:
            return 0xFFFFFFFF;  // variable
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

// Appends `name` in first-level encoding followed by the scope labels and the
// terminating zero. False when the scope is not a valid label sequence.
bool AppendName(std::vector<std::uint8_t> &out, const SessionName &name, std::string_view scope) {
    return AppendEncodedName(out, MakeName(name, std::string(scope)));
}

// Reads one encoded name at `pos`, advancing it past the terminating zero.
bool ReadName(std::span<const std::uint8_t> body, std::size_t &pos, SessionName &name, std::string *scope) {
    const auto decoded = DecodeName(body, pos, /*allow_pointers=*/false);
    if (!decoded) return false;
    name = decoded->raw;
    if (scope) *scope = decoded->scope;
    return true;
}

}  // namespace

std::optional<std::array<std::uint8_t, kSessionHeaderSize>> EncodeSessionHeader(SessionType type,
                                                                                std::uint32_t length) {
    if (length > kSessionMaxLength) return std::nullopt;
    return std::array<std::uint8_t, kSessionHeaderSize>{
        static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

HeaderResult DecodeSessionHeader(std::span<const std::uint8_t> bytes) {
    HeaderResult result{HeaderError::kShort, {SessionType::kMessage, 0}};
    if (bytes.size() < kSessionHeaderSize) return result;
    if (!KnownType(bytes[0])) {
        result.error = HeaderError::kUnknownType;
        return result;
    }
    if ((bytes[1] & ~kSessionFlagE) != 0) {
        result.error = HeaderError::kReservedFlags;
        return result;
    }
    result.header.type = static_cast<SessionType>(bytes[0]);
    result.header.length = (static_cast<std::uint32_t>(bytes[1] & kSessionFlagE) << 16) |
                           (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
    const std::uint32_t required = RequiredLength(result.header.type);
    const bool bad_request =
        result.header.type == SessionType::kRequest &&
        (result.header.length < 2 * (kEncodedNameSize + 2) || result.header.length > 2 * kMaxWireName);
    if ((required != 0xFFFFFFFF && result.header.length != required) || bad_request) {
        result.error = HeaderError::kBadLength;
        return result;
    }
    result.error = HeaderError::kOk;
    return result;
}

std::optional<std::vector<std::uint8_t>> EncodeSessionRequest(const SessionName &called,
                                                              const SessionName &calling,
                                                              std::string_view scope) {
    std::vector<std::uint8_t> out(kSessionHeaderSize, 0);
    if (!AppendName(out, called, scope) || !AppendName(out, calling, scope)) return std::nullopt;
    const auto header = EncodeSessionHeader(SessionType::kRequest,
                                            static_cast<std::uint32_t>(out.size() - kSessionHeaderSize));
    if (!header) return std::nullopt;
    std::copy(header->begin(), header->end(), out.begin());
    return out;
}

std::optional<SessionRequest> DecodeSessionRequest(std::span<const std::uint8_t> body) {
    SessionRequest request{};
    std::size_t pos = 0;
    if (!ReadName(body, pos, request.called, &request.called_scope)) return std::nullopt;
    if (!ReadName(body, pos, request.calling, nullptr)) return std::nullopt;
    if (pos != body.size()) return std::nullopt;
    return request;
}

std::array<std::uint8_t, kSessionHeaderSize> EncodePositiveResponse() {
    return {static_cast<std::uint8_t>(SessionType::kPositive), 0, 0, 0};
}

std::array<std::uint8_t, kSessionHeaderSize> EncodeKeepAlive() {
    return {static_cast<std::uint8_t>(SessionType::kKeepAlive), 0, 0, 0};
}

std::array<std::uint8_t, 5> EncodeNegativeResponse(SessionRefusal code) {
    return {static_cast<std::uint8_t>(SessionType::kNegative), 0, 0, 1, static_cast<std::uint8_t>(code)};
}

std::optional<std::uint8_t> DecodeNegativeResponse(std::span<const std::uint8_t> body) {
    if (body.size() != 1) return std::nullopt;
    return body[0];
}

std::array<std::uint8_t, 10> EncodeRetarget(const Retarget &target) {
    return {static_cast<std::uint8_t>(SessionType::kRetarget),
            0,
            0,
            6,
            static_cast<std::uint8_t>(target.address >> 24),
            static_cast<std::uint8_t>(target.address >> 16),
            static_cast<std::uint8_t>(target.address >> 8),
            static_cast<std::uint8_t>(target.address),
            static_cast<std::uint8_t>(target.port >> 8),
            static_cast<std::uint8_t>(target.port)};
}

std::optional<Retarget> DecodeRetarget(std::span<const std::uint8_t> body) {
    if (body.size() != 6) return std::nullopt;
    Retarget target{};
    target.address = (static_cast<std::uint32_t>(body[0]) << 24) |
                     (static_cast<std::uint32_t>(body[1]) << 16) |
                     (static_cast<std::uint32_t>(body[2]) << 8) | body[3];
    target.port = static_cast<std::uint16_t>((body[4] << 8) | body[5]);
    return target;
}

}  // namespace nbt::codec
