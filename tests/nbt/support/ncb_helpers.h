// SPDX-License-Identifier: MIT
// Small builders for the control blocks and names the provider tests submit.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "nb30.h"
#include "nbt_event.h"
#include "provider.h"

namespace nbt::testing {

inline NCB MakeNcb(UCHAR command, UCHAR lana = 0) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    return ncb;
}

// NCBRESET; lsn != 0 frees the LANA only.
inline UCHAR ResetLana(Provider &provider, UCHAR lana = 0, UCHAR lsn = 0, UCHAR sessions = 0, UCHAR ncbs = 0,
                       UCHAR names = 0) {
    NCB ncb = MakeNcb(NCBRESET, lana);
    ncb.ncb_lsn = lsn;
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[1] = ncbs;
    ncb.ncb_callname[2] = names;
    return provider.Netbios(&ncb);
}

// 16 bytes: the text (at most 15 bytes of it), spaces, and the suffix last.
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

// An NCB submitted with an event, so a test never blocks without a bound.
// One still pending when it goes (a test that failed or threw before its
// Wait) is cancelled first: the provider would otherwise complete it into
// freed memory when the node shuts down.
struct AsyncNcb {
    NCB ncb;
    NbtEvent event;

    explicit AsyncNcb(UCHAR command) : ncb(MakeNcb(command | ASYNCH)) { ncb.ncb_event = &event; }
    AsyncNcb(const AsyncNcb &) = delete;
    AsyncNcb &operator=(const AsyncNcb &) = delete;
    ~AsyncNcb() {
        if (!submitted_to_ || Status() != NRC_PENDING) return;
        NCB cancel = MakeNcb(NCBCANCEL, ncb.ncb_lana_num);
        cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&ncb);
        submitted_to_->Netbios(&cancel, client_);
        if (!event.WaitFor(std::chrono::seconds(10))) {
            std::fprintf(stderr, "an NCB (command 0x%02X) outlived its test and could not be cancelled\n",
                         ncb.ncb_command);
            std::abort();
        }
    }
    UCHAR Submit(Provider &provider, ClientId client = kProcessClient) {
        submitted_to_ = &provider;
        client_ = client;
        return provider.Netbios(&ncb, client);
    }
    // The final return code, or NRC_PENDING if it did not complete in time.
    UCHAR Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return event.WaitFor(timeout) ? ncb.ncb_retcode : NRC_PENDING;
    }
    // ncb_cmd_cplt as a caller polling it sees it: the network thread may
    // store it at any moment.
    UCHAR Status() { return std::atomic_ref<UCHAR>(ncb.ncb_cmd_cplt).load(std::memory_order_acquire); }

private:
    Provider *submitted_to_ = nullptr;
    ClientId client_ = kProcessClient;
};

// Polls until the condition holds, for states reached on the network thread
// that a test has no completion to wait on; false after the limit.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace nbt::testing
