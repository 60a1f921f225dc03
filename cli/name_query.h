// SPDX-License-Identifier: MIT
// NAME QUERY REQUEST sent straight from a UDP socket. The NCB interface has
// no command that returns who answers for a name, so `query` speaks the
// RFC 1002 packet itself, with the provider's codec, from an ephemeral port
// on the LANA's address: broadcast on the LANA's subnet, or unicast to one
// node.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lana_info.h"
#include "names.h"

namespace cli {

struct QueryAnswer {
    std::uint32_t responder = 0;  // source of the response
    std::uint32_t address = 0;    // an address the response gives for the name
    std::uint16_t nb_flags = 0;   // G bit, ONT
};

struct QueryResult {
    std::vector<QueryAnswer> answers;
    bool name_error = false;  // someone answered that the name is not there
    std::string failure;      // a socket error; nothing was asked then
};

// Asks up to three times, `retry` apart, until something answers; then
// waits for more answers (a group name has many members) until `window`
// has passed since the first request, or briefly for a unique name.
QueryResult QueryName(const LanaInfo &lana, const NameField &name, std::optional<std::uint32_t> unicast_to,
                      std::chrono::milliseconds window, std::chrono::milliseconds retry);

// "B-node", "P-node", "M-node", "H-node" from NB_FLAGS' ONT bits.
std::string NodeType(std::uint16_t nb_flags);

}  // namespace cli
