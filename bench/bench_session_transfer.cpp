// SPDX-License-Identifier: MIT
// Session throughput, latency and CPU between two loopback nodes, each in
// its own process as in real use, against raw TCP carrying the same framing
// the way a good hand-written client does: each message leaves with one
// sendmsg (header and body together, looping only on a partial write), and
// arrives as a read of the 4-byte header and then reads of the body straight
// into the caller's buffer.
//   stream-sync     64 KiB messages one way, one NCBSEND at a time
//   stream-async    64 KiB messages, four NCBSENDs in flight (and four
//                   NCBRECVs on the far side), against the same raw stream
//   stream-sync-4k  4 KiB messages one way
//   ping-pong       one byte there and back
//   poll-wait       raw against raw: the 64 KiB stream into a far side that
//                   waits in poll() as the provider's receives do, against
//                   one that blocks in recv()
// Each run of a stream also reports the CPU time (user plus system, all
// threads) of the sending process ("cpu_near") and of the receiving one
// ("cpu_far") in nanoseconds per byte carried. Every stream run ends with a
// 1-byte flush message that the far side answers once it has taken in all
// before it, inside the timing and the CPU count.
//
// Every figure is registered as interleaved Korvel/raw pairs (see
// bench_support.h); --pairs=N sets how many (default 5). Sessions carry
// receive and send time-outs, bare sockets SO_RCVTIMEO and SO_SNDTIMEO: a
// lost far side ends a run with an error, never a hang.
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <thread>
#include <type_traits>
#include <vector>

#include "bench_support.h"
#include "nbt_event.h"
#include "raw_framing.h"

namespace {

using bench::Block;
using bench::kFlush;
using bench::kSocketTimeout;
using bench::Last;
using bench::Pad;
using bench::ReceiveFramed;
using bench::SendFramed;
using bench::ServeRaw;

constexpr WORD kLarge = 65535;  // the largest NCB
constexpr WORD kSmall = 4096;
constexpr UCHAR kTimeout = 20;  // 10 s, in 500 ms units: armed, never reached

nbt::Settings g_settings;
std::uint16_t g_raw_port = 0;
std::string g_server, g_client;
pid_t g_child = -1;

UCHAR Send(nbt::Provider &provider, UCHAR lsn, const void *data, WORD length) {
    NCB ncb = Block(NCBSEND);
    ncb.ncb_lsn = lsn;
    ncb.ncb_buffer = static_cast<PUCHAR>(const_cast<void *>(data));
    ncb.ncb_length = length;
    return provider.Netbios(&ncb);
}

UCHAR Receive(nbt::Provider &provider, UCHAR lsn, void *data, WORD length, WORD *got = nullptr) {
    NCB ncb = Block(NCBRECV);
    ncb.ncb_lsn = lsn;
    ncb.ncb_buffer = static_cast<PUCHAR>(data);
    ncb.ncb_length = length;
    const UCHAR rc = provider.Netbios(&ncb);
    if (got) *got = ncb.ncb_length;
    return rc;
}

// Asynchronous NCBs kept in flight, kWindow at a time, the way a streaming
// NetBIOS application overlaps its sends or its receives.
constexpr int kWindow = 4;

struct Window {
    struct Slot {
        NCB ncb;
        NbtEvent event;
        std::vector<UCHAR> buffer = std::vector<UCHAR>(kLarge, 0x5A);
        bool busy = false;
    };
    std::array<Slot, kWindow> slots;
    int next = 0;

