// SPDX-License-Identifier: MIT
// Which pending LISTEN an incoming SESSION REQUEST completes, or which
// negative response it gets. Names are compared as 16 raw bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "netbios_name.h"
#include "session_packet.h"

namespace nbt {

struct ListenView {
    const NetbiosName *local;   // the name listened on
    const NetbiosName *remote;  // the caller wanted, or '*' for anyone
};

struct Pairing {
    std::optional<std::size_t> listen;  // index into the listens given
    codec::SessionRefusal refusal = codec::SessionRefusal::kUnspecified;
};

// `listens` are in the order they were posted. called_usable: the called name
// is in our table and may take new sessions (not deregistered, not in
// conflict). A listen naming the caller wins over a '*' listen; within each
// kind the oldest wins.
Pairing PairSessionRequest(const NetbiosName &called, const NetbiosName &calling, bool called_usable,
                           std::span<const ListenView> listens);

// True for a listen callname that accepts any caller.
bool IsAnyCaller(const NetbiosName &callname);

}  // namespace nbt
