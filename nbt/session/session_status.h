// SPDX-License-Identifier: MIT
// The NCBSSTAT reply: SESSION_HEADER followed by whole SESSION_BUFFER
// records. When they do not all fit, num_sess counts only the records
// written, so a reader never goes past the buffer.
#pragma once

#include <span>

#include "nb30.h"
#include "netbios_name.h"

namespace nbt {

struct SessionStatusEntry {
    UCHAR lsn = 0;
    UCHAR state = 0;
    NetbiosName local{};
    NetbiosName remote{};
    UCHAR receives = 0;  // pending NCBRECVs
    UCHAR sends = 0;     // pending NCBSENDs
};

struct SessionStatusFill {
    UCHAR rc;
    WORD length;  // bytes written
};

// sess_name: the name number asked about, 0xFF for all names. NRC_BUFLEN
// when the header itself does not fit; NRC_INCOMP when a record was left out.
SessionStatusFill FillSessionStatus(UCHAR sess_name, std::span<const SessionStatusEntry> entries,
                                    UCHAR *buffer, WORD length);

}  // namespace nbt
