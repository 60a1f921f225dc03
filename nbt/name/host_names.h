// SPDX-License-Identifier: MIT
// The names this host holds on each of its adapters, shared by the nodes of
// one provider. A unique name held on two or more adapters is registered
// with a name server as multihomed (opcode 0xF), so that the server keeps
// every address instead of refusing the second; a query for it is answered
// with every address the host holds it at; and the host does not defend it
// against itself. Used under the state lock, as the nodes are.
#pragma once

#include <cstdint>
#include <vector>

#include "name_encoding.h"
#include "nb30.h"

namespace nbt {

class HostNames {
public:
    // The adapter `lana` at `ipv4` holds the name: registered, or still
    // being added, deleted or in conflict there.
    void Hold(const codec::NetbiosName &name, UCHAR lana, std::uint32_t ipv4, bool registered);
    void Drop(const codec::NetbiosName &name, UCHAR lana);
    // The adapter was reset: it holds nothing any more.
    void DropLana(UCHAR lana);

    // Whether another adapter holds (or is adding) the name.
    bool HeldElsewhere(const codec::NetbiosName &name, UCHAR lana) const;
    // Whether some adapter of this host holds (or is adding) the name at `ipv4`.
    bool HeldAt(const codec::NetbiosName &name, std::uint32_t ipv4) const;
    // The addresses of the other adapters where the name is registered, in
    // the order they took it.
    std::vector<std::uint32_t> RegisteredElsewhere(const codec::NetbiosName &name, UCHAR lana) const;

private:
    struct Holding {
        codec::NetbiosName name;
        UCHAR lana = 0;
        std::uint32_t ipv4 = 0;
        bool registered = false;
    };
    std::vector<Holding> holdings_;
};

}  // namespace nbt
