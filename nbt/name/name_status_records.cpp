// SPDX-License-Identifier: MIT
#include "name_status_records.h"

#include <algorithm>

namespace nbt {

using codec::kStatusActive;
using codec::kStatusConflict;
using codec::kStatusDeregistering;
using codec::kStatusGroup;
using codec::NodeStatistics;

namespace {

WORD Clamp16(std::size_t v) {
    return static_cast<WORD>(std::min<std::size_t>(v, 0xFFFF));
}

}  // namespace

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

}  // namespace nbt
