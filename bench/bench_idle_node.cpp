// SPDX-License-Identifier: MIT
// An idle node that still has timers to keep: an H-node whose name server
// never answers (a socket in this process that nobody reads), two names
// added, a session that carried one message and then sits idle with
// keep-alives on, and a LISTEN pending. The peer of the session is a B-node
// in a child process, so that only this node's threads are counted.
//
// Over the window (default 140 s, at least two of the re-offers every name
// gets when its server is silent), counts the wake-ups of the provider's
// threads (voluntary context switches) against the timers that should fire
// in that window by the settings: for every name, the re-offer
// ns_recheck_interval after its last one gave up and the ns_retry_count
// retries of it, ns_retry_timeout apart; for the session, a keep-alive tick
// every ssn_keep_alive. Ends with
//   idle seconds=<s> wakeups=<n> due=<n> extra=<n> cpu_ms=<ms>
// Never run by CI: it takes over two minutes.
//   bench_idle_node [seconds]
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "nbt_event.h"

namespace {

using bench::Block;
using bench::Pad;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr auto kKeepAlive = std::chrono::seconds(30);

// Voluntary context switches and CPU ticks of every thread but the caller.
struct Sample {
    long long switches = 0, ticks = 0;
};

Sample Threads() {
    Sample sample;
    const long self = ::syscall(SYS_gettid);
    DIR *dir = ::opendir("/proc/self/task");
    if (!dir) return sample;
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atol(entry->d_name) == self) continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream status(task + "/status");
        for (std::string key; status >> key;) {
            long long value = 0;
            if (key == "voluntary_ctxt_switches:" && status >> value) sample.switches += value;
        }
        std::ifstream stat(task + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');  // the command name may hold spaces
        if (close == std::string::npos) continue;
        std::vector<std::string> fields;
        std::string field;
        for (std::size_t i = close + 2; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == ' ') {
                fields.push_back(field);
                field.clear();
            } else {
                field += text[i];
            }
        }
        if (fields.size() > 12)
            sample.ticks += std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
    }
    ::closedir(dir);
    return sample;
}

