// SPDX-License-Identifier: MIT
#include "name_answer.h"

#include <algorithm>
#include <vector>

#include "node.h"

namespace nbt {

std::optional<HeldNames::Resolved> ResolveAnswer(const Node &node,
                                                 std::span<const codec::NbAddress> entries) {
    if (entries.empty()) return std::nullopt;
    std::vector<asio::ip::address_v4> usable;
    for (const codec::NbAddress &entry : entries) {
        const asio::ip::address_v4 address(entry.ipv4);
        if (node.IsPeerAddress(address) && std::find(usable.begin(), usable.end(), address) == usable.end())
            usable.push_back(address);
    }
    if (entries.front().flags & codec::kNbGroup)
        return HeldNames::Resolved{
            usable.empty() ? asio::ip::address_v4(entries.front().ipv4) : usable.front(), true, {}};
    if (usable.empty()) return std::nullopt;
    std::stable_partition(usable.begin(), usable.end(),
                          [&node](const asio::ip::address_v4 &address) { return node.OnSubnet(address); });
    return HeldNames::Resolved{usable.front(), false, {usable.begin() + 1, usable.end()}};
}

}  // namespace nbt
