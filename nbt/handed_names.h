// SPDX-License-Identifier: MIT
// The name table of a node that carries only sessions korveld handed to the
// program: korveld holds the names; this knows each handed session's local
// name and its number there, which is all NCBRECVANY needs of it. It never
// resolves a name (such a node makes no calls). korveld says when one of
// them is in conflict, so that the sessions under it end as its own do.
#pragma once

#include <map>

#include "service_links.h"

namespace nbt {

class HandedNames final : public HeldNames {
public:
    // A number belongs to one name at a time: korveld may have given it
    // again since.
    void Remember(const NetbiosName &name, UCHAR number) {
        std::erase_if(numbers_, [number](const auto &entry) { return entry.second.number == number; });
        numbers_[name] = {number, false};
    }
    // False if no handed session was under it.
    bool MarkInConflict(const NetbiosName &name) {
        const auto it = numbers_.find(name);
        if (it == numbers_.end()) return false;
        it->second.in_conflict = true;
        return true;
    }

    std::optional<HeldName> Find(const NetbiosName &name) const override {
        const auto it = numbers_.find(name);
        if (it == numbers_.end()) return std::nullopt;
        return HeldName{it->second.number, it->second.in_conflict ? DUPLICATE : REGISTERED, kProcessClient};
    }
    std::optional<NetbiosName> NameOf(UCHAR number, ClientId) const override {
        for (const auto &[name, held] : numbers_)
            if (held.number == number) return name;
        return std::nullopt;
    }
    void Resolve(const NetbiosName &, ResolveHandler) override {}
    void Lookup(const NetbiosName &, LookupHandler) override {}
    void OnSessionsClosed(const NetbiosName &) override {}
    void ForgetAddress(const NetbiosName &) override {}

private:
    struct Held {
        UCHAR number = 0;
        bool in_conflict = false;
    };
    std::map<NetbiosName, Held> numbers_;
};

}  // namespace nbt
