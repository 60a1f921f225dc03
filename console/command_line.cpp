// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <cstring>

#include "version_info.h"

namespace command_line {
namespace {

constexpr const char kUsage[] =
    "Usage: korvel [OPTION]\n"
    "Test console for NetBIOS over TCP/IP: reset a LAN adapter, add and delete names,\n"
    "listen, call, send and receive, and read the session and adapter status reports.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "LANA 0 is the loopback adapter and needs no privilege. LANAs 1 and up are the\n"
    "IPv4 interfaces; they use ports 137/udp and 139/tcp. The service korveld serves\n"
    "them to every program when it runs; without it, korvel needs root or the\n"
    "capability CAP_NET_BIND_SERVICE for them.\n"
    "When a reset cannot bind, the reason goes to standard error and the journal.\n"
    "\n"
    "See korvel(1).\n";

}  // namespace

std::optional<int> Answer(int argc, const char *const *argv, std::ostream &out) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            out << kUsage;
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            out << "korvel " << version_info::kProductVersion << "\n"
                << version_info::kLegalCopyright << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace command_line
