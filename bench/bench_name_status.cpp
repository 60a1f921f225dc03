// SPDX-License-Identifier: MIT
// Node status between two loopback nodes in two processes (NCBASTAT by
// address: one unicast NODE STATUS request and its response), against a
// blocking UDP request and answer of the same sizes between the same two
// processes, registered as interleaved pairs (bench_support.h):
//   node-status          the answering node's reply limit switched off
//                        (reply_rate = 0), one asker as fast as it can
//   node-status-limited  the answering node at its default reply limit,
//                        asked from eight addresses in turn, each well
//                        within its budget (20 a second against 30); both
//                        sides paced alike, only the exchanges timed
// and, no goal, node-status taken apart, one side Korvel at a time:
//   node-status-answerer a bare UDP asker sending a real request to the
//                        open node
//   node-status-asker    an asking node against a bare UDP answerer (on
//                        127.77.0.1 at the nodes' port) that sends back the
//                        open node's own answer, its transaction id copied
// and, putting nothing on the wire, the local adapter and session status of
// a node holding 16 names and 8 live sessions, their return codes checked:
//   local-status/<n>/korvel          NCBASTAT of "*"
//   local-session-status/<n>/korvel  NCBSSTAT of "*"
// --pairs=N sets how many pairs and repetitions (default 5). Ports and names
// are this run's own; every bare receive has a time-out.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "name_packet.h"

namespace {

using bench::Block;
using bench::Pad;
using Clock = std::chrono::steady_clock;

constexpr int kNames = 4;                                         // on each answering node
constexpr std::size_t kRequestSize = 50;                          // header + '*' question
constexpr std::size_t kResponseSize = 56 + 1 + kNames * 18 + 46;  // header + RR + node status
constexpr int kLocalNames = 16;
constexpr int kLocalSessions = 8;
constexpr int kAskers = 8;  // addresses asking the limited node
constexpr auto kPace = std::chrono::microseconds(1000000 / (kAskers * 20));
constexpr int kPacedExchanges = 48;

nbt::Settings g_settings;
struct FarSide {
    std::string open, limited;  // node addresses
    std::uint16_t raw_port = 0;
    std::string listener;  // name the far side listens on
    std::string mimic;     // the bare answerer with the open node's answer, or "-"
} g_far;

constexpr const char *kMimicAddress = "127.77.0.1";  // outside the nodes' 127.0.0.N

sockaddr_in Endpoint(const std::string &address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    return to;
}

sockaddr_in NamePortAt(const std::string &address) {
    return Endpoint(address, g_settings.loopback_name_port);
}

// A unicast NODE STATUS request for "*", as a node sends it.
std::vector<std::uint8_t> StatusRequest(std::uint16_t id) {
    return nbt::codec::BuildNodeStatusRequest(id, nbt::codec::MakeName("*"), false);
}

nbt::Settings Open() {
    nbt::Settings settings = g_settings;
    settings.reply_rate = 0;
    return settings;
}

UCHAR RemoteStatus(nbt::Provider &asker, const std::string &address, std::vector<UCHAR> &buffer) {
    NCB ncb = Block(NCBASTAT);
    Pad(ncb.ncb_callname, address);
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    return asker.Netbios(&ncb);
}

// A bare UDP asker on the loopback address, waiting at most 2 s for each answer.
struct RawAsker {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to;
    std::vector<std::uint8_t> in = std::vector<std::uint8_t>(2048);

    explicit RawAsker(const sockaddr_in &peer) : to(peer) { bench::BoundWaits(fd, 2); }
    ~RawAsker() { ::close(fd); }
    RawAsker(const RawAsker &) = delete;
    RawAsker &operator=(const RawAsker &) = delete;
    // Sends `request` and reads one answer into `in`: its size, or -1.
    ssize_t Ask(const std::vector<std::uint8_t> &request) {
        if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                     sizeof to) < 0)
            return -1;
        return ::recv(fd, in.data(), in.size(), 0);
    }
    // The bare exchange: a request and an answer of a node status's sizes.
    bool Exchange() {
        static const std::vector<std::uint8_t> request(kRequestSize, 'q');
        const ssize_t got = Ask(request);
        benchmark::DoNotOptimize(in.data());
        return got == static_cast<ssize_t>(kResponseSize);
    }
};

// The far side's bare answerer.
sockaddr_in RawAnswerer() {
    return Endpoint("127.0.0.1", g_far.raw_port);
}

// A bare UDP asker sending real requests to a node, checking each answer's
// id: the request is built once, each exchange writes only its id.
void RawAskerOfNode(benchmark::State &state) {
    RawAsker raw(NamePortAt(g_far.open));
    auto request = StatusRequest(0);
    std::uint16_t id = 0;
    for (auto _ : state) {
        ++id;
        request[0] = static_cast<std::uint8_t>(id >> 8);
        request[1] = static_cast<std::uint8_t>(id & 0xFF);
        const ssize_t got = raw.Ask(request);
        if (got != static_cast<ssize_t>(kResponseSize) || raw.in[0] != (id >> 8) || raw.in[1] != (id & 0xFF))
            return state.SkipWithError("no answer");
    }
}

