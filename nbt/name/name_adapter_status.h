// SPDX-License-Identifier: MIT
// Writing an adapter status reply (ADAPTER_STATUS + NAME_BUFFERs) into the
// caller's buffer, and building it for our own adapter.
#pragma once

#include <vector>

#include "nb30.h"

namespace nbt {

struct AdapterStatusReply {
    ADAPTER_STATUS status{};
    std::vector<NAME_BUFFER> names;
};

// Copies as many whole name records as fit after the status record; sets
// name_count to the records written and *written to the bytes written.
// Returns NRC_BUFLEN for a buffer shorter than ADAPTER_STATUS (or none),
// NRC_INCOMP when names were left out, otherwise NRC_GOODRET.
UCHAR WriteAdapterStatus(const AdapterStatusReply &reply, UCHAR *buffer, WORD length, WORD *written);

}  // namespace nbt
