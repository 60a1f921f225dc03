// SPDX-License-Identifier: MIT
// What korvel-nb names shows: names resolved on one LANA of a provider, the
// way a call resolves them (the node type's order, the cache first), and the
// cache they leave behind. korveld makes the same view for its clients.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
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

class Provider;
namespace service {
struct NameCacheReport;
}
using NamesToView = std::vector<std::array<std::uint8_t, NCBNAMSZ>>;

// Resolves `names` on `lana` of `provider`, all at once, waiting at most
// `wait` for them, then lists the cache and gives it to `done`, once, on
// the network thread holding the state lock (perhaps before this returns).
void ResolveAndViewNames(Provider &provider, UCHAR lana, const NamesToView &names,
                         std::chrono::milliseconds wait, std::function<void(NameCacheView)> done);

// The same for korvel-nb names, waiting for the view: on the default
// provider for LANA 0, or where the service serves this process, on
// korveld's for LANAs 1 and up.
NameCacheView ResolveAndViewNames(UCHAR lana, const NamesToView &names, std::chrono::milliseconds wait);

}  // namespace nbt

namespace nbt {

// The view as korveld's reply carries it, and back.
service::NameCacheReport ReportOf(const NameCacheView &view);
NameCacheView ViewOf(const service::NameCacheReport &report);

}  // namespace nbt
