// SPDX-License-Identifier: MIT
// Who is at the other end of a connection to the service: the kernel's
// word for it (SO_PEERCRED), and the program's name from /proc.
#pragma once

#include <sys/types.h>

#include <string>

namespace korveld {

struct PeerIdentity {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string program;  // /proc/PID/comm, at most 15 bytes; "" when unreadable
};

// False when the kernel cannot say (not a local socket).
bool IdentifyPeer(int fd, PeerIdentity *peer);

}  // namespace korveld
