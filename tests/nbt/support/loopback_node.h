// SPDX-License-Identifier: MIT
// One loopback node for the provider tests: a Provider of its own with
// LANA 0 reset, and the name, status and session commands as one call each.
// Asynchronous ones are waited for with a bound, so a test never hangs.
// ClientCommands are the same commands given on LANA 0 of any Provider on
// behalf of one client.
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "loopback_settings.h"
#include "ncb_helpers.h"
#include "provider.h"

namespace nbt::testing {

class ClientCommands {
public:
    ClientCommands(Provider &provider, ClientId client) : target_(provider), client_(client) {}

    ClientId client() const { return client_; }
    // The block, given on behalf of this client.
    UCHAR Run(NCB &ncb) { return target_.Netbios(&ncb, client_); }
    UCHAR Submit(AsyncNcb &async) { return async.Submit(target_, client_); }
    // NCBRESET of LANA 0; lsn != 0 frees only.
    UCHAR Reset(UCHAR lsn = 0, UCHAR sessions = 0, UCHAR ncbs = 0, UCHAR names = 0);

    // NCBADDNAME (or NCBADDGRNAME); the name number in *num.
    UCHAR AddName(const std::array<UCHAR, 16> &name, UCHAR *num = nullptr, UCHAR command = NCBADDNAME);
    UCHAR AddName(const std::string &text, UCHAR *num = nullptr) { return AddName(Padded(text), num); }
    UCHAR AddGroupName(const std::string &text, UCHAR *num = nullptr) {
        return AddName(Padded(text), num, NCBADDGRNAME);
    }
    UCHAR DeleteName(const std::string &text);

    // NCBASTAT into a buffer of `length` bytes filled with 0xEE first; the
    // length the provider returned in *returned.
    UCHAR Status(const std::array<UCHAR, 16> &callname, std::vector<UCHAR> &buffer, WORD length = 4000,
                 WORD *returned = nullptr);
    UCHAR Status(const std::string &callname, std::vector<UCHAR> &buffer) {
        return Status(Padded(callname), buffer);
    }
    // The header of NCBSSTAT for one of its names, or "*" for all of them
    // (the session records are left out).
    SESSION_HEADER SessionHeader(const std::string &name = "*");

    // A LISTEN, left pending. remote "*" listens for any caller.
    std::unique_ptr<AsyncNcb> Listen(const std::string &local, const std::string &remote, UCHAR rto = 0,
                                     UCHAR sto = 0);
    // A CALL, run to completion; returns the code, the LSN in *lsn.
    UCHAR Call(const std::string &local, const std::string &remote, UCHAR *lsn = nullptr, UCHAR rto = 0,
               UCHAR sto = 0);
    UCHAR Send(UCHAR lsn, const void *data, WORD length);
    // A RECV with a bounded wait; *got = bytes received.
    UCHAR Receive(UCHAR lsn, void *buffer, WORD length, WORD *got = nullptr,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    UCHAR Hangup(UCHAR lsn);

private:
    Provider &target_;
    ClientId client_;
};

// The Provider is a base, so it is built before the commands that use it.
struct OwnProvider {
    explicit OwnProvider(Settings settings) : provider(std::move(settings)) {}
    Provider provider;
};

struct LoopbackNode : OwnProvider, ClientCommands {
    explicit LoopbackNode(Settings settings = FastSettings(), UCHAR sessions = 0);

    // The node's 127.0.0.N (0.0.0.0 while LANA 0 is not reset).
    asio::ip::address_v4 address() const;
    // The address as a callname ("127.0.0.N"), and the adapter address the
    // loopback LANA reports (02-00-7F-00-00-N) as one: 10 zero bytes and the MAC.
    std::array<UCHAR, 16> AddressName() const;
    std::array<UCHAR, 16> AdapterName() const;
    asio::ip::tcp::endpoint SessionEndpoint() const;
};

// The status record and the name records of an NCBASTAT reply.
struct StatusView {
    ADAPTER_STATUS status;
    std::vector<NAME_BUFFER> names;
};
StatusView ViewStatus(const std::vector<UCHAR> &buffer);
// The record of `name` in the view, or null.
const NAME_BUFFER *FindName(const StatusView &view, const std::array<UCHAR, 16> &name);

}  // namespace nbt::testing
