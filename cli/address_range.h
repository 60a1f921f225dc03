// SPDX-License-Identifier: MIT
// The addresses `scan` visits, as a user writes them:
//   198.18.137.0/24             a CIDR block, without its network and
//                               broadcast addresses when it has more than two
//   198.18.137.1-137            from an address to another last byte
//   198.18.137.1-198.18.138.20  from an address to another
//   198.18.137.1                one address
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

struct AddressRange {
    std::uint32_t first = 0;  // host order
    std::uint32_t last = 0;
    std::uint64_t size() const { return std::uint64_t{last} - first + 1; }
};

// nullopt, with the reason in *error, for a malformed range or one of more
// than `max_size` addresses.
std::optional<AddressRange> ParseAddressRange(const std::string &text, std::uint64_t max_size,
                                              std::string *error);

}  // namespace cli
