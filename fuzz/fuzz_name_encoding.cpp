// SPDX-License-Identifier: MIT
// Encoded NetBIOS names with compression pointers. The first byte picks the
// offset the name starts at, so pointers can reach back into the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "name_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    std::span<const std::uint8_t> packet{data + 1, size - 1};
    std::size_t start = data[0] % (packet.size() + 1);
    std::size_t pos = start;
    auto name = nbt::codec::DecodeName(packet, pos);
    if (!name) return 0;
    if (pos <= start || pos > packet.size()) std::abort();
    if (nbt::codec::EncodedNameSize(*name) > nbt::codec::kMaxEncodedName) std::abort();
    return 0;
}
