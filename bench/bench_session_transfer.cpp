// Session throughput and latency between two loopback nodes, each in its own
// process as in real use, against raw TCP carrying the same framing in the
// same run:
//   Stream:   64 KiB sends one way, one receive per message on the far side.
//   PingPong: one byte there and back.
// The far side is a child process: a node that listens on BENCHSRV (no
// time-outs) and BENCHTMO (receive and send time-outs on every NCB), and a
// raw TCP server, all sinking or echoing as the first message asks. The
// "/timed" runs call BENCHTMO with time-outs on the near side too.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <asio.hpp>
#include <cstring>
#include <thread>
#include <vector>

#include "nb30.h"
#include "nbt_event.h"
#include "provider.h"
#include "settings.h"

namespace {

constexpr WORD kBlock = 65535;
constexpr char kServer[] = "BENCHSRV";
constexpr char kTimedServer[] = "BENCHTMO";
constexpr UCHAR kTimeout = 20;  // 10 s, in 500 ms units: armed, never reached
constexpr char kClient[] = "BENCHCLI";

nbt::Settings g_settings;
std::uint16_t g_raw_port = 0;
pid_t g_child = -1;

void Pad(UCHAR *field, const char *text) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text, std::strlen(text));
}

NCB Block(UCHAR command) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    return ncb;
}

UCHAR Reset(nbt::Provider &provider) {
    NCB ncb = Block(NCBRESET);
    return provider.Netbios(&ncb);
}

UCHAR AddName(nbt::Provider &provider, const char *name) {
    NCB ncb = Block(NCBADDNAME);
    Pad(ncb.ncb_name, name);
    return provider.Netbios(&ncb);
}

UCHAR Send(nbt::Provider &provider, UCHAR lsn, void *data, WORD length) {
    NCB ncb = Block(NCBSEND);
    ncb.ncb_lsn = lsn;
    ncb.ncb_buffer = static_cast<PUCHAR>(data);
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
        std::vector<UCHAR> buffer = std::vector<UCHAR>(kBlock, 0x5A);
        bool busy = false;
    };
    std::array<Slot, kWindow> slots;
    int next = 0;

    // Waits for the oldest slot (if in flight), then submits it again.
    bool Cycle(nbt::Provider &provider, UCHAR command, UCHAR lsn) {
        Slot &slot = slots[next];
        next = (next + 1) % kWindow;
        if (slot.busy) {
            slot.event.Wait();
            slot.busy = false;
            if (slot.ncb.ncb_retcode != NRC_GOODRET) return false;
        }
        slot.ncb = Block(command | ASYNCH);
        slot.ncb.ncb_lsn = lsn;
        slot.ncb.ncb_buffer = slot.buffer.data();
        slot.ncb.ncb_length = kBlock;
        slot.ncb.ncb_event = &slot.event;
        if (provider.Netbios(&slot.ncb) != NRC_GOODRET) return false;
        slot.busy = true;
        return true;
    }
    void Drain() {
        for (Slot &slot : slots)
            if (slot.busy) slot.event.Wait();
    }
};

// ---- the far side (child process) -----------------------------------------

void ServeSession(nbt::Provider &provider, UCHAR lsn) {
    std::vector<UCHAR> buffer(kBlock);
    WORD got = 0;
    if (Receive(provider, lsn, buffer.data(), kBlock, &got) != NRC_GOODRET) return;
    const bool echo = got > 0 && buffer[0] == 'E';
    if (got > 0 && buffer[0] == 'W') {
        Window window;
        while (window.Cycle(provider, NCBRECV, lsn)) {
        }
        window.Drain();
    }
    for (;;) {
        if (Receive(provider, lsn, buffer.data(), kBlock, &got) != NRC_GOODRET) break;
        if (echo && Send(provider, lsn, buffer.data(), got) != NRC_GOODRET) break;
    }
    NCB hangup = Block(NCBHANGUP);
    hangup.ncb_lsn = lsn;
    provider.Netbios(&hangup);
}

bool ReadFull(asio::ip::tcp::socket &socket, void *data, std::size_t size) {
    asio::error_code ec;
    asio::read(socket, asio::buffer(data, size), ec);
    return !ec;
}

void ServeRaw(asio::ip::tcp::socket socket) {
    socket.set_option(asio::ip::tcp::no_delay(true));
    std::vector<std::uint8_t> buffer(4 + 131071);
    bool echo = false;
    for (bool first = true;; first = false) {
        if (!ReadFull(socket, buffer.data(), 4)) return;
        const std::size_t length = (std::size_t{buffer[1] & 1u} << 16) | (buffer[2] << 8) | buffer[3];
        if (!ReadFull(socket, buffer.data() + 4, length)) return;
        if (first) {
            echo = length > 0 && buffer[4] == 'E';
            continue;
        }
        asio::error_code ec;
        if (echo) asio::write(socket, asio::buffer(buffer.data(), 4 + length), ec);
        if (ec) return;
    }
}

