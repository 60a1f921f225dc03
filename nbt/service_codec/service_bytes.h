// SPDX-License-Identifier: MIT
// The 64-bit ids of the service's messages, over the wire codec's reader
// and writer.
#pragma once

#include <cstdint>

#include "byte_reader.h"
#include "byte_writer.h"

namespace nbt::service {

inline void PutU64(codec::ByteWriter &writer, std::uint64_t value) {
    writer.U32(static_cast<std::uint32_t>(value >> 32));
    writer.U32(static_cast<std::uint32_t>(value));
}

inline std::uint64_t GetU64(codec::ByteReader &reader) {
    const std::uint64_t high = reader.U32();
    return high << 32 | reader.U32();
}

}  // namespace nbt::service
