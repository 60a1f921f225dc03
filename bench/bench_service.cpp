// SPDX-License-Identifier: MIT
// korveld's figures, run by bench/service_compare.sh inside a lab host whose
// korveld serves LANA 1 (KORVEL_PROVIDER=service KORVEL_PROVIDER_SOCKET=...).
// This process is a client of it through Netbios(); its far side is a
// process of its own moved into another lab host (--far=NETNS), an
// in-process provider there, with a raw TCP echo/sink and a raw UDP answerer
// beside it. Figures, as interleaved pairs against raw (bench_support.h):
//   service-ping-pong    one byte there and back on a session the service set up
//   service-stream-sync  64 KiB messages one way, one NCBSEND at a time, against
//                        raw TCP with one sendmsg per message (raw_framing.h)
//   service-node-status  NCBASTAT of the far node's address, against a UDP
//                        request and answer of the same sizes
//   service-poll-wait    raw against raw: the same stream into a far side that
//                        waits in poll() as the provider's receives do,
//                        against one that blocks in recv()
//   service-poll-send    raw against raw: the same stream from a sender that
//                        waits in poll() as the provider's sends do, against
//                        one that blocks in sendmsg()
// and, one side only:
//   service-local-status/<n>/korvel  NCBASTAT of "*" on LANA 1 while four
//                        other clients hold four names each; beside it (raw)
//                        an AF_UNIX request and answer to an echoing process
//   service-rss/0/korvel  korveld's VmRSS (--korveld=PID), counter "rss_mb",
//                        while ten clients hold 16 names and 8 sessions each
//   service-release/<n>/korvel  kill -9 of a client holding one name until its
//                        release is seen on the wire by a third lab host
//                        (--watch=NETNS), the time of each run manual
// The clients are this program again (--role=holder), one process each, as
// a real program is. Every wait is bounded; children die with this process.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "raw_framing.h"

namespace {

using bench::Block;
using bench::kFlush;
using bench::Last;
using bench::Pad;
using bench::ReceiveFramed;
using bench::SendFramed;
using Clock = std::chrono::steady_clock;

constexpr UCHAR kLana = 1;
constexpr WORD kLarge = 65535;  // the largest NCB
constexpr UCHAR kTimeout = 20;  // 10 s, in 500 ms units: armed, never reached
constexpr int kNames = 4;       // on the far node: the size of its status answer
constexpr std::size_t kRequestSize = 50;
constexpr std::size_t kResponseSize = 56 + 1 + kNames * 18 + 46;
constexpr int kLoaders = 10, kLoaderNames = 16, kLoaderSessions = 8;
constexpr int kHolders = 4, kHolderNames = 4;
constexpr int kReleaseRuns = 5;

struct Far {
    std::string address, server, sink;
    std::uint16_t tcp = 0, udp = 0;
} g_far;
pid_t g_korveld = 0;
int g_releases = -1;  // the watcher's lines: names released on the wire
std::string g_self;

NCB LanaBlock(UCHAR command) {
    NCB ncb = Block(command);
    ncb.ncb_lana_num = kLana;
    return ncb;
}

// Through `provider`, or Netbios() (the service for LANA 1) when null.
UCHAR Run(nbt::Provider *provider, NCB &ncb) {
    return provider ? provider->Netbios(&ncb) : Netbios(&ncb);
}

UCHAR Reset(nbt::Provider *provider, UCHAR sessions, UCHAR names) {
    NCB ncb = LanaBlock(NCBRESET);
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[1] = 254;
    ncb.ncb_callname[2] = names;
    return Run(provider, ncb);
}

UCHAR Transfer(nbt::Provider *provider, UCHAR command, UCHAR lsn, void *data, WORD length,
               WORD *got = nullptr) {
    NCB ncb = LanaBlock(command);
    ncb.ncb_lsn = lsn;
    ncb.ncb_buffer = static_cast<PUCHAR>(data);
    ncb.ncb_length = length;
    const UCHAR rc = Run(provider, ncb);
    if (got) *got = ncb.ncb_length;
    return rc;
}

// Adds every name at once (asynchronously, as registration takes its
// broadcast rounds), waiting at most 20 s for all of them.
bool AddNames(const std::vector<std::string> &names) {
    auto adds = std::make_unique<NCB[]>(names.size());
    bool added = true;
    std::size_t submitted = 0;
    for (; submitted < names.size() && added; ++submitted) {
        adds[submitted] = LanaBlock(NCBADDNAME | ASYNCH);
        Pad(adds[submitted].ncb_name, names[submitted]);
        added = Netbios(&adds[submitted]) == NRC_GOODRET;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    bool pending = false;
    for (std::size_t i = 0; i < submitted; ++i) {
        while (adds[i].ncb_cmd_cplt == NRC_PENDING && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pending |= adds[i].ncb_cmd_cplt == NRC_PENDING;
        added &= adds[i].ncb_cmd_cplt == NRC_GOODRET;
    }
    // A block the provider still holds must stay where it can write to it.
    if (pending) static_cast<void>(adds.release());
    return added;
}

UCHAR Call(const std::string &from, const std::string &to) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        NCB call = LanaBlock(NCBCALL);
        Pad(call.ncb_name, from);
        Pad(call.ncb_callname, to);
        call.ncb_rto = call.ncb_sto = kTimeout;
        if (Netbios(&call) == NRC_GOODRET) return call.ncb_lsn;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

void Hangup(nbt::Provider *provider, UCHAR lsn) {
    NCB hangup = LanaBlock(NCBHANGUP);
    hangup.ncb_lsn = lsn;
    Run(provider, hangup);
}

// ---- a client of the service (--role=holder) -------------------------------

// Holds `count` names (prefix + index), makes `sessions` calls to `callee`,
// says "ready" on standard output and waits to be killed.
[[noreturn]] void RunHolder(const std::string &prefix, int count, int sessions, const std::string &callee) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) _exit(0);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(prefix + std::to_string(i));
    if (Reset(nullptr, static_cast<UCHAR>(sessions + 2), static_cast<UCHAR>(count + 2)) != NRC_GOODRET ||
        !AddNames(names)) {
        std::fprintf(stderr, "holder %s: no names\n", prefix.c_str());
        _exit(2);
    }
    for (int i = 0; i < sessions; ++i)
        if (!Call(names[static_cast<std::size_t>(i) % names.size()], callee)) {
            std::fprintf(stderr, "holder %s: no session to %s\n", prefix.c_str(), callee.c_str());
            _exit(3);
        }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) ::pause();
}