[[noreturn]] void RunFarSide() {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the benchmark
    std::thread raw([] {
        asio::io_context io;
        asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), g_raw_port});
        for (;;) ServeRaw(acceptor.accept());
    });
    raw.detach();
    nbt::Provider provider(g_settings);
    if (Reset(provider) != NRC_GOODRET || AddName(provider, kServer) != NRC_GOODRET ||
        AddName(provider, kTimedServer) != NRC_GOODRET)
        _exit(1);
    auto serve = [&provider](const char *name, UCHAR timeout) {
        for (;;) {
            NCB listen = Block(NCBLISTEN);
            Pad(listen.ncb_name, name);
            Pad(listen.ncb_callname, "*");
            listen.ncb_rto = listen.ncb_sto = timeout;
            if (provider.Netbios(&listen) != NRC_GOODRET) _exit(2);
            ServeSession(provider, listen.ncb_lsn);
        }
    };
    std::thread timed(serve, kTimedServer, kTimeout);
    serve(kServer, 0);
    std::abort();  // serve() never returns
}

// ---- the near side ---------------------------------------------------------

nbt::Provider &Near() {
    static nbt::Provider provider(g_settings);
    static bool ready = [] {
        return Reset(provider) == NRC_GOODRET && AddName(provider, kClient) == NRC_GOODRET;
    }();
    (void)ready;
    return provider;
}

// A session to the far side's node, in sink ('S') or echo ('E') mode.
UCHAR OpenSession(char mode, bool timed) {
    nbt::Provider &provider = Near();
    for (int attempt = 0; attempt < 50; ++attempt) {
        NCB call = Block(NCBCALL);
        Pad(call.ncb_name, kClient);
        Pad(call.ncb_callname, timed ? kTimedServer : kServer);
        if (timed) call.ncb_rto = call.ncb_sto = kTimeout;
        if (provider.Netbios(&call) == NRC_GOODRET) {
            char m = mode;
            Send(provider, call.ncb_lsn, &m, 1);
            return call.ncb_lsn;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // far side still starting
    }
    return 0;
}

void CloseSession(UCHAR lsn) {
    NCB hangup = Block(NCBHANGUP);
    hangup.ncb_lsn = lsn;
    Near().Netbios(&hangup);
}

asio::ip::tcp::socket OpenRaw(asio::io_context &io, char mode) {
    asio::ip::tcp::socket socket(io);
    for (int attempt = 0; attempt < 100; ++attempt) {  // the far side may still be starting
        asio::error_code ec;
        socket.connect({asio::ip::address_v4::loopback(), g_raw_port}, ec);
        if (!ec) break;
        socket.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    socket.set_option(asio::ip::tcp::no_delay(true));
    const std::uint8_t hello[5] = {0, 0, 0, 1, static_cast<std::uint8_t>(mode)};
    asio::write(socket, asio::buffer(hello));
    return socket;
}

void BM_SessionStream64K(benchmark::State &state, bool timed) {
    const UCHAR lsn = OpenSession('S', timed);
    if (!lsn) return state.SkipWithError("no session");
    std::vector<UCHAR> block(kBlock, 0x5A);
    for (auto _ : state)
        if (Send(Near(), lsn, block.data(), kBlock) != NRC_GOODRET) return state.SkipWithError("send failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
    CloseSession(lsn);
}

void BM_SessionStream64KWindowed(benchmark::State &state, bool timed) {
    const UCHAR lsn = OpenSession('W', timed);
    if (!lsn) return state.SkipWithError("no session");
    Window window;
    for (auto _ : state)
        if (!window.Cycle(Near(), NCBSEND, lsn)) return state.SkipWithError("send failed");
    window.Drain();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
    CloseSession(lsn);
}

void BM_RawTcpStream64K(benchmark::State &state) {
    asio::io_context io;
    auto socket = OpenRaw(io, 'S');
    std::vector<std::uint8_t> block(kBlock, 0x5A);
    const std::uint8_t header[4] = {0, 0, 0xFF, 0xFF};
    for (auto _ : state) {
        const std::array<asio::const_buffer, 2> buffers{asio::buffer(header), asio::buffer(block)};
        asio::write(socket, buffers);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_SessionPingPong1(benchmark::State &state, bool timed) {
    const UCHAR lsn = OpenSession('E', timed);
    if (!lsn) return state.SkipWithError("no session");
    UCHAR byte = 1, back = 0;
    for (auto _ : state) {
        if (Send(Near(), lsn, &byte, 1) != NRC_GOODRET || Receive(Near(), lsn, &back, 1) != NRC_GOODRET)
            return state.SkipWithError("exchange failed");
    }
    CloseSession(lsn);
}

void BM_RawTcpPingPong1(benchmark::State &state) {
    asio::io_context io;
    auto socket = OpenRaw(io, 'E');
    std::uint8_t out[5] = {0, 0, 0, 1, 1}, in[5];
    for (auto _ : state) {
        asio::write(socket, asio::buffer(out));
        asio::read(socket, asio::buffer(in, 4));
        asio::read(socket, asio::buffer(in + 4, 1));
    }
}

BENCHMARK(BM_RawTcpStream64K)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionStream64K, plain, false)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionStream64KWindowed, plain, false)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionStream64K, timed, true)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionStream64KWindowed, timed, true)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_RawTcpPingPong1)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionPingPong1, plain, false)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_SessionPingPong1, timed, true)->UseRealTime()->MinTime(0.5);

std::uint16_t FreePort() {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
    return acceptor.local_endpoint().port();
}

}  // namespace

int main(int argc, char **argv) {
    g_settings.host_interfaces = false;
    g_settings.loopback_name_port = FreePort();
    g_settings.loopback_session_port = FreePort();
    g_raw_port = FreePort();
    // The far side forks before any thread exists in this process.
    g_child = fork();
    if (g_child == 0) RunFarSide();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kill(g_child, SIGTERM);
    waitpid(g_child, nullptr, 0);
    return 0;
}
