// SPDX-License-Identifier: MIT
// NCBASTAT: what to put in ncb_callname for each kind of target, and the
// ADAPTER_STATUS + NAME_BUFFER[] it returns, as text and as JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json.h"
#include "names.h"

namespace cli {

// Room for the header and 254 names: more than a status reply can carry.
constexpr std::size_t kStatusBufferSize = sizeof(ADAPTER_STATUS) + 254 * sizeof(NAME_BUFFER);

// The callname for a dotted address: the provider sends the node status
// request straight to that address.
NameField AddressCallname(std::uint32_t address);
// Ten zero bytes and the adapter address.
NameField AdapterCallname(const AdapterAddress &address);

struct StatusTarget {
    NameField callname{};
    std::string kind;  // "local", "address", "adapter_address", "name"
};
// '*', a dotted IPv4 address, 12 hex digits (with or without separators)
// or a NAME; nullopt with the reason in *error.
std::optional<StatusTarget> ParseStatusTarget(const std::string &text, std::string *error);

// Whose a name is, where korveld carries the LANA (nbt/name_owner_view.h).
struct NameOwnerText {
    std::uint32_t pid = 0;  // 0: none the service knows
    std::uint32_t uid = 0;
    std::string program;
};

struct StatusReport {
    ADAPTER_STATUS status{};
    std::vector<NAME_BUFFER> names;
    // Empty, or one per name: then text and JSON show each name's owner.
    std::vector<NameOwnerText> owners;
};
// The reply in the first `length` bytes (after NRC_GOODRET or NRC_INCOMP).
StatusReport ReadStatus(const std::vector<UCHAR> &buffer, WORD length);

Json StatusJson(const StatusReport &report);
std::string StatusText(const StatusReport &report);

}  // namespace cli
