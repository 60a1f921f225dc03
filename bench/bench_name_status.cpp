// Remote adapter status between two loopback nodes in two processes
// (NCBASTAT by address: one unicast NODE STATUS request and its response),
// next to a bare UDP request and reply of the same sizes between two
// processes, in the same run. Also the local adapter and session status,
// which put nothing on the wire.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "nb30.h"
#include "provider.h"

namespace {

constexpr std::uint16_t kPort = 21337;
constexpr int kNames = 4;
constexpr std::size_t kRequestSize = 50;                          // header + '*' question
constexpr std::size_t kResponseSize = 56 + 1 + kNames * 18 + 46;  // header + RR + node status

nbt::Settings BenchSettings() {
    nbt::Settings settings;
    settings.host_interfaces = false;
    settings.loopback_name_port = kPort;
    settings.loopback_session_port = kPort + 2;
    settings.reply_rate = 0;  // one asker, as fast as it can: not a flood to hold back
    return settings;
}

UCHAR Reset(nbt::Provider &provider) {
    NCB ncb{};
    ncb.ncb_command = NCBRESET;
    return provider.Netbios(&ncb);
}

void Pad(UCHAR *field, const std::string &text) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), NCBNAMSZ));
}

// The far side's node address, as the child wrote it to the pipe.
std::string g_answerer;

