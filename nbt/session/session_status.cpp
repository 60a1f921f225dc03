// SPDX-License-Identifier: MIT
#include "session_status.h"

#include <algorithm>
#include <cstring>

namespace nbt {

SessionStatusFill FillSessionStatus(UCHAR sess_name, std::span<const SessionStatusEntry> entries,
                                    UCHAR *buffer, WORD length) {
    if (length < sizeof(SESSION_HEADER)) return {NRC_BUFLEN, 0};
    const std::size_t room = (length - sizeof(SESSION_HEADER)) / sizeof(SESSION_BUFFER);
    // num_sess is one byte; there are never more than 254 sessions anyway.
    const std::size_t written = std::min({room, entries.size(), std::size_t{255}});

    SESSION_HEADER header{};
    header.sess_name = sess_name;
    header.num_sess = static_cast<UCHAR>(written);
    std::memcpy(buffer, &header, sizeof header);
    for (std::size_t i = 0; i < written; ++i) {
        SESSION_BUFFER record{};
        record.lsn = entries[i].lsn;
        record.state = entries[i].state;
        NameToField(entries[i].local, record.local_name);
        NameToField(entries[i].remote, record.remote_name);
        record.rcvs_outstanding = entries[i].receives;
        record.sends_outstanding = entries[i].sends;
        std::memcpy(buffer + sizeof header + i * sizeof record, &record, sizeof record);
    }
    const auto bytes = static_cast<WORD>(sizeof(SESSION_HEADER) + written * sizeof(SESSION_BUFFER));
    return {written < entries.size() ? NRC_INCOMP : NRC_GOODRET, bytes};
}

}  // namespace nbt
