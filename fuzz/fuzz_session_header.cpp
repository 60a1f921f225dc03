// SPDX-License-Identifier: MIT
// Any bytes as the start of a session packet: the header, then the body
// decoder its type selects.
#include <cstddef>
#include <cstdint>
#include <span>

#include "session_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto result = nbt::codec::DecodeSessionHeader(bytes);
    if (result.error != nbt::codec::HeaderError::kOk) return 0;
    if (result.header.length > nbt::codec::kSessionMaxLength) __builtin_trap();
    const auto body = bytes.subspan(nbt::codec::kSessionHeaderSize);
    if (body.size() < result.header.length) return 0;
    const auto exact = body.first(result.header.length);
    switch (result.header.type) {
        case nbt::codec::SessionType::kNegative:
            (void)nbt::codec::DecodeNegativeResponse(exact);
            break;
        case nbt::codec::SessionType::kRetarget:
            (void)nbt::codec::DecodeRetarget(exact);
            break;
        case nbt::codec::SessionType::kRequest:
            (void)nbt::codec::DecodeSessionRequest(exact);
            break;
        default:
            break;
    }
    return 0;
}
