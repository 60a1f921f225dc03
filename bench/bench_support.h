// SPDX-License-Identifier: MIT
// What the wire benchmarks share: NCB helpers, ports and names no other run
// on this machine uses, bounded waits on bare sockets, the CPU time of both
// processes, and Korvel/raw repetitions registered in interleaved pairs.
#pragma once

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "nb30.h"
#include "provider.h"

namespace bench {

inline void Pad(UCHAR *field, const std::string &text) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), NCBNAMSZ));
}

inline NCB Block(UCHAR command) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    return ncb;
}

// NCBRESET with room for `sessions` sessions and `names` names (0: defaults).
inline UCHAR Reset(nbt::Provider &provider, UCHAR sessions = 0, UCHAR names = 0) {
    NCB ncb = Block(NCBRESET);
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[2] = names;
    return provider.Netbios(&ncb);
}

inline UCHAR AddName(nbt::Provider &provider, const std::string &name) {
    NCB ncb = Block(NCBADDNAME);
    Pad(ncb.ncb_name, name);
    return provider.Netbios(&ncb);
}

// A name of at most 15 characters that two runs at once do not share: the
// prefix, the process id of the run and an index.
inline std::string UniqueName(const char *prefix, pid_t run, int index = 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4s%07d%02d", prefix, static_cast<int>(run % 10000000), index % 100);
    return text;
}

// A socket bound to a port the kernel chose on the loopback address, that
// port in *port; -1 when none could be had.
inline int BoundLoopbackSocket(int type, std::uint16_t *port) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

// A port the kernel just handed out on the loopback address, free for now.
inline std::uint16_t FreePort(int type) {
    std::uint16_t port = 0;
    const int fd = BoundLoopbackSocket(type, &port);
    if (fd < 0) {
        std::perror("no free port");
        std::exit(1);
    }
    ::close(fd);
    return port;
}

// Loopback settings on ports of this run only, so that two runs at once are
// two separate segments.
inline nbt::Settings RunSettings() {
    nbt::Settings settings;
    settings.host_interfaces = false;
    settings.loopback_name_port = FreePort(SOCK_DGRAM);
    settings.loopback_datagram_port = FreePort(SOCK_DGRAM);
    settings.loopback_session_port = FreePort(SOCK_STREAM);
    return settings;
}

// Every blocking call on a bare socket gives up after `seconds`.
inline void BoundWaits(int fd, int seconds) {
    const timeval limit{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// CPU time (user plus system, all threads) of this process and of another.
inline double CpuSeconds(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
inline clockid_t ProcessClock(pid_t pid) {
    clockid_t clock = CLOCK_PROCESS_CPUTIME_ID;
    if (pid > 0 && ::clock_getcpuclockid(pid, &clock) != 0) clock = CLOCK_PROCESS_CPUTIME_ID;
    return clock;
}

// Counts the CPU both processes spend between construction and Report(),
// as nanoseconds per byte carried: "cpu_near" and "cpu_far".
class CpuPerByte {
public:
    explicit CpuPerByte(pid_t far) : far_(ProcessClock(far)) {
        near0_ = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        far0_ = CpuSeconds(far_);
    }
    void Report(benchmark::State &state, double bytes) const {
        if (bytes <= 0) return;
        state.counters["cpu_near"] = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - near0_) * 1e9 / bytes;
        state.counters["cpu_far"] = (CpuSeconds(far_) - far0_) * 1e9 / bytes;
    }

private:
    clockid_t far_;
    double near0_ = 0, far0_ = 0;
};

// The far side's one line (without its newline) on the pipe's read end, or
// false when it failed, died (the parent has closed its copy of the write
// end, so that ends the read) or said nothing for `seconds`.
inline bool ReadLine(int from, std::string &line, int seconds) {
    line.clear();
    for (char c = 0;;) {
        pollfd p{from, POLLIN, 0};
        if (::poll(&p, 1, seconds * 1000) != 1 || ::read(from, &c, 1) != 1) return false;
        if (c == '\n') return true;
        line += c;
    }
}

// True while the far side is running.
inline bool Alive(pid_t child) {
    return child > 0 && ::waitpid(child, nullptr, WNOHANG) == 0;
}

// Takes "--<flag>=N" out of the command line (`fallback` when absent).
inline int TakeFlag(int &argc, char **argv, const char *flag, int fallback) {
    const std::string prefix = std::string("--") + flag + "=";
    int value = fallback;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0)
            value = std::max(1, std::atoi(argv[i] + prefix.size()));
        else
            argv[out++] = argv[i];
    }
    argc = out;
    return value;
}

// --iterations=N runs every benchmark exactly N times, in one go: what
// bench/syscalls.sh needs to divide its counts by (otherwise the library's
// own trial runs before the measured one add to them).
inline int g_iterations = 0;
inline void TakeIterationsFlag(int &argc, char **argv) {
    g_iterations = TakeFlag(argc, argv, "iterations", 0);
}
// How long a benchmark runs: `seconds` at least, or --iterations.
inline void RunFor(benchmark::internal::Benchmark *b, double seconds) {
    if (g_iterations > 0)
        b->Iterations(g_iterations);
    else
        b->MinTime(seconds);
}

using Body = std::function<void(benchmark::State &)>;

struct Figure {
    std::string name;
    Body korvel, raw;
    std::function<void(benchmark::internal::Benchmark *)> configure;
    bool manual_time = false;  // the body times itself; otherwise wall time
};

// Registers `pairs` runs of each side of each figure as
// "<figure>/<pair>/korvel" and "<figure>/<pair>/raw", pair by pair and
// figure by figure, the raw side first in even pairs and last in odd ones:
// a drift of the shared machine then weighs on both sides of a pair alike,
// and bench/compare.sh takes the ratio within each pair.
inline void RegisterPairs(const std::vector<Figure> &figures, int pairs) {
    for (int pair = 0; pair < pairs; ++pair) {
        for (const Figure &figure : figures) {
            const std::string stem = figure.name + "/" + std::to_string(pair) + "/";
            auto add = [&](const char *side, const Body &body) {
                auto *b = benchmark::RegisterBenchmark((stem + side).c_str(), body);
                if (figure.manual_time)
                    b->UseManualTime();
                else
                    b->UseRealTime();
                if (g_iterations > 0)
                    b->Iterations(g_iterations);
                else if (figure.configure)
                    figure.configure(b);
            };
            if (pair % 2 == 0) {
                add("raw", figure.raw);
                add("korvel", figure.korvel);
            } else {
                add("korvel", figure.korvel);
                add("raw", figure.raw);
            }
        }
    }
}

// In a KeepRunning() loop: true in its last pass. The streams end that pass
// with a flush, inside the timing: a figure counts bytes the far side has
// taken in, not bytes left in socket buffers.
inline bool Last(const benchmark::State &state) {
    return state.iterations() == state.max_iterations;
}

}  // namespace bench
