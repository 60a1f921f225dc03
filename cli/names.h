// SPDX-License-Identifier: MIT
// What a user types for names and addresses, and how they are shown.
//
// A NAME is up to 15 characters, upper-cased and padded with spaces to 16
// bytes, so the last byte (the suffix) is 0x20 unless given: NAME#1D or
// NAME<1D> sets it. \xHH writes any byte as it is (no upper-casing), and '*'
// alone is the wildcard ('*' and 15 zero bytes). Shown names trim trailing
// spaces, escape what is not printable, and end in <HH>, so they
// parse back to the same 16 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "nb30.h"

namespace cli {

using NameField = std::array<UCHAR, NCBNAMSZ>;
using AdapterAddress = std::array<UCHAR, 6>;

// The 16 bytes of a NAME, or nullopt with the reason in *error.
std::optional<NameField> ParseName(const std::string &text, std::string *error);
std::string FormatName(const UCHAR *field);
inline std::string FormatName(const NameField &field) {
    return FormatName(field.data());
}
// The suffix byte, for JSON.
inline unsigned NameSuffix(const UCHAR *field) {
    return field[NCBNAMSZ - 1];
}

// Dotted IPv4 ("198.18.137.11"), host byte order.
std::optional<std::uint32_t> ParseIpv4(const std::string &text);
std::string FormatIpv4(std::uint32_t address);

// 12 hex digits, with or without ':', '-' or '.' between them.
std::optional<AdapterAddress> ParseAdapterAddress(const std::string &text);
std::string FormatAdapterAddress(const UCHAR *address);

}  // namespace cli
