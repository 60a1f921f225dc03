// SPDX-License-Identifier: MIT
#include "session_report.h"

#include <cstdio>

#include "report_format.h"

namespace {

const char *StateText(UCHAR state) {
    switch (state) {
        case LISTEN_OUTSTANDING:
            return "LISTEN_OUTSTANDING  \t";
        case CALL_PENDING:
            return "CALL_PENDING        \t";
        case SESSION_ESTABLISHED:
            return "SESSION_ESTABLISHED \t";
        case HANGUP_PENDING:
            return "HANGUP_PENDING      \t";
        case HANGUP_COMPLETE:
            return "HANGUP_COMPLETE     \t";
        case SESSION_ABORTED:
            return "SESSION_ABORTED     \t";
        default:
            return "";  // unknown states get no column
    }
}

std::string SessionLine(const SESSION_BUFFER &session) {
    std::string line = Format("%3u\t", unsigned{session.lsn});
    line += StateText(session.state);
    line += Format("[%16.16s]\t[%16.16s] \t%3u\t%3u\n", NameText(session.local_name).data(),
                   NameText(session.remote_name).data(), unsigned{session.rcvs_outstanding},
                   unsigned{session.sends_outstanding});
    return line;
}

}  // namespace

std::optional<std::string> SessionReport(std::span<const UCHAR> reply) {
    const auto header = ReadRecord<SESSION_HEADER>(reply, 0);
    if (!header) return std::nullopt;

    std::string report = Format("Session Name: %u Number Sessions: %u RcvDG: %u RcvAny: %u\n",
                                unsigned{header->sess_name}, unsigned{header->num_sess},
                                unsigned{header->rcv_dg_outstanding}, unsigned{header->rcv_any_outstanding});
    if (header->num_sess == 0) return report;

    report += "SESSIE INFO\n";
    report += "LSN\tStatus       \t\tLocalName\tRemoteName\tRxD\tTxD\n";
    report += "=====================================================================\n";
    const std::size_t count =
        RecordsPresent(reply.size(), sizeof(SESSION_HEADER), sizeof(SESSION_BUFFER), header->num_sess);
    for (std::size_t i = 0; i < count; ++i) {
        const auto session =
            ReadRecord<SESSION_BUFFER>(reply, sizeof(SESSION_HEADER) + i * sizeof(SESSION_BUFFER));
        report += SessionLine(*session);
    }
    return report;
}