std::string Prefix(const char *what, int index) {
    return bench::UniqueName(what, getpid(), index).substr(0, 13);
}

struct Holder {
    pid_t pid = -1;
    int out = -1;
    ~Holder() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) ::close(out);
    }
};

// Starts this program again as a holder (false when it could not).
bool SpawnHolder(Holder &holder, const std::string &prefix, int count, int sessions) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    const std::string args[] = {
        g_self, "--role=holder", prefix, std::to_string(count), std::to_string(sessions), g_far.sink};
    // Built before fork(): the child of a threaded process only execs.
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    holder.pid = fork();
    if (holder.pid == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(pipe_fds[1]);
    holder.out = pipe_fds[0];
    return holder.pid > 0;
}

// True once the holder said "ready" within `seconds`.
bool HolderReady(const Holder &holder, int seconds) {
    std::string line;
    return holder.out >= 0 && bench::ReadLine(holder.out, line, seconds) && line == "ready";
}

// Starts `count` holders together (their names take the same broadcast
// rounds) and waits for all of them.
bool StartHolders(std::vector<std::unique_ptr<Holder>> &holders, const char *what, int count, int names,
                  int sessions) {
    for (int i = 0; i < count; ++i) {
        holders.push_back(std::make_unique<Holder>());
        if (!SpawnHolder(*holders.back(), Prefix(what, i), names, sessions)) return false;
    }
    for (const auto &holder : holders)
        if (!HolderReady(*holder, 40)) return false;
    return true;
}

// ---- the far side (child process, in another lab host) ---------------------

bool EnterNamespace(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
    return entered;
}

