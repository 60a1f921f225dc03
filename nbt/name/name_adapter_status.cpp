// SPDX-License-Identifier: MIT
#include "name_adapter_status.h"

#include <algorithm>
#include <cstring>

namespace nbt {

UCHAR WriteAdapterStatus(const AdapterStatusReply &reply, UCHAR *buffer, WORD length, WORD *written) {
    *written = 0;
    if (buffer == nullptr || length < sizeof(ADAPTER_STATUS)) return NRC_BUFLEN;
    std::size_t room = (length - sizeof(ADAPTER_STATUS)) / sizeof(NAME_BUFFER);
    std::size_t count = std::min({room, reply.names.size(), std::size_t{0xFFFF}});
    ADAPTER_STATUS status = reply.status;
    status.name_count = static_cast<WORD>(count);
    std::memcpy(buffer, &status, sizeof status);
    if (count > 0) std::memcpy(buffer + sizeof status, reply.names.data(), count * sizeof(NAME_BUFFER));
    *written = static_cast<WORD>(sizeof status + count * sizeof(NAME_BUFFER));
    return count < reply.names.size() ? NRC_INCOMP : NRC_GOODRET;
}

}  // namespace nbt
