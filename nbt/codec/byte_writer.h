// SPDX-License-Identifier: MIT
// Big-endian writing of wire bytes, shared by every encoder: appends to a
// byte vector the caller owns.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace nbt::codec {

class ByteWriter {
public:
    // Room for a name packet up front: one allocation, not one per doubling.
    // A vector written before keeps its own growth.
    explicit ByteWriter(std::vector<std::uint8_t> &out) : out_(&out) {
        if (out.empty()) out.reserve(kTypicalPacket);
    }

    std::size_t size() const { return out_->size(); }

    void U8(std::uint8_t v) { out_->push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v >> 8));
        U8(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v >> 16));
        U16(static_cast<std::uint16_t>(v));
    }
    void Bytes(std::span<const std::uint8_t> bytes) { out_->insert(out_->end(), bytes.begin(), bytes.end()); }

private:
    static constexpr std::size_t kTypicalPacket = 128;
    std::vector<std::uint8_t> *out_;
};

// The first N bytes written, for the fixed-size packets; zeros past the end.
template <std::size_t N>
std::array<std::uint8_t, N> FixedBytes(const std::vector<std::uint8_t> &bytes) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

}  // namespace nbt::codec
