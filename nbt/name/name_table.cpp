// SPDX-License-Identifier: MIT
#include "name_table.h"

#include <algorithm>

namespace nbt {

namespace {
constexpr UCHAR kFirstNumber = 2;
constexpr UCHAR kLastNumber = 254;
}  // namespace

NameEntry *NameTable::Find(const NetbiosName &name) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const NameEntry &e) { return e.name == name; });
    return it == entries_.end() ? nullptr : &*it;
}

const NameEntry *NameTable::Find(const NetbiosName &name) const {
    return const_cast<NameTable *>(this)->Find(name);
}

NameEntry *NameTable::Adding(const NetbiosName &name, UCHAR number) {
    NameEntry *entry = Find(name);
    return entry && entry->number == number && entry->state == REGISTERING ? entry : nullptr;
}

const NameEntry *NameTable::Adding(const NetbiosName &name, UCHAR number) const {
    return const_cast<NameTable *>(this)->Adding(name, number);
}

UCHAR NameTable::NextNumber() const {
    UCHAR candidate = last_number_;
    for (int tries = 0; tries < kLastNumber - kFirstNumber + 1; ++tries) {
        candidate = candidate >= kLastNumber ? kFirstNumber : static_cast<UCHAR>(candidate + 1);
        bool used = std::any_of(entries_.begin(), entries_.end(),
                                [&](const NameEntry &e) { return e.number == candidate; });
        if (!used) return candidate;
    }
    return 0;
}

NameEntry *NameTable::Add(const NetbiosName &name, bool group) {
    if (Full()) return nullptr;
    UCHAR number = NextNumber();
    if (number == 0) return nullptr;
    last_number_ = number;
    entries_.push_back(NameEntry{name, number, group, REGISTERING});
    return &entries_.back();
}

void NameTable::Remove(const NetbiosName &name) {
    std::erase_if(entries_, [&](const NameEntry &e) { return e.name == name; });
}

}  // namespace nbt
