// SPDX-License-Identifier: MIT
#include "name_status.h"

#include <algorithm>

#include "byte_reader.h"
#include "byte_writer.h"

namespace nbt::codec {

namespace {

NodeStatistics ReadStatistics(ByteReader &in) {
    NodeStatistics s;
    const auto unit = in.Bytes(s.unit_id.size());
    std::copy(unit.begin(), unit.end(), s.unit_id.begin());
    s.jumpers = in.U8();
    s.test_result = in.U8();
    s.version = in.U16();
    s.period = in.U16();
    s.crcs = in.U16();
    s.alignment_errors = in.U16();
    s.collisions = in.U16();
    s.send_aborts = in.U16();
    s.good_sends = in.U32();
    s.good_receives = in.U32();
    s.retransmits = in.U16();
    s.no_resources = in.U16();
    s.free_command_blocks = in.U16();
    s.total_command_blocks = in.U16();
    s.max_total_command_blocks = in.U16();
    s.pending_sessions = in.U16();
    s.max_pending_sessions = in.U16();
    s.max_total_sessions = in.U16();
    s.session_packet_size = in.U16();
    return s;
}

void WriteStatistics(ByteWriter &out, const NodeStatistics &s) {
    out.Bytes(s.unit_id);
    out.U8(s.jumpers);
    out.U8(s.test_result);
    for (std::uint16_t v : {s.version, s.period, s.crcs, s.alignment_errors, s.collisions, s.send_aborts})
        out.U16(v);
    out.U32(s.good_sends);
    out.U32(s.good_receives);
    for (std::uint16_t v : {s.retransmits, s.no_resources, s.free_command_blocks, s.total_command_blocks,
                            s.max_total_command_blocks, s.pending_sessions, s.max_pending_sessions,
                            s.max_total_sessions, s.session_packet_size})
        out.U16(v);
}

}  // namespace

std::optional<NodeStatus> DecodeNodeStatusRdata(std::span<const std::uint8_t> rdata) {
    ByteReader in(rdata);
    const std::size_t count = in.U8();
    // Checked before anything is reserved for the names.
    if (!in.ok() || in.remaining() / kStatusEntrySize < count) return std::nullopt;
    NodeStatus status;
    status.names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        NodeStatusEntry entry;
        const auto name = in.Bytes(entry.name.size());
        std::copy(name.begin(), name.end(), entry.name.begin());
        entry.flags = in.U16();
        status.names.push_back(entry);
    }
    if (!in.ok()) return std::nullopt;

    // Some responders cut the statistics short; pad what is missing with zeros.
    std::array<std::uint8_t, kStatisticsSize> block{};
    const auto rest = in.Bytes(std::min(in.remaining(), kStatisticsSize));
    std::copy(rest.begin(), rest.end(), block.begin());
    ByteReader statistics(block);
    status.statistics = ReadStatistics(statistics);
    return status;
}

std::vector<std::uint8_t> EncodeNodeStatusRdata(const NodeStatus &status) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    const std::size_t count = std::min(status.names.size(), kMaxStatusNames);
    out.U8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        out.Bytes(status.names[i].name);
        out.U16(status.names[i].flags);
    }
    WriteStatistics(out, status.statistics);
    return bytes;
}

}  // namespace nbt::codec
