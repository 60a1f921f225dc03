// SPDX-License-Identifier: MIT
// Who a command is carried for. The process itself is client 0: it may use
// every name, session and NCB of its nodes. korveld gives each program it
// serves a number of its own, and such a client uses only what it made.
#pragma once

#include <cstdint>

namespace nbt {

using ClientId = std::uint32_t;
inline constexpr ClientId kProcessClient = 0;

// Whether `client` may use a name, session or NCB that `owner` made.
constexpr bool MayUse(ClientId client, ClientId owner) {
    return client == kProcessClient || client == owner;
}

}  // namespace nbt
