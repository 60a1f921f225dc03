// SPDX-License-Identifier: MIT
// The service's listening socket: the one systemd passes (socket
// activation), or one it binds itself at a path.
#pragma once

#include <string>

namespace korveld {

struct ListenSocket {
    int fd = -1;
    std::string bound_path;  // set when korveld bound it, and so removes it at the end
    std::string error;       // when fd < 0
};

// The socket systemd passed, if it passed one; else one bound at `path`.
// Refuses a path where a service already answers; a stale socket file left
// by one that died is replaced.
ListenSocket TakeListenSocket(const std::string &path, bool from_systemd);

}  // namespace korveld