void ServeSession(nbt::Provider &provider, UCHAR lsn) {
    std::vector<UCHAR> buffer(kLarge);
    WORD got = 0;
    if (Transfer(&provider, NCBRECV, lsn, buffer.data(), kLarge, &got) != NRC_GOODRET) return;
    const UCHAR mode = got > 0 ? buffer[0] : 0;
    while (Transfer(&provider, NCBRECV, lsn, buffer.data(), kLarge, &got) == NRC_GOODRET) {
        const bool answer = mode == 'E' || (got == 1 && buffer[0] == kFlush);
        if (answer && Transfer(&provider, NCBSEND, lsn, buffer.data(), got) != NRC_GOODRET) break;
    }
    Hangup(&provider, lsn);
}

[[noreturn]] void RunFarSide(const char *netns, int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1 || !EnterNamespace(netns)) _exit(1);
    nbt::Settings settings;
    settings.reply_rate = 0;  // the asker is as fast as it can be
    nbt::Provider provider(settings);
    // The server name takes the measured sessions, one at a time; the sink
    // name the loaders' idle ones, all at once.
    constexpr int kSinkSessions = kLoaders * kLoaderSessions + 8;
    if (Reset(&provider, kSinkSessions + 8, kNames + 2) != NRC_GOODRET) _exit(2);
    const auto address = provider.LanaAddress(kLana);  // the node exists once reset
    if (!address) _exit(2);
    g_far.address = address->to_string();
    g_far.server = bench::UniqueName("SRV", getpid());
    g_far.sink = bench::UniqueName("SNK", getpid());

    // Raw baselines on the same address: a TCP echo/sink and a UDP answerer.
    const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = {htonl(address->to_uint())};
    socklen_t len = sizeof sa;
    if (::bind(tcp, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(tcp, 8) != 0 ||
        ::getsockname(tcp, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        _exit(3);
    g_far.tcp = ntohs(sa.sin_port);
    sa.sin_port = 0;
    if (::bind(udp, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::getsockname(udp, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        _exit(3);
    g_far.udp = ntohs(sa.sin_port);
    std::thread([tcp] {
        for (;;) {
            const int fd = ::accept(tcp, nullptr, nullptr);
            if (fd >= 0) bench::ServeRaw(fd);
        }
    }).detach();
    std::thread([udp] {
        std::vector<char> in(2048), response(kResponseSize, 'r');
        for (;;) {
            sockaddr_in from{};
            socklen_t from_len = sizeof from;
            const ssize_t n =
                ::recvfrom(udp, in.data(), in.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
            if (n > 0)
                ::sendto(udp, response.data(), response.size(), 0, reinterpret_cast<sockaddr *>(&from),
                         from_len);
        }
    }).detach();

    for (int i = 0; i < kNames; ++i) {
        NCB add = LanaBlock(NCBADDNAME);
        Pad(add.ncb_name, i == 0   ? g_far.server
                          : i == 1 ? g_far.sink
                                   : bench::UniqueName("EXT", getpid(), i));
        if (provider.Netbios(&add) != NRC_GOODRET) _exit(5);
    }
    static std::array<NCB, kSinkSessions> sinks;
    for (NCB &listen : sinks) {
        listen = LanaBlock(NCBLISTEN | ASYNCH);
        Pad(listen.ncb_name, g_far.sink);
        Pad(listen.ncb_callname, "*");
        if (provider.Netbios(&listen) != NRC_GOODRET) _exit(6);
    }
    std::ostringstream line;
    line << g_far.address << ' ' << g_far.tcp << ' ' << g_far.udp << ' ' << g_far.server << ' ' << g_far.sink
         << '\n';
    const std::string text = line.str();
    if (::write(report, text.data(), text.size()) < 0) _exit(7);
    ::close(report);
    for (;;) {
        NCB listen = LanaBlock(NCBLISTEN);
        Pad(listen.ncb_name, g_far.server);
        Pad(listen.ncb_callname, "*");
        listen.ncb_rto = listen.ncb_sto = kTimeout;
        const UCHAR rc = provider.Netbios(&listen);
        if (rc == NRC_GOODRET)
            ServeSession(provider, listen.ncb_lsn);
        else if (rc != NRC_CMDTMO)
            _exit(8);
    }
}

// ---- the watcher (child process, in a third lab host) ----------------------

// Every name release on the wire (NBNS opcode 6, request), its first 15
// characters on a line of its own. Every read of the packet is bounds checked.
[[noreturn]] void RunWatcher(const char *netns, int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1 || !EnterNamespace(netns)) _exit(1);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(137);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) _exit(2);
    if (::write(report, "ready\n", 6) != 6) _exit(3);
    std::array<std::uint8_t, 1500> packet{};
    for (;;) {
        const ssize_t got = ::recv(fd, packet.data(), packet.size(), 0);
        // Header (12), the length byte 32, 32 encoded characters.
        if (got < 12 + 1 + 32 || (packet[2] & 0x80) != 0 || ((packet[2] >> 3) & 0x0F) != 6 ||
            packet[12] != 32)
            continue;
        std::string name;
        for (int i = 0; i < 15; ++i) {
            const int high = packet[13 + 2 * i] - 'A', low = packet[14 + 2 * i] - 'A';
            if (high < 0 || high > 15 || low < 0 || low > 15) break;
            name += static_cast<char>(high << 4 | low);
        }
        while (!name.empty() && name.back() == ' ') name.pop_back();
        name += '\n';
        if (::write(report, name.data(), name.size()) < 0) _exit(4);
    }
}

// ---- the near side: figures -------------------------------------------------

std::string g_client;

UCHAR OpenSession(char mode) {
    const UCHAR lsn = Call(g_client, g_far.server);
    char m = mode;
    return lsn && Transfer(nullptr, NCBSEND, lsn, &m, 1) == NRC_GOODRET ? lsn : 0;
}

int OpenRaw(char mode) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(g_far.tcp);
    ::inet_pton(AF_INET, g_far.address.c_str(), &sa.sin_addr);
    bench::BoundWaits(fd, bench::kSocketTimeout);
    const int on = 1;
    const char m = mode;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 || !SendFramed(fd, &m, 1)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void ServiceStream(benchmark::State &state) {
    const UCHAR lsn = OpenSession('S');
    if (!lsn) return state.SkipWithError("no session");
    std::vector<UCHAR> block(kLarge, 0x5A);
    UCHAR flush = kFlush;
    while (state.KeepRunning()) {
        if (Transfer(nullptr, NCBSEND, lsn, block.data(), kLarge) != NRC_GOODRET)
            return state.SkipWithError("send failed");
        // The far side has taken in all of it before the timing ends.
        if (Last(state) && (Transfer(nullptr, NCBSEND, lsn, &flush, 1) != NRC_GOODRET ||
                            Transfer(nullptr, NCBRECV, lsn, &flush, 1) != NRC_GOODRET))
            return state.SkipWithError("flush failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
    Hangup(nullptr, lsn);
}

// mode 'S': the far side's receives block in recv(); 'P': they wait in
// poll(), as a receive another thread can end must (raw_framing.h). With
// polled_send, this side's sends wait in poll() as such a send must.
void RawStream(benchmark::State &state, char mode = 'S', bool polled_send = false) {
    const int fd = OpenRaw(mode);
    if (fd < 0) return state.SkipWithError("no connection");
    const int wake = polled_send ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (polled_send && wake < 0) {
        ::close(fd);
        return state.SkipWithError("no wake-up descriptor");
    }
    std::vector<std::uint8_t> block(kLarge, 0x5A);
    std::uint8_t flush = kFlush;
    while (state.KeepRunning()) {
        if (!SendFramed(fd, block.data(), kLarge, wake) ||
            (Last(state) && (!SendFramed(fd, &flush, 1) || ReceiveFramed(fd, &flush, 1) != 1))) {
            state.SkipWithError("send failed");
            break;
        }
    }
    ::close(fd);
    if (wake >= 0) ::close(wake);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
}

void ServicePingPong(benchmark::State &state) {
    const UCHAR lsn = OpenSession('E');
    if (!lsn) return state.SkipWithError("no session");
    UCHAR byte = 1, back = 0;
    for (auto _ : state)
        if (Transfer(nullptr, NCBSEND, lsn, &byte, 1) != NRC_GOODRET ||
            Transfer(nullptr, NCBRECV, lsn, &back, 1) != NRC_GOODRET)
            return state.SkipWithError("exchange failed");
    Hangup(nullptr, lsn);
}

void RawPingPong(benchmark::State &state) {
    bench::RawPingPong(state, OpenRaw('E'));
}

void ServiceNodeStatus(benchmark::State &state) {
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb = LanaBlock(NCBASTAT);
        Pad(ncb.ncb_callname, g_far.address);
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (Netbios(&ncb) != NRC_GOODRET) return state.SkipWithError("status failed");
        benchmark::DoNotOptimize(buffer.data());
    }
}

void RawNodeStatus(benchmark::State &state) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bench::BoundWaits(fd, 2);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(g_far.udp);
    ::inet_pton(AF_INET, g_far.address.c_str(), &to.sin_addr);
    std::vector<char> request(kRequestSize, 'q'), in(2048);
    for (auto _ : state) {
        if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) <
                0 ||
            ::recv(fd, in.data(), in.size(), 0) != static_cast<ssize_t>(kResponseSize)) {
            ::close(fd);
            return state.SkipWithError("no answer");
        }
        benchmark::DoNotOptimize(in.data());
    }
    ::close(fd);
}

// The four clients of the local status figure, ended before the loaders start.
std::vector<std::unique_ptr<Holder>> g_holders;

void LocalStatus(benchmark::State &state) {
    static const bool ready = StartHolders(g_holders, "LOC", kHolders, kHolderNames, 0);
    if (!ready) return state.SkipWithError("the four holders did not start");
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb = LanaBlock(NCBASTAT);
        Pad(ncb.ncb_callname, "*");
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (Netbios(&ncb) != NRC_GOODRET) return state.SkipWithError("status failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    if (reinterpret_cast<ADAPTER_STATUS *>(buffer.data())->name_count < kHolders * kHolderNames)
        state.SkipWithError("status incomplete");
}

// What any answer from a local service costs on this machine: a request and
// its answer, of the sizes an NCBASTAT of 16 names takes, over an AF_UNIX
// SOCK_SEQPACKET pair to a process of its own that only echoes. The local
// status figure is read beside it.
void RawLocalRoundTrip(benchmark::State &state) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return state.SkipWithError("no socket pair");
    const pid_t echo = ::fork();
    if (echo == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(pair[0]);
        std::array<std::uint8_t, 512> message{};
        for (;;) {
            if (::recv(pair[1], message.data(), 128, 0) <= 0) _exit(0);
            if (::send(pair[1], message.data(), message.size(), MSG_NOSIGNAL) <= 0) _exit(0);
        }
    }
    ::close(pair[1]);
    std::array<std::uint8_t, 512> message{};
    const timeval limit{5, 0};  // never hangs
    ::setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    for (auto _ : state) {
        if (::send(pair[0], message.data(), 128, MSG_NOSIGNAL) != 128 ||
            ::recv(pair[0], message.data(), message.size(), 0) != static_cast<ssize_t>(message.size())) {
            state.SkipWithError("no answer");
            break;
        }
    }
    ::close(pair[0]);
    ::waitpid(echo, nullptr, 0);
}

double ResidentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;  // kB
    return -1;
}

void ServiceRss(benchmark::State &state) {
    g_holders.clear();
    std::vector<std::unique_ptr<Holder>> loaders;
    const bool ready = g_korveld > 0 && StartHolders(loaders, "RSS", kLoaders, kLoaderNames, kLoaderSessions);
    double megabytes = -1;
    for (auto _ : state) megabytes = ready ? ResidentMegabytes(g_korveld) : -1;
    if (megabytes < 0) return state.SkipWithError("no loaded korveld to measure");
    state.counters["rss_mb"] = megabytes;
}

void ServiceRelease(benchmark::State &state, int run) {
    for (auto _ : state) {
        const std::string prefix = Prefix("REL", run);
        Holder holder;
        if (!SpawnHolder(holder, prefix, 1, 0) || !HolderReady(holder, 30))
            return state.SkipWithError("no holder");
        const auto killed = Clock::now();
        ::kill(holder.pid, SIGKILL);
        std::string line;
        bool seen = false;
        while (!seen && bench::ReadLine(g_releases, line, 5)) seen = line == prefix + "0";
        if (!seen) return state.SkipWithError("no release on the wire within 5 s");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - killed).count());
    }
}