void BM_RemoteAdapterStatus(benchmark::State &state) {
    nbt::Provider asker(BenchSettings());
    if (Reset(asker) != NRC_GOODRET) {
        state.SkipWithError("reset failed");
        return;
    }
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb{};
        ncb.ncb_command = NCBASTAT;
        Pad(ncb.ncb_callname, g_answerer);
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (asker.Netbios(&ncb) != NRC_GOODRET) {
            state.SkipWithError("status failed");
            return;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

// A status of this node over and over: NCBASTAT of "*" or NCBSSTAT of all
// names, which put nothing on the wire.
void LocalStatusLoop(benchmark::State &state, nbt::Provider &provider, UCHAR command) {
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb{};
        ncb.ncb_command = command;
        Pad(command == NCBASTAT ? ncb.ncb_callname : ncb.ncb_name, "*");
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        provider.Netbios(&ncb);
        benchmark::DoNotOptimize(buffer.data());
    }
}

// For reference: the local status, which puts nothing on the wire, shows
// what carrying a block through the provider costs on its own.
void BM_LocalAdapterStatus(benchmark::State &state) {
    nbt::Provider provider(BenchSettings());
    if (Reset(provider) != NRC_GOODRET) {
        state.SkipWithError("reset failed");
        return;
    }
    LocalStatusLoop(state, provider, NCBASTAT);
}

void BM_LocalSessionStatus(benchmark::State &state) {
    nbt::Provider provider(BenchSettings());
    NCB add{};
    add.ncb_command = NCBADDNAME;
    Pad(add.ncb_name, "BENCHLOCAL");
    if (Reset(provider) != NRC_GOODRET || provider.Netbios(&add) != NRC_GOODRET) {
        state.SkipWithError("reset failed");
        return;
    }
    LocalStatusLoop(state, provider, NCBSSTAT);
}

struct RawPair {
    int asker = -1, answerer = -1;
    sockaddr_in asker_address{}, answerer_address{};
    RawPair() {
        asker = ::socket(AF_INET, SOCK_DGRAM, 0);
        answerer = ::socket(AF_INET, SOCK_DGRAM, 0);
        Bind(asker, "127.0.0.201", asker_address);
        Bind(answerer, "127.0.0.202", answerer_address);
        // The far side's answerer, in the child.
        answerer_address.sin_port = htons(kPort + 4);
        ::inet_pton(AF_INET, "127.0.0.203", &answerer_address.sin_addr);
    }
    // The child's answerer: it binds the well-known address itself.
    explicit RawPair(int) {
        answerer = ::socket(AF_INET, SOCK_DGRAM, 0);
        Bind(answerer, "127.0.0.203", answerer_address, kPort + 4);
    }
    ~RawPair() {
        ::close(asker);
        ::close(answerer);
    }
    static void Bind(int fd, const char *address, sockaddr_in &sa, std::uint16_t port = 0) {
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &sa.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    }
};

// The same exchange over bare sockets: the answering peer is the child
// process blocked in recv, as a second node would be, and the asker blocks
// for the reply. This is the figure the provider is measured against.
void BM_RawUdpRoundTrip(benchmark::State &state) {
    RawPair pair;
    std::vector<char> request(kRequestSize, 'q'), in(2048);
    for (auto _ : state) {
        ::sendto(pair.asker, request.data(), request.size(), 0,
                 reinterpret_cast<sockaddr *>(&pair.answerer_address), sizeof pair.answerer_address);
        ::recv(pair.asker, in.data(), in.size(), 0);
        benchmark::DoNotOptimize(in.data());
    }
}

// For reference only: both ends on one thread, so no thread ever sleeps.
void BM_RawUdpRoundTripOneThread(benchmark::State &state) {
    RawPair pair;
    std::vector<char> request(kRequestSize, 'q'), response(kResponseSize, 'r'), in(2048);
    for (auto _ : state) {
        ::sendto(pair.asker, request.data(), request.size(), 0,
                 reinterpret_cast<sockaddr *>(&pair.answerer_address), sizeof pair.answerer_address);
        ::recv(pair.answerer, in.data(), in.size(), 0);
        ::sendto(pair.answerer, response.data(), response.size(), 0,
                 reinterpret_cast<sockaddr *>(&pair.asker_address), sizeof pair.asker_address);
        ::recv(pair.asker, in.data(), in.size(), 0);
        benchmark::DoNotOptimize(in.data());
    }
}

// ---- the far side (child process) -----------------------------------------

[[noreturn]] void RunFarSide(int report) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the benchmark
    std::thread raw([] {
        RawPair pair(0);
        std::vector<char> in(2048), response(kResponseSize, 'r');
        for (;;) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n =
                ::recvfrom(pair.answerer, in.data(), in.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n > 0)
                ::sendto(pair.answerer, response.data(), response.size(), 0,
                         reinterpret_cast<sockaddr *>(&from), len);
        }
    });
    raw.detach();
    nbt::Provider answerer(BenchSettings());
    if (Reset(answerer) != NRC_GOODRET) _exit(1);
    for (int i = 0; i < kNames; ++i) {
        NCB add{};
        add.ncb_command = NCBADDNAME;
        Pad(add.ncb_name, "BENCH" + std::to_string(i));
        if (answerer.Netbios(&add) != NRC_GOODRET) _exit(2);
    }
    const std::string address = answerer.LanaAddress(0)->to_string() + "\n";
    if (::write(report, address.data(), address.size()) < 0) _exit(3);
    for (;;) ::pause();
}

}  // namespace

BENCHMARK(BM_RawUdpRoundTripOneThread)->UseRealTime();
BENCHMARK(BM_RawUdpRoundTrip)->UseRealTime();
BENCHMARK(BM_RemoteAdapterStatus)->UseRealTime();
BENCHMARK(BM_LocalAdapterStatus)->UseRealTime();
BENCHMARK(BM_LocalSessionStatus)->UseRealTime();

int main(int argc, char **argv) {
    int report[2];
    if (::pipe(report) != 0) return 1;
    // The far side forks before any thread exists in this process.
    const pid_t child = fork();
    if (child == 0) RunFarSide(report[1]);
    char line[64] = {};
    for (std::size_t got = 0; got < sizeof line - 1;) {
        if (::read(report[0], line + got, 1) != 1) return 1;  // the far side failed
        if (line[got] == '\n') break;
        ++got;
    }
    g_answerer.assign(line, std::strcspn(line, "\n"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return 0;
}