    // Waits for the oldest slot (if in flight), hands it to `done` if
    // given, then submits it again.
    template <class Done = bool (*)(Slot &)>
    bool Cycle(nbt::Provider &provider, UCHAR command, UCHAR lsn, Done done = nullptr) {
        Slot &slot = slots[next];
        next = (next + 1) % kWindow;
        if (slot.busy) {
            if (!slot.event.WaitFor(std::chrono::seconds(30))) return false;
            slot.busy = false;
            if (slot.ncb.ncb_retcode != NRC_GOODRET) return false;
            if constexpr (!std::is_same_v<Done, bool (*)(Slot &)>)
                if (!done(slot)) return false;
        }
        slot.ncb = Block(command | ASYNCH);
        slot.ncb.ncb_lsn = lsn;
        slot.ncb.ncb_buffer = slot.buffer.data();
        slot.ncb.ncb_length = kLarge;
        slot.ncb.ncb_event = &slot.event;
        if (provider.Netbios(&slot.ncb) != NRC_GOODRET) return false;
        slot.busy = true;
        return true;
    }
    // The session times out every NCB in 10 s; the bound here only covers a
    // provider that lost one.
    void Drain() {
        for (Slot &slot : slots)
            if (slot.busy) slot.event.WaitFor(std::chrono::seconds(30));
    }
};

// ---- the far side (child process) -----------------------------------------

void ServeSession(nbt::Provider &provider, UCHAR lsn) {
    std::vector<UCHAR> buffer(kLarge);
    WORD got = 0;
    if (Receive(provider, lsn, buffer.data(), kLarge, &got) != NRC_GOODRET) return;
    const UCHAR mode = got > 0 ? buffer[0] : 0;
    if (mode == 'W') {
        Window window;
        auto answer_flush = [&](Window::Slot &slot) {
            const bool flush = slot.ncb.ncb_length == 1 && slot.buffer[0] == kFlush;
            return !flush || Send(provider, lsn, slot.buffer.data(), 1) == NRC_GOODRET;
        };
        while (window.Cycle(provider, NCBRECV, lsn, answer_flush)) {
        }
        window.Drain();
    }
    while (Receive(provider, lsn, buffer.data(), kLarge, &got) == NRC_GOODRET) {
        const bool answer = mode == 'E' || (got == 1 && buffer[0] == kFlush);
        if (answer && Send(provider, lsn, buffer.data(), got) != NRC_GOODRET) break;
    }
    NCB hangup = Block(NCBHANGUP);
    hangup.ncb_lsn = lsn;
    provider.Netbios(&hangup);
}

[[noreturn]] void RunFarSide(int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
    if (getppid() == 1) _exit(0);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(g_raw_port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(listener, 8) != 0)
        _exit(1);
    std::thread raw([listener] {
        for (;;) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd >= 0) ServeRaw(fd);
        }
    });
    raw.detach();
    nbt::Provider provider(g_settings);
    if (bench::Reset(provider) != NRC_GOODRET || bench::AddName(provider, g_server) != NRC_GOODRET) _exit(2);
    if (::write(report, "ready\n", 6) != 6) _exit(4);
    ::close(report);
    for (;;) {
        NCB listen = Block(NCBLISTEN);
        Pad(listen.ncb_name, g_server);
        Pad(listen.ncb_callname, "*");
        listen.ncb_rto = listen.ncb_sto = kTimeout;
        const UCHAR rc = provider.Netbios(&listen);
        if (rc == NRC_GOODRET)
            ServeSession(provider, listen.ncb_lsn);
        else if (rc != NRC_CMDTMO)
            _exit(3);
    }
}

// ---- the near side ---------------------------------------------------------

nbt::Provider *g_near = nullptr;

