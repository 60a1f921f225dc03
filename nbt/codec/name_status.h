// NODE STATUS RESPONSE RDATA (names, their 16-bit flags, the statistics
// block) and its mapping onto the ADAPTER_STATUS / NAME_BUFFER records.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "nb30.h"

namespace nbt::codec {

// Wire NAME_FLAGS of a node status entry.
constexpr std::uint16_t kStatusGroup = 0x8000;
constexpr std::uint16_t kStatusOntMask = 0x6000;
constexpr std::uint16_t kStatusDeregistering = 0x1000;
constexpr std::uint16_t kStatusConflict = 0x0800;
constexpr std::uint16_t kStatusActive = 0x0400;
constexpr std::uint16_t kStatusPermanent = 0x0200;

constexpr std::size_t kStatisticsSize = 46;
constexpr std::size_t kStatusEntrySize = 18;
constexpr std::size_t kMaxStatusNames = 255;  // NUM_NAMES is one byte

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

// Wire flags -> name_flags: group bit plus a state derived from CNF/DRG/ACT.
// The ONT and PRM bits are not states and never leak into the result.
UCHAR WireFlagsToNameFlags(std::uint16_t wire);
// name_flags of a held name -> wire flags (B-node, ACT always set).
std::uint16_t NameFlagsToWireFlags(UCHAR name_flags);

ADAPTER_STATUS AdapterStatusFromStatistics(const NodeStatistics &statistics, std::size_t name_count);
NodeStatistics StatisticsFromAdapterStatus(const ADAPTER_STATUS &status);

}  // namespace nbt::codec
