// Loopback nodes for the session tests: providers with names added, NCBs
// submitted in the asynchronous form and waited for with a bound, and a raw
// TCP peer that speaks the session protocol byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loopback_settings.h"
#include "nbt_event.h"
#include "ncb_helpers.h"
#include "provider.h"

namespace nbt::testing {

// 16 bytes: the text, spaces, and the suffix byte last.
inline std::array<UCHAR, 16> Padded(const std::string &text, UCHAR suffix = 0x20) {
    std::array<UCHAR, 16> name;
    name.fill(' ');
    std::memcpy(name.data(), text.data(), std::min<std::size_t>(text.size(), 15));
    name[15] = suffix;
    return name;
}

inline void SetName(UCHAR *field, const std::string &text, UCHAR suffix = 0x20) {
    const auto name = Padded(text, suffix);
    std::memcpy(field, name.data(), 16);
}

// Short name-service timers: registrations on loopback need no patience.
inline Settings FastSettings() {
    Settings settings = LoopbackSettings();
    settings.bcast_retry_timeout = std::chrono::milliseconds(30);
    settings.bcast_retry_count = 2;
    return settings;
}

// An NCB submitted with an event, so a test never blocks without a bound.
struct AsyncNcb {
    NCB ncb;
    NbtEvent event;

    explicit AsyncNcb(UCHAR command) : ncb(MakeNcb(command | ASYNCH)) { ncb.ncb_event = &event; }
    UCHAR Submit(Provider &provider) { return provider.Netbios(&ncb); }
    // The final return code, or NRC_PENDING if it did not complete in time.
    UCHAR Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return event.WaitFor(timeout) ? ncb.ncb_retcode : NRC_PENDING;
    }
};

// One loopback node: a provider with LANA 0 reset.
struct LoopbackNode {
    Provider provider;

    explicit LoopbackNode(Settings settings = FastSettings(), UCHAR sessions = 0)
        : provider(std::move(settings)) {
        EXPECT_EQ(ResetLana(provider, 0, 0, sessions), NRC_GOODRET);
    }

    UCHAR AddName(const std::string &text, UCHAR suffix = 0x20) {
        NCB ncb = MakeNcb(NCBADDNAME);
        SetName(ncb.ncb_name, text, suffix);
        return provider.Netbios(&ncb);
    }

    asio::ip::tcp::endpoint SessionEndpoint() const {
        return {*provider.LanaAddress(0), provider.settings().loopback_session_port};
    }

    // A LISTEN, left pending.
    std::unique_ptr<AsyncNcb> Listen(const std::string &local, const std::string &remote, UCHAR rto = 0,
                                     UCHAR sto = 0) {
        auto listen = std::make_unique<AsyncNcb>(NCBLISTEN);
        SetName(listen->ncb.ncb_name, local);
        if (remote == "*")
            SetName(listen->ncb.ncb_callname, "*", ' ');
        else
            SetName(listen->ncb.ncb_callname, remote);
        listen->ncb.ncb_rto = rto;
        listen->ncb.ncb_sto = sto;
        EXPECT_EQ(listen->Submit(provider), NRC_GOODRET);
        return listen;
    }

    // A CALL, run to completion; returns the code, the LSN in *lsn.
    UCHAR Call(const std::string &local, const std::string &remote, UCHAR *lsn = nullptr, UCHAR rto = 0,
               UCHAR sto = 0) {
        AsyncNcb call(NCBCALL);
        SetName(call.ncb.ncb_name, local);
        SetName(call.ncb.ncb_callname, remote);
        call.ncb.ncb_rto = rto;
        call.ncb.ncb_sto = sto;
        EXPECT_EQ(call.Submit(provider), NRC_GOODRET);
        const UCHAR rc = call.Wait();
        if (lsn) *lsn = call.ncb.ncb_lsn;
        return rc;
    }

    UCHAR Send(UCHAR lsn, const void *data, WORD length) {
        NCB ncb = MakeNcb(NCBSEND);
        ncb.ncb_lsn = lsn;
        ncb.ncb_buffer = static_cast<PUCHAR>(const_cast<void *>(data));
        ncb.ncb_length = length;
        return provider.Netbios(&ncb);
    }

    // A RECV with a bounded wait; *got = bytes received.
    UCHAR Receive(UCHAR lsn, void *buffer, WORD length, WORD *got = nullptr,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        AsyncNcb recv(NCBRECV);
        recv.ncb.ncb_lsn = lsn;
        recv.ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
        recv.ncb.ncb_length = length;
        EXPECT_EQ(recv.Submit(provider), NRC_GOODRET);
        const UCHAR rc = recv.Wait(timeout);
        EXPECT_NE(rc, NRC_PENDING) << "receive did not complete";
        if (rc == NRC_PENDING) ResetLana(provider);  // never leave the buffer in the provider's hands
        if (got) *got = recv.ncb.ncb_length;
        return rc;
    }

    UCHAR Hangup(UCHAR lsn) {
        NCB ncb = MakeNcb(NCBHANGUP);
        ncb.ncb_lsn = lsn;
        return provider.Netbios(&ncb);
    }
};

// A peer written by hand: a plain TCP socket and the session protocol's bytes.
struct RawPeer {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};

    explicit RawPeer(const asio::ip::tcp::endpoint &to) { socket.connect(to); }

    void Write(const std::vector<std::uint8_t> &bytes) { asio::write(socket, asio::buffer(bytes)); }
    std::vector<std::uint8_t> Read(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        asio::read(socket, asio::buffer(bytes));
        return bytes;
    }
    // Everything until the peer closes; false if it reset instead.
    bool ReadToEnd(std::vector<std::uint8_t> *bytes = nullptr) {
        std::vector<std::uint8_t> all;
        std::array<std::uint8_t, 4096> chunk;
        for (;;) {
            asio::error_code ec;
            const std::size_t n = socket.read_some(asio::buffer(chunk), ec);
            all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
            if (ec == asio::error::eof) break;
            if (ec) return false;
        }
        if (bytes) *bytes = std::move(all);
        return true;
    }
    void Reset() {
        socket.set_option(asio::socket_base::linger(true, 0));
        socket.close();
    }
};

}  // namespace nbt::testing
