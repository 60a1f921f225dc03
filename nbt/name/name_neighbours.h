// SPDX-License-Identifier: MIT
// Finding the IPv4 address behind an adapter (MAC) address in the kernel's
// neighbour table, for adapter status by adapter address. NBT itself has no
// MAC addressing.
#pragma once

#include <asio/ip/address_v4.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "lana_table.h"

namespace nbt {

// Searches text in the format of /proc/net/arp for a complete entry with
// this hardware address (on `device`, or on any device when it is empty).
std::optional<asio::ip::address_v4> FindNeighbour(std::string_view arp_table, const MacAddress &mac,
                                                  const std::string &device);

// The same against the live table of this network namespace.
std::optional<asio::ip::address_v4> LookupNeighbour(const MacAddress &mac, const std::string &device);

}  // namespace nbt
