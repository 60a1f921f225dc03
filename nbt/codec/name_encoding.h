// SPDX-License-Identifier: MIT
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

#include "byte_reader.h"
#include "byte_writer.h"
#include "nbt_constants.h"

namespace nbt::codec {

// A name exactly as the NCB holds it: 16 bytes, no case folding, no padding
// added or removed. The scope is dotted ("corp.example"), empty for none.
struct NetbiosName {
    std::array<std::uint8_t, 16> raw{};
    std::string scope;

    bool operator==(const NetbiosName &) const = default;
};

NetbiosName MakeName(std::span<const std::uint8_t> raw16, std::string scope = {});
NetbiosName MakeName(const char *text16, std::string scope = {});

// True when the scope can be encoded: labels of 1..63 bytes joined by dots
// and a whole encoded name of at most 255 bytes.
bool IsValidScope(const std::string &scope);

// Writes the encoded name. Returns false (and writes nothing) for a scope
// that cannot be encoded.
bool WriteName(ByteWriter &out, const NetbiosName &name);
bool AppendEncodedName(std::vector<std::uint8_t> &out, const NetbiosName &name);
std::size_t EncodedNameSize(const NetbiosName &name);

// Reads the name at the reader's position, following compression pointers
// (each must point strictly before the segment that holds it, so no chain
// can loop; offsets count from the start of the reader's bytes). On success
// the reader moves past the name as it sits at its original place; on any
// fault the reader is failed. Rejects letters outside 'A'..'P', a first
// label other than 32 bytes, reserved label types and anything running past
// the bytes. Where pointers have no place (a session request),
// `allow_pointers` = false refuses them too.
std::optional<NetbiosName> ReadName(ByteReader &in, bool allow_pointers = true);
// The same over a whole packet from `pos`, which moves past the name on success.
std::optional<NetbiosName> DecodeName(std::span<const std::uint8_t> packet, std::size_t &pos,
                                      bool allow_pointers = true);

}  // namespace nbt::codec
