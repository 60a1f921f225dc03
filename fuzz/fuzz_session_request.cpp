// SPDX-License-Identifier: MIT
// Any bytes as the body of a SESSION REQUEST; what decodes must encode back
// to the same bytes when it carries no scope.
#include <cstddef>
#include <cstdint>
#include <span>

#include "session_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const std::uint8_t> body(data, size);
    const auto request = nbt::codec::DecodeSessionRequest(body);
    if (!request || !request->called_scope.empty() || size != 68) return 0;
    const auto encoded = nbt::codec::EncodeSessionRequest(request->called, request->calling);
    if (!encoded || encoded->size() != 72) __builtin_trap();
    for (std::size_t i = 0; i < size; ++i)
        if ((*encoded)[i + 4] != data[i]) __builtin_trap();
    return 0;
}
