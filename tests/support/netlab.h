// SPDX-License-Identifier: MIT
// Runs tools/netlab for the interop tests: a throw-away LAN of network
// namespaces with its own prefix, torn down when the Lab object goes away.
// Needs root; Lab::Start() says why it cannot be had otherwise.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace netlab {

// The whole of a file the lab or a peer wrote (a log, a capture's text).
inline std::string ReadFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool Contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

// Runs a shell command; returns its stdout and stderr together.
inline std::string Shell(const std::string &command, int *status = nullptr) {
    std::string output;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return output;
    }
    std::array<char, 4096> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
    int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

inline std::string Quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Lab {
public:
    // script: path of tools/netlab. The prefix is unique per process, so
    // parallel runs never share namespaces. net: the /24 of the lab's LAN
    // (labs that are routed to each other need different ones).
    explicit Lab(std::string script, const std::string &tag = "k", std::string net = "198.18.137")
        : script_(std::move(script)),
          prefix_(tag + std::to_string(::getpid() % 100000)),
          net_(std::move(net)) {}
    ~Lab() { Stop(); }
    Lab(const Lab &) = delete;
    Lab &operator=(const Lab &) = delete;

    // Brings up `hosts` hosts. False, with the reason in *why, where
    // namespaces cannot be made here.
    bool Start(int hosts, std::string *why) {
        if (::geteuid() != 0) {
            *why = "network namespaces need root";
            return false;
        }
        int status = 0;
        std::string out = Run("up " + std::to_string(hosts), &status);
        if (status != 0) {
            *why = "netlab up failed: " + out;
            Run("down");
            return false;
        }
        up_ = true;
        return true;
    }
    void Stop() {
        if (up_) {
            StopDaemons();
            Run("down");
        }
        up_ = false;
    }

    // Starts nmbd and smbd in `host` as NetBIOS name `name`, then waits (up to
    // 20 s) until nmbd has registered name<20>: only then does it defend the
    // name and answer for it. False, with the reason in *why, otherwise.
    bool StartSamba(int host, const std::string &name, std::string *why) const {
        int status = 0;
        const std::string out =
            Run("samba " + std::to_string(host) + " " + name, &status, "NETLAB_SMB_LOGLEVEL=3");
        if (status != 0) {
            *why = "Samba would not start: " + out;
            return false;
        }
        // At log level 3 nmbd says so for each name it has registered.
        const std::string log_file = state() + "/samba-h" + std::to_string(host) + "/log/log.nmbd";
        const std::string registered = "Added netbios name " + name + "<20> with first IP " + Address(host) +
                                       " ttl=0 nb_flags= 0 to subnet " + Address(host);
        for (int i = 0; i < 80; ++i) {
            if (Contains(ReadFile(log_file), registered)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        *why = "nmbd never finished registering " + name;
        return false;
    }

    // env: extra VAR=value words for the script (NETLAB_SMB_LOGLEVEL=3, ...).
    std::string Run(const std::string &args, int *status = nullptr, const std::string &env = "") const {
        return Shell("NETLAB_PREFIX=" + prefix_ + " NETLAB_NET=" + net_ + " NETLAB_STATE=" + state() + " " +
                         env + " " + Quote(script_) + " " + args,
                     status);
    }
    // Runs a shell command line inside host k's namespace.
    std::string Exec(int host, const std::string &command, int *status = nullptr) const {
        return Shell("ip netns exec " + Namespace(host) + " sh -c " + Quote(command), status);
    }

    const std::string &prefix() const { return prefix_; }
    std::string state() const { return "/tmp/netlab-" + prefix_; }
    std::string Namespace(int host) const { return prefix_ + "-h" + std::to_string(host); }
    static std::string Address(int host) { return "198.18.137." + std::to_string(10 + host); }
    static std::string Broadcast() { return "198.18.137.255"; }
    // The same in this lab's own net.
    std::string HostAddress(int host) const { return net_ + "." + std::to_string(10 + host); }
    static std::string Mac(int host) {
        char text[18];
        std::snprintf(text, sizeof text, "02:4e:42:00:00:%02x", host);
        return text;
    }
    // client.conf written by `up`, for nmblookup/smbclient -s.
    std::string ClientConf() const { return state() + "/client.conf"; }

private:
    // Daemons a test started in the lab's hosts, each pid in
    // state()/daemon-*.pid: SIGTERM, up to 5 s to end, then SIGKILL, so
    // that none keeps a namespace alive past `down`.
    void StopDaemons() const {
        namespace fs = std::filesystem;
        std::error_code error;
        for (const auto &entry : fs::directory_iterator(state(), error)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("daemon-", 0) != 0 || entry.path().extension() != ".pid") continue;
            pid_t pid = 0;
            if (!(std::ifstream(entry.path()) >> pid) || pid <= 0) continue;
            if (::kill(pid, SIGTERM) != 0) continue;
            for (int i = 0; i < 50 && ::kill(pid, 0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(pid, SIGKILL);
        }
    }

    std::string script_;
    std::string prefix_;
    std::string net_;
    bool up_ = false;
};

}  // namespace netlab
