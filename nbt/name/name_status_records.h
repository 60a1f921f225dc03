// SPDX-License-Identifier: MIT
// Node status as it travels (NAME_FLAGS, the statistics block) mapped onto
// the platform's ADAPTER_STATUS and NAME_BUFFER records, both ways: remote
// adapter status reads the wire into records, our responder writes records
// onto the wire.
#pragma once

#include <cstddef>
#include <cstdint>

#include "name_status.h"
#include "nb30.h"

namespace nbt {

// Wire flags -> name_flags: group bit plus a state derived from CNF/DRG/ACT.
// The ONT and PRM bits are not states and never leak into the result.
UCHAR WireFlagsToNameFlags(std::uint16_t wire);
// name_flags of a held name -> wire flags (B-node, ACT always set).
std::uint16_t NameFlagsToWireFlags(UCHAR name_flags);

ADAPTER_STATUS AdapterStatusFromStatistics(const codec::NodeStatistics &statistics, std::size_t name_count);
codec::NodeStatistics StatisticsFromAdapterStatus(const ADAPTER_STATUS &status);

}  // namespace nbt
