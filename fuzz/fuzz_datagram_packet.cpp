// SPDX-License-Identifier: MIT
// Any bytes as a datagram-service packet. What decodes must encode back to a
// packet that decodes to the same fields. The same bytes are then read as a
// run of packets from a few senders, fed to one reassembly with small
// bounds while time passes: whatever comes, the bounds hold and a datagram
// that comes out whole fits its length field.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "datagram_packet.h"
#include "datagram_reassembly.h"

namespace {

void RoundTrip(std::span<const std::uint8_t> bytes) {
    const auto decoded = nbt::codec::DecodeDatagram(bytes);
    if (decoded.fault != nbt::codec::DatagramFault::kOk || !decoded.packet.IsData()) return;
    const auto &packet = decoded.packet;
    if (packet.data.data() < bytes.data() ||
        packet.data.data() + packet.data.size() > bytes.data() + bytes.size())
        __builtin_trap();
    const auto rebuilt = nbt::codec::BuildDatagram(packet.header, packet.offset, packet.source,
                                                   packet.destination, packet.data);
    const auto again = nbt::codec::DecodeDatagram(rebuilt);
    if (again.fault != nbt::codec::DatagramFault::kOk) __builtin_trap();
    if (again.packet.source != packet.source || again.packet.destination != packet.destination ||
        again.packet.offset != packet.offset || again.packet.header.id != packet.header.id ||
        !std::equal(again.packet.data.begin(), again.packet.data.end(), packet.data.begin(),
                    packet.data.end()))
        __builtin_trap();
}

// Records of [sender and time byte][length, 2 bytes][packet].
void Reassemble(std::span<const std::uint8_t> bytes) {
    const nbt::ReassemblyBounds bounds{std::chrono::milliseconds(2000), 2048, 8, 6, 3};
    nbt::DatagramReassembly reassembly(bounds);
    auto now = nbt::DatagramReassembly::Clock::time_point{};
    while (bytes.size() >= 3) {
        const std::uint8_t control = bytes[0];
        const std::size_t length = std::min<std::size_t>(bytes.size() - 3, (bytes[1] << 8) | bytes[2]);
        const auto record = bytes.subspan(3, length);
        bytes = bytes.subspan(3 + length);
        now += std::chrono::milliseconds(100 * (control >> 3));
        if (control & 0x80) reassembly.Expire(now);
        const auto decoded = nbt::codec::DecodeDatagram(record);
        if (decoded.fault != nbt::codec::DatagramFault::kOk || !decoded.packet.IsData()) continue;
        const nbt::DatagramSender from{0x7F000000u + (control & 7), 138};
        const auto whole = reassembly.Add(decoded.packet, from, now);
        if (whole && whole->data.size() > 0xFFFF) __builtin_trap();
        if (reassembly.partial_count() > bounds.max_partials || reassembly.held_bytes() > bounds.max_bytes ||
            reassembly.held_bytes() < reassembly.partial_count() * nbt::kPartialCost)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    RoundTrip(bytes);
    Reassemble(bytes);
    return 0;
}
