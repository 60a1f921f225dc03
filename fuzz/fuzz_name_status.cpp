// SPDX-License-Identifier: MIT
// NODE STATUS RESPONSE RDATA and its mapping onto ADAPTER_STATUS records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "name_status.h"
#include "name_status_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto status = nbt::codec::DecodeNodeStatusRdata({data, size});
    if (!status) return 0;
    if (1 + status->names.size() * nbt::codec::kStatusEntrySize > size) std::abort();
    for (const auto &entry : status->names) {
        UCHAR flags = nbt::WireFlagsToNameFlags(entry.flags);
        if ((flags & ~NAME_FLAGS_MASK) != 0) std::abort();
    }
    auto adapter = nbt::AdapterStatusFromStatistics(status->statistics, status->names.size());
    if (adapter.name_count != status->names.size()) std::abort();
    return 0;
}
