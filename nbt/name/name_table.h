// SPDX-License-Identifier: MIT
// The names a node holds, with their numbers and states. Numbers are handed
// out round-robin from 2 to 254 (1 is the permanent node name), so a stale
// ncb_num does not silently point at a name added later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client_id.h"
#include "nb30.h"
#include "netbios_name.h"

namespace nbt {

struct NameEntry {
    NetbiosName name{};
    UCHAR number = 0;
    bool group = false;
    UCHAR state = REGISTERING;  // REGISTERING, REGISTERED, DEREGISTERED, DUPLICATE, DUPLICATE_DEREG
    // While REGISTERING: the registration's transaction and the NCBADDNAME waiting for it.
    std::uint16_t registration = 0;
    NCB *adding = nullptr;
    ClientId client = kProcessClient;  // who added it

    UCHAR flags() const { return static_cast<UCHAR>((group ? GROUP_NAME : UNIQUE_NAME) | state); }
    bool deregistered() const { return state == DEREGISTERED || state == DUPLICATE_DEREG; }
    bool in_conflict() const { return state == DUPLICATE || state == DUPLICATE_DEREG; }
};

class NameTable {
public:
    explicit NameTable(std::size_t capacity) : capacity_(capacity) {}

    NameEntry *Find(const NetbiosName &name);
    const NameEntry *Find(const NetbiosName &name) const;
    // An add still in progress: `name` under `number`, REGISTERING; null once
    // that add ended or the name was deleted.
    NameEntry *Adding(const NetbiosName &name, UCHAR number);
    const NameEntry *Adding(const NetbiosName &name, UCHAR number) const;
    bool Full() const { return entries_.size() >= capacity_; }
    // Adds a REGISTERING entry with the next free number; null when full.
    NameEntry *Add(const NetbiosName &name, bool group);
    void Remove(const NetbiosName &name);
    // In the order the names were added.
    const std::vector<NameEntry> &entries() const { return entries_; }

private:
    UCHAR NextNumber() const;

    std::size_t capacity_;
    std::vector<NameEntry> entries_;
    UCHAR last_number_ = 1;
};

}  // namespace nbt
