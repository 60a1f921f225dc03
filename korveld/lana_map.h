// SPDX-License-Identifier: MIT
// korveld's LANA numbers: interface name -> LANA 1..254. A number once given
// to an interface stays its own while the interface is away and across
// restarts (stable_lanas.h keeps the map in a file); an administrator's pins
// ([adapter NAME] lana = N) come first. Pure: no file, no host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "lana_table.h"

namespace korveld {

using LanaMap = std::map<std::string, std::uint8_t>;  // interface name -> LANA

// Whether the kernel would take `name` for an interface: 1 to 15 bytes, not
// "." or "..", no '/', ':' or white space.
bool IsInterfaceName(std::string_view name);

// The map file's text: one "NAME NUMBER" a line, '#' comments. What cannot be
// an entry (a line that does not parse, a name no interface can have, a
// number out of 1..254, a second line for a name or for a number) is
// skipped and counted in *skipped: the file only ever helps.
LanaMap ParseLanaMap(std::string_view text, std::size_t *skipped);
std::string FormatLanaMap(const LanaMap &map);

// Numbers `present` (eligible interfaces, EligibleInterfaces order): an
// interface's pin first; else its number in `map`, unless a pin took it;
// else the lowest number nobody has in the map or the pins; else, with all
// 254 given, the lowest one of an interface not present, which loses it.
// Two pins of one number: the first interface by name keeps it. `map` ends
// holding every present interface's number. The table is LANA 0 and then
// ascending numbers.
std::vector<nbt::Lana> AssignLanas(const std::vector<nbt::InterfaceAddress> &present, const LanaMap &pins,
                                   LanaMap &map);

}  // namespace korveld
