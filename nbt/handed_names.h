// SPDX-License-Identifier: MIT
// The name table of a node that carries only sessions korveld handed to the
// program: korveld holds the names; this knows each handed session's local
// name and its number there, which is all NCBRECVANY needs of it. It never
// resolves a name (such a node makes no calls).
#pragma once

#include <map>

#include "service_links.h"

namespace nbt {

class HandedNames final : public HeldNames {
public:
    // A number belongs to one name at a time: korveld may have given it
    // again since.
    void Remember(const NetbiosName &name, UCHAR number) {
        std::erase_if(numbers_, [number](const auto &entry) { return entry.second == number; });
        numbers_[name] = number;
    }

    std::optional<HeldName> Find(const NetbiosName &name) const override {
        const auto it = numbers_.find(name);
        if (it == numbers_.end()) return std::nullopt;
        return HeldName{it->second, REGISTERED, kProcessClient};
    }
    std::optional<NetbiosName> NameOf(UCHAR number, ClientId) const override {
        for (const auto &[name, held] : numbers_)
            if (held == number) return name;
        return std::nullopt;
    }
    void Resolve(const NetbiosName &, ResolveHandler) override {}
    void Lookup(const NetbiosName &, LookupHandler) override {}
    void OnSessionsClosed(const NetbiosName &) override {}
    void ForgetAddress(const NetbiosName &) override {}

private:
    std::map<NetbiosName, UCHAR> numbers_;
};

}  // namespace nbt
