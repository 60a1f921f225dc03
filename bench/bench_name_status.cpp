// Remote adapter status between two loopback nodes (NCBASTAT by address:
// one unicast NODE STATUS request and its response), next to a bare UDP
// request and reply of the same sizes between two sockets, in the same run.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

void BM_RemoteAdapterStatus(benchmark::State &state) {
    nbt::Provider asker(BenchSettings()), answerer(BenchSettings());
    if (Reset(asker) != NRC_GOODRET || Reset(answerer) != NRC_GOODRET) {
        state.SkipWithError("reset failed");
        return;
    }
    for (int i = 0; i < kNames; ++i) {
        NCB add{};
        add.ncb_command = NCBADDNAME;
        Pad(add.ncb_name, "BENCH" + std::to_string(i));
        if (answerer.Netbios(&add) != NRC_GOODRET) {
            state.SkipWithError("add failed");
            return;
        }
    }
    const std::string target = answerer.LanaAddress(0)->to_string();
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb{};
        ncb.ncb_command = NCBASTAT;
        Pad(ncb.ncb_callname, target);
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (asker.Netbios(&ncb) != NRC_GOODRET) {
            state.SkipWithError("status failed");
            return;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

// For reference: the local status, which puts nothing on the wire, shows
// what handing a block to the network thread and back costs on its own.
void BM_LocalAdapterStatus(benchmark::State &state) {
    nbt::Provider provider(BenchSettings());
    if (Reset(provider) != NRC_GOODRET) {
        state.SkipWithError("reset failed");
        return;
    }
    std::vector<UCHAR> buffer(4000);
    for (auto _ : state) {
        NCB ncb{};
        ncb.ncb_command = NCBASTAT;
        Pad(ncb.ncb_callname, "*");
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        provider.Netbios(&ncb);
        benchmark::DoNotOptimize(buffer.data());
    }
}

struct RawPair {
    int asker = -1, answerer = -1;
    sockaddr_in asker_address{}, answerer_address{};
    RawPair() {
        asker = ::socket(AF_INET, SOCK_DGRAM, 0);
        answerer = ::socket(AF_INET, SOCK_DGRAM, 0);
        Bind(asker, "127.0.0.201", asker_address);
        Bind(answerer, "127.0.0.202", answerer_address);
    }
    ~RawPair() {
        ::close(asker);
        ::close(answerer);
    }
    static void Bind(int fd, const char *address, sockaddr_in &sa) {
        sa.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &sa.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    }
};

// The same exchange over bare sockets: the answering peer is a thread of its
// own blocked in recv, as a second node would be, and the asker blocks for
// the reply. This is the figure the provider is measured against.
void BM_RawUdpRoundTrip(benchmark::State &state) {
    RawPair pair;
    std::atomic<bool> stop{false};
    std::thread answerer([&] {
        std::vector<char> in(2048), response(kResponseSize, 'r');
        while (true) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n =
                ::recvfrom(pair.answerer, in.data(), in.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n <= 0 || stop.load()) break;
            ::sendto(pair.answerer, response.data(), response.size(), 0, reinterpret_cast<sockaddr *>(&from),
                     len);
        }
    });
    std::vector<char> request(kRequestSize, 'q'), in(2048);
    for (auto _ : state) {
        ::sendto(pair.asker, request.data(), request.size(), 0,
                 reinterpret_cast<sockaddr *>(&pair.answerer_address), sizeof pair.answerer_address);
        ::recv(pair.asker, in.data(), in.size(), 0);
        benchmark::DoNotOptimize(in.data());
    }
    stop = true;
    ::sendto(pair.asker, "x", 1, 0, reinterpret_cast<sockaddr *>(&pair.answerer_address),
             sizeof pair.answerer_address);
    answerer.join();
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

}  // namespace

BENCHMARK(BM_RawUdpRoundTripOneThread)->UseRealTime();
BENCHMARK(BM_RawUdpRoundTrip)->UseRealTime();
BENCHMARK(BM_RemoteAdapterStatus)->UseRealTime();
BENCHMARK(BM_LocalAdapterStatus)->UseRealTime();
BENCHMARK_MAIN();