// A session to the far side's node, in sink ('S'), windowed sink ('W') or
// echo ('E') mode.
UCHAR OpenSession(char mode) {
    for (int attempt = 0; attempt < 3 && bench::Alive(g_child); ++attempt) {
        NCB call = Block(NCBCALL);
        Pad(call.ncb_name, g_client);
        Pad(call.ncb_callname, g_server);
        call.ncb_rto = call.ncb_sto = kTimeout;
        if (g_near->Netbios(&call) == NRC_GOODRET) {
            const char m = mode;
            if (Send(*g_near, call.ncb_lsn, &m, 1) != NRC_GOODRET) return 0;
            return call.ncb_lsn;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

// Sends the flush byte and waits for its answer: the far side has then
// taken in everything sent before it.
bool FlushSession(UCHAR lsn) {
    UCHAR byte = kFlush;
    return Send(*g_near, lsn, &byte, 1) == NRC_GOODRET && Receive(*g_near, lsn, &byte, 1) == NRC_GOODRET;
}

void CloseSession(UCHAR lsn) {
    NCB hangup = Block(NCBHANGUP);
    hangup.ncb_lsn = lsn;
    g_near->Netbios(&hangup);
}

int OpenRaw(char mode) {
    for (int attempt = 0; attempt < 3 && bench::Alive(g_child); ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(g_raw_port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            bench::BoundWaits(fd, kSocketTimeout);
            const char m = mode;
            if (!SendFramed(fd, &m, 1)) break;
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

bool FlushRaw(int fd) {
    std::uint8_t byte = kFlush;
    return SendFramed(fd, &byte, 1) && ReceiveFramed(fd, &byte, 1) == 1;
}

void SessionStream(benchmark::State &state, WORD size) {
    const UCHAR lsn = OpenSession('S');
    if (!lsn) return state.SkipWithError("no session");
    std::vector<UCHAR> block(size, 0x5A);
    const bench::CpuPerByte cpu(g_child);
    while (state.KeepRunning()) {
        if (Send(*g_near, lsn, block.data(), size) != NRC_GOODRET) return state.SkipWithError("send failed");
        if (Last(state) && !FlushSession(lsn)) return state.SkipWithError("flush failed");
    }
    const double bytes = static_cast<double>(state.iterations()) * size;
    cpu.Report(state, bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    CloseSession(lsn);
}

// mode 'S': the far side's receives block in recv(); 'P': they wait in
// poll(), as a receive another thread can end must (raw_framing.h).
void RawStream(benchmark::State &state, WORD size, char mode = 'S') {
    const int fd = OpenRaw(mode);
    if (fd < 0) return state.SkipWithError("no connection");
    std::vector<std::uint8_t> block(size, 0x5A);
    const bench::CpuPerByte cpu(g_child);
    while (state.KeepRunning()) {
        if (!SendFramed(fd, block.data(), size) || (Last(state) && !FlushRaw(fd))) {
            ::close(fd);
            return state.SkipWithError("send failed");
        }
    }
    ::close(fd);
    const double bytes = static_cast<double>(state.iterations()) * size;
    cpu.Report(state, bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void SessionStreamWindowed(benchmark::State &state) {
    const UCHAR lsn = OpenSession('W');
    if (!lsn) return state.SkipWithError("no session");
    Window window;
    while (state.KeepRunning()) {
        if (!window.Cycle(*g_near, NCBSEND, lsn)) return state.SkipWithError("send failed");
        if (Last(state)) {
            window.Drain();
            if (!FlushSession(lsn)) return state.SkipWithError("flush failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
    CloseSession(lsn);
}

void SessionPingPong(benchmark::State &state) {
    const UCHAR lsn = OpenSession('E');
    if (!lsn) return state.SkipWithError("no session");
    UCHAR byte = 1, back = 0;
    for (auto _ : state) {
        if (Send(*g_near, lsn, &byte, 1) != NRC_GOODRET || Receive(*g_near, lsn, &back, 1) != NRC_GOODRET)
            return state.SkipWithError("exchange failed");
    }
    CloseSession(lsn);
}

void RawPingPong(benchmark::State &state) {
    bench::RawPingPong(state, OpenRaw('E'));
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = bench::TakeFlag(argc, argv, "pairs", 5);
    bench::TakeIterationsFlag(argc, argv);
    g_settings = bench::RunSettings();
    g_raw_port = bench::FreePort(SOCK_STREAM);
    g_server = bench::UniqueName("SRV", getpid());
    g_client = bench::UniqueName("CLI", getpid());
    int report[2];
    if (::pipe(report) != 0) return 1;
    // The far side forks before any thread exists in this process.
    g_child = fork();
    if (g_child < 0) return 1;
    if (g_child == 0) {
        ::close(report[0]);
        RunFarSide(report[1]);
    }
    ::close(report[1]);  // so that a far side that dies ends the read
    std::string ready;
    const bool started = bench::ReadLine(report[0], ready, 30);
    ::close(report[0]);
    if (!started) {
        std::fprintf(stderr, "the far side did not start\n");
        kill(g_child, SIGKILL);
        waitpid(g_child, nullptr, 0);
        return 1;
    }
    nbt::Provider near(g_settings);
    g_near = &near;
    if (bench::Reset(near) != NRC_GOODRET || bench::AddName(near, g_client) != NRC_GOODRET) {
        std::fprintf(stderr, "the near node did not start\n");
        kill(g_child, SIGKILL);
        return 1;
    }

    auto timed = [](benchmark::internal::Benchmark *b) { bench::RunFor(b, 0.3); };
    bench::RegisterPairs(
        {
            {"stream-sync", [](benchmark::State &s) { SessionStream(s, kLarge); },
             [](benchmark::State &s) { RawStream(s, kLarge); }, timed},
            {"stream-async", SessionStreamWindowed, [](benchmark::State &s) { RawStream(s, kLarge); }, timed},
            {"stream-sync-4k", [](benchmark::State &s) { SessionStream(s, kSmall); },
             [](benchmark::State &s) { RawStream(s, kSmall); }, timed},
            {"ping-pong", SessionPingPong, RawPingPong, timed},
            // Raw against raw: what waiting in poll() costs a receiver by itself
            // (reported as "korvel" and "raw" only to pair them).
            {"poll-wait", [](benchmark::State &s) { RawStream(s, kLarge, 'P'); },
             [](benchmark::State &s) { RawStream(s, kLarge); }, timed},
        },
        pairs);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const bool far_side_ran = bench::Alive(g_child);
    kill(g_child, SIGTERM);
    waitpid(g_child, nullptr, 0);
    if (!far_side_ran) std::fprintf(stderr, "the far side died during the run\n");
    return far_side_ran ? 0 : 1;
}
