// SPDX-License-Identifier: MIT
#include "adapter_report.h"

#include <cstdint>

#include "report_format.h"

namespace {

const char *NameStateText(UCHAR flags) {
    switch (flags & 0x0F) {
        case REGISTERING:
            return "REGISTERING\t";
        case REGISTERED:
            return "REGISTERED\t";
        case DEREGISTERED:
            return "DEREGISTERED\t";
        case DUPLICATE:
            return "DUPLICATE\t";
        case DUPLICATE_DEREG:
            return "DUPLICATE_DEREG\t";
        default:
            return "UNKNOWN\t";
    }
}

const char *NameTypeText(UCHAR flags) {
    return (flags & GROUP_NAME) ? "GROEP_NAME\n" : "UNIQUE_NAME\n";
}

// The 32-bit counters print as signed 32-bit numbers on every platform.
long Signed32(DWORD value) {
    return static_cast<std::int32_t>(value);
}

std::string CounterLines(const ADAPTER_STATUS &status) {
    const auto &a = status.adapter_address;
    return Format(
        "Adapter adres: %02X%02X%02X%02X%02X%02X Revision: %u.%u Adapter type: %u\n"
        "Duration: %ld Frames RxD: %ld Frames TxD: %ld Abort Txd: %ld\n"
        "TxD Success: %ld Recv Success: %ld Free NCB:%ld Names: %ld\n",
        unsigned{a[0]}, unsigned{a[1]}, unsigned{a[2]}, unsigned{a[3]}, unsigned{a[4]}, unsigned{a[5]},
        unsigned{status.rev_major}, unsigned{status.rev_minor}, unsigned{status.adapter_type},
        long{status.duration}, long{status.frmr_recv}, long{status.frmr_xmit}, long{status.xmit_aborts},
        Signed32(status.xmit_success), Signed32(status.recv_success), long{status.free_ncbs},
        long{status.name_count});
}

std::string NameLine(const NAME_BUFFER &name) {
    std::string line = Format("[%16.16s]\t\t%4X\t%3X \t", NameText(name.name).data(), unsigned{name.name_num},
                              unsigned{name.name_flags});
    line += NameStateText(name.name_flags);
    line += NameTypeText(name.name_flags);
    return line;
}

}  // namespace

std::optional<std::string> AdapterReport(std::span<const UCHAR> reply) {
    const auto status = ReadRecord<ADAPTER_STATUS>(reply, 0);
    if (!status) return std::nullopt;

    std::string report = CounterLines(*status);
    if (status->name_count == 0) return report;

    report += "NAME BUFFERS\n";
    report += "NAME\t\t\tNumber\tFlag\tFlagStatus\tNameType\n";
    report += "=====================================================================\n";
    const std::size_t count =
        RecordsPresent(reply.size(), sizeof(ADAPTER_STATUS), sizeof(NAME_BUFFER), status->name_count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto name = ReadRecord<NAME_BUFFER>(reply, sizeof(ADAPTER_STATUS) + i * sizeof(NAME_BUFFER));
        report += NameLine(*name);
    }
    return report;
}
