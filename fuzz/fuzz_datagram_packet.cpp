// Any bytes as a datagram-service packet. What decodes must encode back to a
// packet that decodes to the same fields.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "datagram_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto decoded = nbt::codec::DecodeDatagram(bytes);
    if (decoded.fault != nbt::codec::DatagramFault::kOk || !decoded.packet.IsData()) return 0;
    const auto &packet = decoded.packet;
    if (packet.data.data() < data || packet.data.data() + packet.data.size() > data + size) __builtin_trap();
    const auto rebuilt = nbt::codec::BuildDatagram(packet.header, packet.offset, packet.source,
                                                   packet.destination, packet.data);
    const auto again = nbt::codec::DecodeDatagram(rebuilt);
    if (again.fault != nbt::codec::DatagramFault::kOk) __builtin_trap();
    if (again.packet.source != packet.source || again.packet.destination != packet.destination ||
        again.packet.offset != packet.offset || again.packet.header.id != packet.header.id ||
        !std::equal(again.packet.data.begin(), again.packet.data.end(), packet.data.begin(),
                    packet.data.end()))
        __builtin_trap();
    return 0;
}
