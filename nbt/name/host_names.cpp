// SPDX-License-Identifier: MIT
#include "host_names.h"

#include <algorithm>

namespace nbt {

void HostNames::Hold(const codec::NetbiosName &name, UCHAR lana, std::uint32_t ipv4, bool registered) {
    for (Holding &holding : holdings_) {
        if (holding.lana == lana && holding.name == name) {
            holding.ipv4 = ipv4;
            holding.registered = registered;
            return;
        }
    }
    holdings_.push_back({name, lana, ipv4, registered});
}

void HostNames::Drop(const codec::NetbiosName &name, UCHAR lana) {
    std::erase_if(holdings_, [&](const Holding &h) { return h.lana == lana && h.name == name; });
}

void HostNames::DropLana(UCHAR lana) {
    std::erase_if(holdings_, [lana](const Holding &h) { return h.lana == lana; });
}

bool HostNames::HeldElsewhere(const codec::NetbiosName &name, UCHAR lana) const {
    return std::any_of(holdings_.begin(), holdings_.end(),
                       [&](const Holding &h) { return h.lana != lana && h.name == name; });
}

bool HostNames::HeldAt(const codec::NetbiosName &name, std::uint32_t ipv4) const {
    return std::any_of(holdings_.begin(), holdings_.end(),
                       [&](const Holding &h) { return h.ipv4 == ipv4 && h.name == name; });
}

std::vector<std::uint32_t> HostNames::RegisteredElsewhere(const codec::NetbiosName &name, UCHAR lana) const {
    std::vector<std::uint32_t> addresses;
    for (const Holding &h : holdings_)
        if (h.lana != lana && h.registered && h.name == name) addresses.push_back(h.ipv4);
    return addresses;
}

}  // namespace nbt
