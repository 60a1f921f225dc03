// SPDX-License-Identifier: MIT
// Provider settings for tests on the loopback LANA: ports the kernel chose
// for this process, so a test never meets a console or another test running
// on this machine, and no host interfaces enumerated.
#pragma once

#include <cstdint>

#include "settings.h"

namespace nbt::testing {

struct LoopbackPorts {
    std::uint16_t name = 0;      // udp
    std::uint16_t session = 0;   // tcp
    std::uint16_t datagram = 0;  // udp
};

// Chosen once per process (ctest runs each test case as a process of its
// own), shared by every Provider of that process so that they are peers on
// one segment. The three differ, so a port mixed up shows.
LoopbackPorts ProcessPorts();

// LANA 0 only, on this process's ports, at 127.0.0.1 to .199: 127.0.0.200
// and up are left for the peers a test plays by hand.
Settings LoopbackSettings();

// Short name-service timers (two broadcasts 30 ms apart): for tests that
// only need a name registered.
Settings FastSettings();

// The default retry counts on short timers: for tests that count what the
// name service puts on the wire.
Settings NameServiceSettings();

}  // namespace nbt::testing