bool ReadFarSide(int from) {
    std::string text;
    if (!bench::ReadLine(from, text, 30)) return false;
    std::istringstream in(text);
    return static_cast<bool>(in >> g_far.address >> g_far.tcp >> g_far.udp >> g_far.server >> g_far.sink);
}

const char *TakeText(int &argc, char **argv, const char *flag) {
    const std::string prefix = std::string("--") + flag + "=";
    const char *value = nullptr;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0)
            value = argv[i] + prefix.size();
        else
            argv[out++] = argv[i];
    }
    argc = out;
    return value;
}

pid_t Fork(void (*body)(const char *, int), const char *netns, int &report) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        ::close(fds[0]);
        body(netns, fds[1]);
    }
    ::close(fds[1]);
    report = fds[0];
    return child;
}

}  // namespace

int main(int argc, char **argv) {
    g_self = "/proc/self/exe";
    char resolved[4096];
    const ssize_t n = ::readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    if (n > 0) g_self.assign(resolved, static_cast<std::size_t>(n));
    if (argc == 6 && std::strcmp(argv[1], "--role=holder") == 0)
        RunHolder(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);

    const int pairs = bench::TakeFlag(argc, argv, "pairs", 5);
    g_korveld = bench::TakeFlag(argc, argv, "korveld", 0);
    const char *far = TakeText(argc, argv, "far");
    const char *watch = TakeText(argc, argv, "watch");
    if (!far || !watch) {
        std::fprintf(stderr, "usage: bench_service --far=NETNS --watch=NETNS [--korveld=PID] [--pairs=N]\n");
        return 2;
    }
    // Both children fork before any thread exists in this process.
    int far_report = -1;
    const pid_t far_side = Fork(RunFarSide, far, far_report);
    const pid_t watcher = Fork(RunWatcher, watch, g_releases);
    std::string ready;
    const bool started = far_side > 0 && watcher > 0 && ReadFarSide(far_report) &&
                         bench::ReadLine(g_releases, ready, 10) && ready == "ready";
    ::close(far_report);
    g_client = bench::UniqueName("CLI", getpid());
    if (!started || Reset(nullptr, 16, 4) != NRC_GOODRET || !AddNames({g_client})) {
        std::fprintf(stderr,
                     started ? "the service did not take this client\n" : "the far side did not start\n");
        for (pid_t child : {far_side, watcher}) {
            if (child > 0) ::kill(child, SIGKILL);
            if (child > 0) ::waitpid(child, nullptr, 0);
        }
        return 1;
    }

    auto timed = [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.3); };
    // A stream's first tenths of a second are its connection's start (the
    // congestion window opening, the threads finding their cores): the
    // steady rate wants longer runs.
    auto streamed = [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 1.0); };
    bench::RegisterPairs(
        {
            {"service-ping-pong", ServicePingPong, RawPingPong, timed},
            {"service-stream-sync", ServiceStream, [](benchmark::State &s) { RawStream(s); }, streamed},
            // Raw against raw across the same link: what waiting in poll()
            // costs the receiving side, and the sending side (reported as
            // "korvel" and "raw" only to pair them).
            {"service-poll-wait", [](benchmark::State &s) { RawStream(s, 'P'); },
             [](benchmark::State &s) { RawStream(s); }, streamed},
            {"service-poll-send", [](benchmark::State &s) { RawStream(s, 'S', true); },
             [](benchmark::State &s) { RawStream(s); }, streamed},
            {"service-node-status", ServiceNodeStatus, RawNodeStatus, timed},
        },
        pairs);
    for (int i = 0; i < pairs; ++i) {
        benchmark::RegisterBenchmark(("service-local-status/" + std::to_string(i) + "/korvel").c_str(),
                                     LocalStatus)
            ->UseRealTime()
            ->MinTime(0.2);
        benchmark::RegisterBenchmark(("service-local-status/" + std::to_string(i) + "/raw").c_str(),
                                     RawLocalRoundTrip)
            ->UseRealTime()
            ->MinTime(0.2);
    }
    for (int i = 0; i < kReleaseRuns; ++i)
        benchmark::RegisterBenchmark(("service-release/" + std::to_string(i) + "/korvel").c_str(),
                                     ServiceRelease, i)
            ->Iterations(1)
            ->UseManualTime();
    benchmark::RegisterBenchmark("service-rss/0/korvel", ServiceRss)->Iterations(1)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const bool far_side_ran = bench::Alive(far_side);
    for (pid_t child : {far_side, watcher}) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
    }
    if (!far_side_ran) std::fprintf(stderr, "the far side died during the run\n");
    return far_side_ran ? 0 : 1;
}