// The peer: calls `name`, takes in one message, then stays idle.
[[noreturn]] void RunPeer(nbt::Settings settings, const std::string &name, pid_t run) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) _exit(0);
    settings.node_type = nbt::NodeType::kB;
    settings.name_server = {};
    settings.ssn_keep_alive = std::chrono::milliseconds(0);
    nbt::Provider peer(settings);
    const std::string own = bench::UniqueName("PEER", run);
    if (bench::Reset(peer) != NRC_GOODRET || bench::AddName(peer, own) != NRC_GOODRET) _exit(2);
    for (int attempt = 0; attempt < 120; ++attempt) {
        NCB call = Block(NCBCALL);
        Pad(call.ncb_name, own);
        Pad(call.ncb_callname, name);
        if (peer.Netbios(&call) == NRC_GOODRET) {
            UCHAR byte = 0;
            NCB receive = Block(NCBRECV);
            receive.ncb_lsn = call.ncb_lsn;
            receive.ncb_buffer = &byte;
            receive.ncb_length = 1;
            peer.Netbios(&receive);
            for (;;) ::pause();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    _exit(3);
}

// Firings of a timer due at first, first + period, ... in [from, to];
// `near_edge` is set when one falls within a second of either end.
int Firings(Clock::time_point first, Clock::duration period, Clock::time_point from, Clock::time_point to,
            bool &near_edge) {
    int count = 0;
    for (auto t = first; t <= to + std::chrono::seconds(1); t += period) {
        if (t >= from - std::chrono::seconds(1) &&
            (t - from < std::chrono::seconds(1) || to - t < std::chrono::seconds(1)))
            near_edge = true;
        if (t >= from && t <= to) ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 140;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_idle_node [seconds]\n");
        return 2;
    }
    const pid_t run = getpid();
    nbt::Settings settings = bench::RunSettings();
    const std::string name = bench::UniqueName("IDLE", run, 0), other = bench::UniqueName("IDLE", run, 1);

    // The peer forks before any thread exists in this process.
    const pid_t peer = fork();
    if (peer < 0) return 1;
    if (peer == 0) RunPeer(settings, name, run);

    // The silent name server: bound, never read, so nothing answers and no
    // ICMP error comes back either.
    std::uint16_t server_port = 0;
    const int server = bench::BoundLoopbackSocket(SOCK_DGRAM, &server_port);
    if (server < 0) return 1;
    settings.node_type = nbt::NodeType::kH;
    settings.name_server = {INADDR_LOOPBACK, server_port};
    settings.ssn_keep_alive = kKeepAlive;

    int status = 0;
    {
        nbt::Provider node(settings);
        if (bench::Reset(node) != NRC_GOODRET) return 1;
        // Both names at once: the server's silence costs each the same wait.
        std::array<NCB, 2> adds{Block(NCBADDNAME | ASYNCH), Block(NCBADDNAME | ASYNCH)};
        std::array<NbtEvent, 2> added;
        std::array<Clock::time_point, 2> anchors;
        for (int i = 0; i < 2; ++i) {
            Pad(adds[i].ncb_name, i == 0 ? name : other);
            adds[i].ncb_event = &added[i];
            if (node.Netbios(&adds[i]) != NRC_GOODRET) return 1;
        }
        for (int i = 0; i < 2; ++i) {
            if (!added[i].WaitFor(std::chrono::seconds(60)) || adds[i].ncb_retcode != NRC_GOODRET) {
                std::fprintf(stderr, "adding a name failed\n");
                return 1;
            }
            anchors[i] = Clock::now();  // its re-offer timer starts as the add completes
        }
        NCB listen = Block(NCBLISTEN | ASYNCH);
        NbtEvent called;
        Pad(listen.ncb_name, name);
        Pad(listen.ncb_callname, "*");
        listen.ncb_event = &called;
        if (node.Netbios(&listen) != NRC_GOODRET || !called.WaitFor(std::chrono::seconds(60)) ||
            listen.ncb_retcode != NRC_GOODRET) {
            std::fprintf(stderr, "the peer never called\n");
            kill(peer, SIGKILL);
            _exit(1);
        }
        const auto session = Clock::now();
        UCHAR byte = 1;
        NCB send = Block(NCBSEND);
        send.ncb_lsn = listen.ncb_lsn;
        send.ncb_buffer = &byte;
        send.ncb_length = 1;
        if (node.Netbios(&send) != NRC_GOODRET) return 1;
        NCB pending = Block(NCBLISTEN | ASYNCH);
        Pad(pending.ncb_name, other);
        Pad(pending.ncb_callname, "*");
        if (node.Netbios(&pending) != NRC_GOODRET) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the send and the peer settle

        const auto from = Clock::now();
        const Sample before = Threads();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const Sample after = Threads();
        const auto to = Clock::now();

        bool near_edge = false;
        int due = Firings(session + kKeepAlive, kKeepAlive, from, to, near_edge);
        const auto cycle = settings.ns_recheck_interval + settings.ns_retry_timeout * settings.ns_retry_count;
        for (const auto anchor : anchors)
            for (int i = 0; i <= settings.ns_retry_count; ++i)
                due += Firings(anchor + settings.ns_recheck_interval + settings.ns_retry_timeout * i, cycle,
                               from, to, near_edge);
        const long long wakeups = after.switches - before.switches;
        std::printf(
            "keep-alive every %llds, %d names re-offered to a silent server %llds after the last try "
            "(%d tries %llds apart)%s\n",
            static_cast<long long>(kKeepAlive.count()), 2,
            static_cast<long long>(settings.ns_recheck_interval.count() / 1000), settings.ns_retry_count,
            static_cast<long long>(settings.ns_retry_timeout.count() / 1000),
            near_edge ? "; a timer fell within 1 s of the window's edge, the count may be off by one" : "");
        std::printf("idle seconds=%.1f wakeups=%lld due=%d extra=%lld cpu_ms=%lld\n",
                    Seconds(to - from).count(), wakeups, due, wakeups > due ? wakeups - due : 0,
                    (after.ticks - before.ticks) * 1000 / ::sysconf(_SC_CLK_TCK));
        std::fflush(stdout);
    }
    kill(peer, SIGKILL);
    waitpid(peer, &status, 0);
    ::close(server);
    return 0;
}
