// SPDX-License-Identifier: MIT
#include "peer_identity.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korveld {

bool IdentifyPeer(int fd, PeerIdentity *peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return false;
    peer->pid = credentials.pid;
    peer->uid = credentials.uid;
    peer->gid = credentials.gid;
    peer->program.clear();
    // The name may have changed by the time it is read, or the program may
    // be gone: it is for people to read, never to decide anything.
    const std::string path = "/proc/" + std::to_string(credentials.pid) + "/comm";
    const int comm = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (comm < 0) return true;
    char name[32];
    const ssize_t got = ::read(comm, name, sizeof name);
    ::close(comm);
    if (got > 0) peer->program.assign(name, static_cast<std::size_t>(got));
    while (!peer->program.empty() && peer->program.back() == '\n') peer->program.pop_back();
    return true;
}

}  // namespace korveld
