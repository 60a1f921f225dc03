// SPDX-License-Identifier: MIT
#include "lana_map.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <set>

namespace korveld {
namespace {

constexpr std::size_t kNumbers = MAX_LANA + 1;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool IsInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > 15 || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || c == ':' || c == '\0' || IsBlank(c); });
}

LanaMap ParseLanaMap(std::string_view text, std::size_t *skipped) {
    LanaMap map;
    std::bitset<kNumbers> taken;
    std::size_t bad = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::size_t gap = std::find_if(line.begin(), line.end(), IsBlank) - line.begin();
        const std::string_view name = line.substr(0, gap);
        const std::string_view digits = Trim(line.substr(std::min(gap, line.size())));
        unsigned number = 0;
        const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (!IsInterfaceName(name) || digits.empty() || error != std::errc() ||
            rest != digits.data() + digits.size() || number < 1 || number > MAX_LANA || taken.test(number) ||
            map.contains(std::string(name))) {
            ++bad;
            continue;
        }
        taken.set(number);
        map.emplace(name, static_cast<std::uint8_t>(number));
    }
    if (skipped) *skipped = bad;
    return map;
}

std::string FormatLanaMap(const LanaMap &map) {
    std::string text =
        "# korveld: the LANA number of each interface it has seen. Pin numbers in\n"
        "# /etc/korvel/korvel.conf instead ([adapter NAME] lana = N).\n";
    for (const auto &[name, number] : map) text += name + " " + std::to_string(number) + "\n";
    return text;
}

std::vector<nbt::Lana> AssignLanas(const std::vector<nbt::InterfaceAddress> &present, const LanaMap &pins,
                                   LanaMap &map) {
    // The pins that hold: one interface a number.
    LanaMap pinned;
    std::bitset<kNumbers> pin_taken;
    for (const auto &[name, number] : pins) {
        if (number < 1 || number > MAX_LANA || pin_taken.test(number)) continue;
        pin_taken.set(number);
        pinned.emplace(name, number);
    }
    // A pin outranks what the map says, for its own interface and for any
    // other that had its number.
    for (auto it = map.begin(); it != map.end();) {
        const auto pin = pinned.find(it->first);
        const bool moved = pin != pinned.end() ? pin->second != it->second : pin_taken.test(it->second);
        it = moved ? map.erase(it) : std::next(it);
    }
    for (const auto &[name, number] : pinned) map[name] = number;

    std::set<std::string> here;
    for (const auto &entry : present) here.insert(entry.name);
    std::bitset<kNumbers> taken = pin_taken;
    for (const auto &[name, number] : map) taken.set(number);

    auto number_for_new = [&]() -> std::uint8_t {
        for (std::size_t n = 1; n < kNumbers; ++n)
            if (!taken.test(n)) return static_cast<std::uint8_t>(n);
        // Every number given: the lowest of an absent, unpinned interface.
        std::uint8_t best = 0;
        std::string owner;
        for (const auto &[name, number] : map)
            if (!here.contains(name) && !pinned.contains(name) && (best == 0 || number < best)) {
                best = number;
                owner = name;
            }
        if (best != 0) map.erase(owner);
        return best;
    };

    std::vector<nbt::Lana> lanas{nbt::LoopbackLana()};
    for (const nbt::InterfaceAddress &entry : present) {
        auto it = map.find(entry.name);
        if (it == map.end()) {
            const std::uint8_t number = number_for_new();
            if (number == 0) continue;  // 254 pinned or present: no room
            taken.set(number);
            it = map.emplace(entry.name, number).first;
        }
        lanas.push_back(nbt::LanaOf(it->second, entry));
    }
    std::sort(lanas.begin() + 1, lanas.end(),
              [](const nbt::Lana &a, const nbt::Lana &b) { return a.number < b.number; });
    return lanas;
}

}  // namespace korveld
