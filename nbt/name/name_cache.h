// SPDX-License-Identifier: MIT
// Names a P, M or H node resolved, each kept for the TTL its answer gave
// (at most a ceiling), and names nobody knew, kept briefly so a burst of
// calls to a missing name does not become a burst of queries. Expired
// entries go when they are next looked at or when room is needed: there
// is no timer, so an idle node does nothing.
#pragma once

#include <asio/ip/address_v4.hpp>
#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

#include "netbios_name.h"

namespace nbt {

class NameCache {
public:
    using Clock = std::chrono::steady_clock;
    enum class Source : std::uint8_t { kServer, kBroadcast };

    struct Entry {
        NetbiosName name{};
        bool found = false;  // false: a negative entry
        asio::ip::address_v4 address;
        bool group = false;
        std::vector<asio::ip::address_v4> others;  // a unique name's further addresses
        Source source = Source::kBroadcast;
        Clock::time_point expires;
    };

    explicit NameCache(std::size_t capacity) : capacity_(capacity) {}

    // A live entry for the name, if any.
    std::optional<Entry> Find(const NetbiosName &name, Clock::time_point now);
    // Replaces any entry for the name; a zero lifetime stores nothing.
    void Put(const Entry &entry, Clock::time_point now);
    void Forget(const NetbiosName &name) { entries_.erase(name); }
    // The live entries, by name.
    std::vector<Entry> Snapshot(Clock::time_point now) const;

private:
    std::size_t capacity_;
    std::map<NetbiosName, Entry> entries_;
};

}  // namespace nbt
