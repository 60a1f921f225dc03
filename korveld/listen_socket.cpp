// SPDX-License-Identifier: MIT
#include "listen_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstring>

namespace korveld {
namespace {

std::string Errno(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

bool AddressOf(const std::string &path, sockaddr_un *address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether something accepts connections at the path now.
bool Answers(const sockaddr_un &address) {
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool answers = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return answers;
}

ListenSocket Bind(const std::string &path) {
    ListenSocket result;
    sockaddr_un address;
    if (!AddressOf(path, &address)) {
        result.error = "socket path is empty or longer than " + std::to_string(sizeof address.sun_path - 1) +
                       " bytes: " + path;
        return result;
    }
    if (const auto slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
        const std::string directory = path.substr(0, slash);
        if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
            result.error = Errno("cannot make " + directory);
            return result;
        }
    }
    if (Answers(address)) {
        result.error = "a service already answers at " + path;
        return result;
    }
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            result.error = path + " exists and is not a socket";
            return result;
        }
        ::unlink(path.c_str());  // left by a service that is gone
    }
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        result.error = Errno("cannot make a socket");
        return result;
    }
    // Every local user's programs are its clients, as with systemd's
    // SocketMode=0666: who they are comes from SO_PEERCRED.
    const mode_t old_mask = ::umask(0);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::umask(old_mask);
    if (bound != 0 || ::listen(fd, SOMAXCONN) != 0) {
        result.error = Errno("cannot listen at " + path);
        ::close(fd);
        return result;
    }
    result.fd = fd;
    result.bound_path = path;
    return result;
}

}  // namespace

ListenSocket TakeListenSocket(const std::string &path, bool from_systemd) {
    if (from_systemd) {
        const int count = sd_listen_fds(1);
        if (count < 0) return {-1, "", std::string("the sockets systemd passed: ") + std::strerror(-count)};
        if (count > 1)
            return {-1, "", "systemd passed " + std::to_string(count) + " sockets; korveld takes one"};
        if (count == 1) {
            const int fd = SD_LISTEN_FDS_START;
            if (sd_is_socket_unix(fd, SOCK_SEQPACKET, 1, nullptr, 0) <= 0)
                return {-1, "", "the socket systemd passed is not a listening local SOCK_SEQPACKET socket"};
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            return {fd, "", ""};
        }
    }
    return Bind(path);
}

}  // namespace korveld
