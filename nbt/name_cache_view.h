// SPDX-License-Identifier: MIT
// What korvel-nb names shows: names resolved on one LANA of this process's
// provider, the way a call resolves them (the node type's order, the cache
// first), and the cache they leave behind.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "nb30.h"

namespace nbt {

struct CachedName {
    std::array<std::uint8_t, NCBNAMSZ> name{};
    bool found = false;  // false: nobody knew it (a short-lived negative entry)
    std::uint32_t ipv4 = 0;
    bool group = false;
    bool from_server = false;
    std::chrono::milliseconds left{0};
};

struct NameCacheView {
    bool reset = false;  // the LANA was reset (nothing else is filled in otherwise)
    char node_type = 'B';
    std::vector<CachedName> asked;    // each name asked for, in order (left: 0)
    std::vector<CachedName> entries;  // the cache (always empty on a B-node)
};

// Resolves `names` on `lana` of the default provider, all at once, waiting
// at most `wait` for them, then lists the cache.
NameCacheView ResolveAndViewNames(UCHAR lana, const std::vector<std::array<std::uint8_t, NCBNAMSZ>> &names,
                                  std::chrono::milliseconds wait);

}  // namespace nbt
