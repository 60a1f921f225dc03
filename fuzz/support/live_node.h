// SPDX-License-Identifier: MIT
// A live node for the stateful fuzzers: LANA 0 of a Provider of their own,
// on loopback ports the kernel chose for this process.
//
// A fuzzer runs each input on the network thread (OnNetworkThread) and waits
// by running the node's handlers itself (Poll), so an input costs no thread
// switches and everything it sets off has happened, in one order, before
// the next begins. Every member is for the network thread only.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <functional>
#include <string>

#include "nb30.h"
#include "node.h"
#include "provider.h"
#include "settings.h"

namespace nbt::fuzzing {

// An asynchronous NCB that reports back through its post routine. on_done
// runs first; it may submit the block again and return true, and the block
// stays busy.
struct TrackedNcb {
    NCB ncb;
    bool busy = false;
    bool (*on_done)(TrackedNcb &, void *context) = nullptr;
    void *context = nullptr;
};

class LiveNode {
public:
    // Runs fn on the network thread and waits for it.
    static void OnNetworkThread(const std::function<void()> &fn);

    // Resets LANA 0 with these limits; aborts when it cannot.
    LiveNode(Settings settings, UCHAR sessions, UCHAR ncbs, UCHAR names);

    Node &node() const { return *node_; }
    const Settings &settings() const { return provider_.settings(); }

    // Clears the block and sets its command (ASYNCH added), on LANA 0.
    static void Prepare(TrackedNcb &tracked, UCHAR command);
    // Submits a prepared block; false if Netbios() refused it at once.
    bool Submit(TrackedNcb &tracked);
    // Submits and waits for the result.
    UCHAR Run(TrackedNcb &tracked);
    UCHAR AddName(const std::string &text);
    UCHAR DeleteName(const std::string &text);

    // Runs the handlers that are ready, once round.
    static void Poll();
    // Runs handlers until `done` holds (spinning; a hang is the fuzzer's
    // time-out to find).
    static void WaitUntil(const std::function<bool()> &done);
    static void Wait(const TrackedNcb &tracked) {
        WaitUntil([&] { return !tracked.busy; });
    }
    // Runs handlers until none is ready: everything set off so far that
    // needs no more from outside has happened. Returns how many ran.
    static std::size_t Settle();

private:
    static void Posted(NCB *ncb);

    Provider provider_;
    Node *node_ = nullptr;
};

}  // namespace nbt::fuzzing