void KorvelAskerOfMimic(benchmark::State &state) {
    if (g_far.mimic == "-") return state.SkipWithError("no bare answerer");
    static nbt::Provider asker(g_settings);
    static const bool ready = bench::Reset(asker) == NRC_GOODRET;
    if (!ready) return state.SkipWithError("reset failed");
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state)
        if (RemoteStatus(asker, g_far.mimic, buffer) != NRC_GOODRET)
            return state.SkipWithError("status failed");
}

void KorvelNodeStatus(benchmark::State &state) {
    static nbt::Provider asker(g_settings);
    static const bool ready = bench::Reset(asker) == NRC_GOODRET;
    if (!ready) return state.SkipWithError("reset failed");
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        if (RemoteStatus(asker, g_far.open, buffer) != NRC_GOODRET)
            return state.SkipWithError("status failed");
        benchmark::DoNotOptimize(buffer.data());
    }
}

void RawNodeStatus(benchmark::State &state) {
    RawAsker raw(RawAnswerer());
    for (auto _ : state)
        if (!raw.Exchange()) return state.SkipWithError("no answer");
}

// Runs `exchange` kPacedExchanges times, one every kPace, timing each alone.
template <class Exchange>
void Paced(benchmark::State &state, Exchange exchange) {
    auto slot = Clock::now();
    for (auto _ : state) {
        slot += kPace;
        std::this_thread::sleep_until(slot);
        const auto start = Clock::now();
        if (!exchange()) return state.SkipWithError("exchange failed");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

void KorvelNodeStatusLimited(benchmark::State &state) {
    static std::vector<std::unique_ptr<nbt::Provider>> askers = [] {
        std::vector<std::unique_ptr<nbt::Provider>> made;
        for (int i = 0; i < kAskers; ++i) {
            made.push_back(std::make_unique<nbt::Provider>(g_settings));  // each on its own address
            if (bench::Reset(*made.back()) != NRC_GOODRET) made.clear();
        }
        return made;
    }();
    if (askers.size() != kAskers) return state.SkipWithError("reset failed");
    std::vector<UCHAR> buffer(4000);
    std::size_t next = 0;
    Paced(state, [&] {
        nbt::Provider &asker = *askers[next++ % askers.size()];
        return RemoteStatus(asker, g_far.limited, buffer) == NRC_GOODRET;
    });
}

void RawNodeStatusLimited(benchmark::State &state) {
    RawAsker raw(RawAnswerer());
    Paced(state, [&] { return raw.Exchange(); });
}

// A node with 16 names and 8 sessions to the far side.
nbt::Provider *BusyNode() {
    static std::unique_ptr<nbt::Provider> node = [] {
        auto made = std::make_unique<nbt::Provider>(g_settings);
        if (bench::Reset(*made, 2 * kLocalSessions, kLocalNames + 2) != NRC_GOODRET) return decltype(made)();
        for (int i = 0; i < kLocalNames; ++i)
            if (bench::AddName(*made, bench::UniqueName("LOC", getpid(), i)) != NRC_GOODRET)
                return decltype(made)();
        for (int i = 0; i < kLocalSessions; ++i) {
            NCB call = Block(NCBCALL);
            Pad(call.ncb_name, bench::UniqueName("LOC", getpid(), i));
            Pad(call.ncb_callname, g_far.listener);
            call.ncb_rto = call.ncb_sto = 20;
            if (made->Netbios(&call) != NRC_GOODRET) return decltype(made)();
        }
        return made;
    }();
    return node.get();
}

void LocalStatus(benchmark::State &state, UCHAR command) {
    nbt::Provider *node = BusyNode();
    if (!node) return state.SkipWithError("no node with 16 names and 8 sessions");
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb = Block(command);
        Pad(command == NCBASTAT ? ncb.ncb_callname : ncb.ncb_name, "*");
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (node->Netbios(&ncb) != NRC_GOODRET) return state.SkipWithError("status failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    // The whole answer, every name (and session) in it.
    const int listed = command == NCBASTAT ? reinterpret_cast<ADAPTER_STATUS *>(buffer.data())->name_count
                                           : reinterpret_cast<SESSION_HEADER *>(buffer.data())->num_sess;
    if (listed < (command == NCBASTAT ? kLocalNames : kLocalSessions))
        state.SkipWithError("status incomplete");
}

// ---- the far side (child process) -----------------------------------------

// Answers every datagram on `fd` with `answer`, on a thread of its own for
// the rest of the process; under the request's transaction id if asked to.
void StartAnswerer(int fd, std::vector<std::uint8_t> answer, bool with_request_id) {
    std::thread([fd, answer = std::move(answer), with_request_id]() mutable {
        std::vector<std::uint8_t> in(2048);
        for (;;) {
            sockaddr_in from{};
            socklen_t from_len = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, in.data(), in.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
            if (n <= 0 || (with_request_id && n < 2)) continue;
            if (with_request_id) std::copy_n(in.begin(), 2, answer.begin());
            ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
        }
    }).detach();
}

// Asks the node at `node` once, then answers every request to kMimicAddress
// with that answer under the request's id. False when it cannot.
bool StartMimic(const std::string &node) {
    std::vector<std::uint8_t> answer;
    {
        RawAsker ask(NamePortAt(node));
        if (ask.Ask(StatusRequest(1)) != static_cast<ssize_t>(kResponseSize)) return false;
        answer.assign(ask.in.begin(), ask.in.begin() + kResponseSize);
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in at = NamePortAt(kMimicAddress);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) {
        ::close(fd);
        return false;
    }
    StartAnswerer(fd, std::move(answer), /*with_request_id=*/true);
    return true;
}

[[noreturn]] void RunFarSide(int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
    if (getppid() == 1) _exit(0);
    std::uint16_t raw_port = 0;
    const int raw = bench::BoundLoopbackSocket(SOCK_DGRAM, &raw_port);
    if (raw < 0) _exit(1);
    StartAnswerer(raw, std::vector<std::uint8_t>(kResponseSize, 'r'), /*with_request_id=*/false);

    nbt::Provider open(Open()), limited(g_settings);
    if (bench::Reset(open, kLocalSessions + 2) != NRC_GOODRET || bench::Reset(limited) != NRC_GOODRET)
        _exit(2);
    for (int i = 0; i < kNames; ++i)
        if (bench::AddName(open, bench::UniqueName("OPN", getpid(), i)) != NRC_GOODRET ||
            bench::AddName(limited, bench::UniqueName("LIM", getpid(), i)) != NRC_GOODRET)
            _exit(3);
    // The first name also takes the busy node's sessions.
    static std::array<NCB, kLocalSessions> listens;
    for (NCB &listen : listens) {
        listen = Block(NCBLISTEN | ASYNCH);
        Pad(listen.ncb_name, bench::UniqueName("OPN", getpid(), 0));
        Pad(listen.ncb_callname, "*");
        if (open.Netbios(&listen) != NRC_GOODRET) _exit(4);
    }
    const std::string open_address = open.LanaAddress(0)->to_string();
    const std::string mimic = StartMimic(open_address) ? kMimicAddress : "-";
    std::ostringstream line;
    line << open_address << ' ' << limited.LanaAddress(0)->to_string() << ' ' << raw_port << ' '
         << bench::UniqueName("OPN", getpid(), 0) << ' ' << mimic << '\n';
    const std::string text = line.str();
    if (::write(report, text.data(), text.size()) < 0) _exit(5);
    ::close(report);
    for (;;) ::pause();
}

bool ReadFarSide(int from) {
    std::string text;
    if (!bench::ReadLine(from, text, 30)) return false;
    std::istringstream in(text);
    return static_cast<bool>(in >> g_far.open >> g_far.limited >> g_far.raw_port >> g_far.listener >>
                             g_far.mimic);
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = bench::TakeFlag(argc, argv, "pairs", 5);
    bench::TakeIterationsFlag(argc, argv);
    g_settings = bench::RunSettings();
    int report[2];
    if (::pipe(report) != 0) return 1;
    // The far side forks before any thread exists in this process.
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        ::close(report[0]);
        RunFarSide(report[1]);
    }
    ::close(report[1]);  // so that a far side that dies ends the read
    const bool ready = ReadFarSide(report[0]);
    ::close(report[0]);
    if (!ready) {
        std::fprintf(stderr, "the far side did not start\n");
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }

    bench::RegisterPairs(
        {
            {"node-status", KorvelNodeStatus, RawNodeStatus,
             [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.3); }},
            {"node-status-answerer", RawAskerOfNode, RawNodeStatus,
             [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.3); }},
            {"node-status-asker", KorvelAskerOfMimic, RawNodeStatus,
             [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.3); }},
            {"node-status-limited", KorvelNodeStatusLimited, RawNodeStatusLimited,
             [](benchmark::internal::Benchmark *b) { b->Iterations(kPacedExchanges); }, true},
        },
        pairs);
    for (int i = 0; i < pairs; ++i) {
        const std::string n = std::to_string(i);
        benchmark::RegisterBenchmark(("local-status/" + n + "/korvel").c_str(), LocalStatus, UCHAR{NCBASTAT})
            ->Apply([](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.2); });
        benchmark::RegisterBenchmark(("local-session-status/" + n + "/korvel").c_str(), LocalStatus,
                                     UCHAR{NCBSSTAT})
            ->Apply([](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.2); });
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const bool far_side_ran = bench::Alive(child);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!far_side_ran) std::fprintf(stderr, "the far side died during the run\n");
    return far_side_ran ? 0 : 1;
}
