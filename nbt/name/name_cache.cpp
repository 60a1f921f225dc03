// SPDX-License-Identifier: MIT
#include "name_cache.h"

#include <algorithm>

namespace nbt {

std::optional<NameCache::Entry> NameCache::Find(const NetbiosName &name, Clock::time_point now) {
    auto it = entries_.find(name);
    if (it == entries_.end()) return std::nullopt;
    if (it->second.expires <= now) {
        entries_.erase(it);
        return std::nullopt;
    }
    return it->second;
}

void NameCache::Put(const Entry &entry, Clock::time_point now) {
    entries_.erase(entry.name);
    if (capacity_ == 0 || entry.expires <= now) return;
    if (entries_.size() >= capacity_) {
        std::erase_if(entries_, [now](const auto &pair) { return pair.second.expires <= now; });
        if (entries_.size() >= capacity_) {
            // Still full: the entry closest to expiring makes room.
            auto soonest = std::min_element(
                entries_.begin(), entries_.end(),
                [](const auto &a, const auto &b) { return a.second.expires < b.second.expires; });
            entries_.erase(soonest);
        }
    }
    entries_.emplace(entry.name, entry);
}

std::vector<NameCache::Entry> NameCache::Snapshot(Clock::time_point now) const {
    std::vector<Entry> live;
    for (const auto &[name, entry] : entries_)
        if (entry.expires > now) live.push_back(entry);
    return live;
}

}  // namespace nbt
