// SPDX-License-Identifier: MIT
// What the address entries of a positive query answer give the node that
// asked. A group is a group whatever address comes with it (a name server
// gives 255.255.255.255 for most groups, Samba's 0.0.0.0): its members are
// reached by broadcast. A unique name is every address this node can reach,
// those on its own subnet first, then in the order of the answer: a host
// with several interfaces lists each.
#pragma once

#include <optional>
#include <span>

#include "name_packet.h"
#include "service_links.h"

namespace nbt {

class Node;

// Null when the entries name no address a unique name could be reached at.
std::optional<HeldNames::Resolved> ResolveAnswer(const Node &node, std::span<const codec::NbAddress> entries);

}  // namespace nbt
