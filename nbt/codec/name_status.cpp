#include "name_status.h"

#include <algorithm>

#include "name_bytes.h"

namespace nbt::codec {

namespace {

WORD Clamp16(std::size_t v) {
    return static_cast<WORD>(std::min<std::size_t>(v, 0xFFFF));
}

}  // namespace

std::optional<NodeStatus> DecodeNodeStatusRdata(std::span<const std::uint8_t> rdata) {
    NameByteReader reader(rdata);
    std::size_t count = reader.U8();
    if (!reader.ok() || reader.remaining() / kStatusEntrySize < count) return std::nullopt;
    NodeStatus status;
    status.names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        NodeStatusEntry entry;
        auto name = reader.Bytes(16);
        std::copy(name.begin(), name.end(), entry.name.begin());
        entry.flags = reader.U16();
        status.names.push_back(entry);
    }
    if (!reader.ok()) return std::nullopt;

    // Some responders cut the statistics short; pad what is missing with zeros.
    std::array<std::uint8_t, kStatisticsSize> block{};
    auto rest = reader.Bytes(std::min(reader.remaining(), kStatisticsSize));
    std::copy(rest.begin(), rest.end(), block.begin());
    NameByteReader stats(block);
    auto &s = status.statistics;
    auto unit = stats.Bytes(6);
    std::copy(unit.begin(), unit.end(), s.unit_id.begin());
    s.jumpers = stats.U8();
    s.test_result = stats.U8();
    s.version = stats.U16();
    s.period = stats.U16();
    s.crcs = stats.U16();
    s.alignment_errors = stats.U16();
    s.collisions = stats.U16();
    s.send_aborts = stats.U16();
    s.good_sends = stats.U32();
    s.good_receives = stats.U32();
    s.retransmits = stats.U16();
    s.no_resources = stats.U16();
    s.free_command_blocks = stats.U16();
    s.total_command_blocks = stats.U16();
    s.max_total_command_blocks = stats.U16();
    s.pending_sessions = stats.U16();
    s.max_pending_sessions = stats.U16();
    s.max_total_sessions = stats.U16();
    s.session_packet_size = stats.U16();
    return status;
}

std::vector<std::uint8_t> EncodeNodeStatusRdata(const NodeStatus &status) {
    std::vector<std::uint8_t> out;
    std::size_t count = std::min(status.names.size(), kMaxStatusNames);
    PutU8(out, static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        out.insert(out.end(), status.names[i].name.begin(), status.names[i].name.end());
        PutU16(out, status.names[i].flags);
    }
    const auto &s = status.statistics;
    out.insert(out.end(), s.unit_id.begin(), s.unit_id.end());
    PutU8(out, s.jumpers);
    PutU8(out, s.test_result);
    for (std::uint16_t v : {s.version, s.period, s.crcs, s.alignment_errors, s.collisions, s.send_aborts})
        PutU16(out, v);
    PutU32(out, s.good_sends);
    PutU32(out, s.good_receives);
    for (std::uint16_t v : {s.retransmits, s.no_resources, s.free_command_blocks, s.total_command_blocks,
                            s.max_total_command_blocks, s.pending_sessions, s.max_pending_sessions,
                            s.max_total_sessions, s.session_packet_size})
        PutU16(out, v);
    return out;
}

UCHAR WireFlagsToNameFlags(std::uint16_t wire) {
    UCHAR state = REGISTERING;
    bool conflict = wire & kStatusConflict;
    bool deregistering = wire & kStatusDeregistering;
    if (conflict && deregistering)
        state = DUPLICATE_DEREG;
    else if (conflict)
        state = DUPLICATE;
    else if (deregistering)
        state = DEREGISTERED;
    else if (wire & kStatusActive)
        state = REGISTERED;
    return static_cast<UCHAR>(((wire & kStatusGroup) ? GROUP_NAME : UNIQUE_NAME) | state);
}

std::uint16_t NameFlagsToWireFlags(UCHAR name_flags) {
    std::uint16_t wire = kStatusActive;
    if (name_flags & GROUP_NAME) wire |= kStatusGroup;
    switch (name_flags & 0x07) {
        case DEREGISTERED:
            wire |= kStatusDeregistering;
            break;
        case DUPLICATE:
            wire |= kStatusConflict;
            break;
        case DUPLICATE_DEREG:
            wire |= kStatusConflict | kStatusDeregistering;
            break;
        default:
            break;
    }
    return wire;
}

ADAPTER_STATUS AdapterStatusFromStatistics(const NodeStatistics &s, std::size_t name_count) {
    ADAPTER_STATUS a{};
    std::copy(s.unit_id.begin(), s.unit_id.end(), a.adapter_address);
    a.rev_major = static_cast<UCHAR>(s.version >> 8);
    a.rev_minor = static_cast<UCHAR>(s.version & 0xFF);
    a.adapter_type = 0xFE;
    a.duration = s.period;
    a.frmr_recv = s.crcs;
    a.frmr_xmit = s.alignment_errors;
    a.iframe_recv_err = s.collisions;
    a.xmit_aborts = s.send_aborts;
    a.xmit_success = s.good_sends;
    a.recv_success = s.good_receives;
    a.iframe_xmit_err = s.retransmits;
    a.recv_buff_unavail = s.no_resources;
    a.free_ncbs = s.free_command_blocks;
    a.max_cfg_ncbs = s.total_command_blocks;
    a.max_ncbs = s.max_total_command_blocks;
    a.pending_sess = s.pending_sessions;
    a.max_cfg_sess = s.max_pending_sessions;
    a.max_sess = s.max_total_sessions;
    a.max_sess_pkt_size = s.session_packet_size;
    a.name_count = Clamp16(name_count);
    return a;
}

NodeStatistics StatisticsFromAdapterStatus(const ADAPTER_STATUS &a) {
    NodeStatistics s;
    std::copy(a.adapter_address, a.adapter_address + 6, s.unit_id.begin());
    s.version = static_cast<std::uint16_t>(a.rev_major << 8 | a.rev_minor);
    s.period = a.duration;
    s.crcs = a.frmr_recv;
    s.alignment_errors = a.frmr_xmit;
    s.collisions = a.iframe_recv_err;
    s.send_aborts = a.xmit_aborts;
    s.good_sends = a.xmit_success;
    s.good_receives = a.recv_success;
    s.retransmits = a.iframe_xmit_err;
    s.no_resources = a.recv_buff_unavail;
    s.free_command_blocks = a.free_ncbs;
    s.total_command_blocks = a.max_cfg_ncbs;
    s.max_total_command_blocks = a.max_ncbs;
    s.pending_sessions = a.pending_sess;
    s.max_pending_sessions = a.max_cfg_sess;
    s.max_total_sessions = a.max_sess;
    s.session_packet_size = a.max_sess_pkt_size;
    return s;
}

}  // namespace nbt::codec
