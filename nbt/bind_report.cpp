// SPDX-License-Identifier: MIT
#include "bind_report.h"

#include <dirent.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace nbt {
namespace {

struct SocketEntry {
    std::string inode;
    std::string uid;
};

// Sockets in /proc/net/{tcp,udp} bound to port on address or on 0.0.0.0.
std::vector<SocketEntry> BoundSockets(bool tcp, const asio::ip::address_v4 &address, std::uint16_t port) {
    // The table prints the address as the in-memory (network order) word in
    // hex, the port in host order.
    const auto bytes = address.to_bytes();
    std::uint32_t wanted;
    std::memcpy(&wanted, bytes.data(), sizeof wanted);

    std::vector<SocketEntry> found;
    std::ifstream table(tcp ? "/proc/self/net/tcp" : "/proc/self/net/udp");
    std::string line;
    std::getline(table, line);  // heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        const auto colon = local.find(':');
        if (colon == std::string::npos) continue;
        const auto local_address =
            static_cast<std::uint32_t>(std::stoul(local.substr(0, colon), nullptr, 16));
        const auto local_port = static_cast<std::uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16));
        if (local_port != port || (local_address != wanted && local_address != 0)) continue;
        if (inode == "0") continue;  // TIME_WAIT and the like: no owner, and no obstacle
        found.push_back({inode, uid});
    }
    return found;
}

std::string ProcessName(const std::string &pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "pid " + pid : name + " (pid " + pid + ")";
}

// The process with a descriptor on socket:[inode], if this user may look.
std::string SocketOwner(const std::string &inode) {
    const std::string target = "socket:[" + inode + "]";
    DIR *proc = opendir("/proc");
    if (!proc) return {};
    std::string owner;
    while (dirent *process = readdir(proc)) {
        const std::string pid = process->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fd_dir = "/proc/" + pid + "/fd";
        DIR *fds = opendir(fd_dir.c_str());
        if (!fds) continue;
        while (dirent *fd = readdir(fds)) {
            char link[64];
            const std::string path = fd_dir + "/" + fd->d_name;
            const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
            if (n > 0 && target.compare(0, std::string::npos, link, static_cast<std::size_t>(n)) == 0) {
                owner = ProcessName(pid);
                break;
            }
        }
        closedir(fds);
        if (!owner.empty()) break;
    }
    closedir(proc);
    return owner;
}

std::string ProgramPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("PROGRAM");
}

}  // namespace

std::string PortHolder(bool tcp, const asio::ip::address_v4 &address, std::uint16_t port) {
    const auto sockets = BoundSockets(tcp, address, port);
    for (const auto &socket : sockets)
        if (auto owner = SocketOwner(socket.inode); !owner.empty()) return owner;
    if (!sockets.empty()) return "a program of uid " + sockets.front().uid;
    return {};
}

std::string DescribeBindFailure(const BindFailure &failure) {
    std::ostringstream line;
    line << "NetBIOS reset of LANA " << unsigned{failure.lana};
    if (!failure.interface_name.empty()) line << " (" << failure.interface_name << ")";
    const std::string endpoint = failure.address.to_string() + " port " + std::to_string(failure.port) +
                                 (failure.tcp ? "/tcp" : "/udp");
    if (failure.step == kTieStep)
        line << ": cannot tie the socket for " << endpoint << " to its interface: ";
    else
        line << ": cannot " << failure.step << " " << endpoint << ": ";
    const int error = failure.error.value();
    if (error == EACCES || error == EPERM) {
        line << "permission denied; ";
        if (failure.step == kTieStep)
            line << "this kernel needs CAP_NET_RAW for it";
        else
            line << "ports below 1024 need root or CAP_NET_BIND_SERVICE; start the service korveld "
                    "(systemctl start korveld.socket), which serves LANAs 1 and up to every program, or "
                    "grant this program the capability (setcap cap_net_bind_service+ep "
                 << ProgramPath() << ")";
    } else if (error == EADDRINUSE) {
        const std::string holder = PortHolder(failure.tcp, failure.address, failure.port);
        line << "already in use" << (holder.empty() ? std::string(" by another socket") : " by " + holder);
    } else if (error == EADDRNOTAVAIL) {
        line << "the address is not on this host any more (interface down or renumbered?)";
    } else {
        line << failure.error.message();
    }
    return line.str();
}

void ReportBindFailure(const BindFailure &failure) {
    const std::string line = DescribeBindFailure(failure);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
    syslog(LOG_USER | LOG_WARNING, "%s", line.c_str());
}

}  // namespace nbt
