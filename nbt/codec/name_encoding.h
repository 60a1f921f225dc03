// First-level encoding of NetBIOS names (16 raw bytes plus an optional scope)
// as they appear in name-service and session-service packets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nbt::codec {

// A name exactly as the NCB holds it: 16 bytes, no case folding, no padding
// added or removed. The scope is dotted ("corp.example"), empty for none.
struct NetbiosName {
    std::array<std::uint8_t, 16> raw{};
    std::string scope;

    bool operator==(const NetbiosName &) const = default;
};

// Longest encoded name the DNS rules allow (length bytes included).
constexpr std::size_t kMaxEncodedName = 255;
// Encoded size of a name without scope: 0x20, 32 letters, terminating 0x00.
constexpr std::size_t kPlainEncodedName = 34;

NetbiosName MakeName(std::span<const std::uint8_t> raw16, std::string scope = {});
NetbiosName MakeName(const char *text16, std::string scope = {});

// True when the scope can be encoded: labels of 1..63 bytes joined by dots
// and a whole encoded name of at most 255 bytes.
bool IsValidScope(const std::string &scope);

// Appends the encoded name. Returns false (and appends nothing) for a scope
// that cannot be encoded.
bool AppendEncodedName(std::vector<std::uint8_t> &out, const NetbiosName &name);
std::size_t EncodedNameSize(const NetbiosName &name);

// Decodes the name starting at `pos` in `packet`, following compression
// pointers (each must point strictly before the segment that holds it, so
// no chain can loop). On success `pos` moves past the name as it sits at its
// original place. Rejects letters outside 'A'..'P', a first label other than
// 32 bytes, reserved label types and anything running past the packet.
// Where pointers have no place (a session request), `allow_pointers` = false
// refuses them too.
std::optional<NetbiosName> DecodeName(std::span<const std::uint8_t> packet, std::size_t &pos,
                                      bool allow_pointers = true);

}  // namespace nbt::codec
