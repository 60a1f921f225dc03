// SPDX-License-Identifier: MIT
// NODE STATUS RESPONSE RDATA: the names, their 16-bit NAME_FLAGS and the
// statistics block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "nbt_constants.h"

namespace nbt::codec {

struct NodeStatusEntry {
    std::array<std::uint8_t, 16> name{};
    std::uint16_t flags = 0;
    bool operator==(const NodeStatusEntry &) const = default;
};

// The statistics block, host order.
struct NodeStatistics {
    std::array<std::uint8_t, 6> unit_id{};
    std::uint8_t jumpers = 0;
    std::uint8_t test_result = 0;
    std::uint16_t version = 0;
    std::uint16_t period = 0;
    std::uint16_t crcs = 0;
    std::uint16_t alignment_errors = 0;
    std::uint16_t collisions = 0;
    std::uint16_t send_aborts = 0;
    std::uint32_t good_sends = 0;
    std::uint32_t good_receives = 0;
    std::uint16_t retransmits = 0;
    std::uint16_t no_resources = 0;
    std::uint16_t free_command_blocks = 0;
    std::uint16_t total_command_blocks = 0;
    std::uint16_t max_total_command_blocks = 0;
    std::uint16_t pending_sessions = 0;
    std::uint16_t max_pending_sessions = 0;
    std::uint16_t max_total_sessions = 0;
    std::uint16_t session_packet_size = 0;
    bool operator==(const NodeStatistics &) const = default;
};

struct NodeStatus {
    std::vector<NodeStatusEntry> names;
    NodeStatistics statistics;
};

// Accepts a statistics block shorter than 46 bytes (missing fields read as
// zero) and longer RDATA, but never names that are not all there.
std::optional<NodeStatus> DecodeNodeStatusRdata(std::span<const std::uint8_t> rdata);
// Encodes at most kMaxStatusNames names.
std::vector<std::uint8_t> EncodeNodeStatusRdata(const NodeStatus &status);

}  // namespace nbt::codec
