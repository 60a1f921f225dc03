// SPDX-License-Identifier: MIT
// A NetBIOS name as the provider handles it: 16 raw bytes (15 characters and
// a suffix byte). No case folding and no padding happen in the provider.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "nb30.h"

namespace nbt {

using NetbiosName = std::array<std::uint8_t, NCBNAMSZ>;

// Copies the 16 bytes of an NCB name field.
inline NetbiosName NameFromField(const UCHAR *field) {
    NetbiosName name{};
    std::copy(field, field + NCBNAMSZ, name.begin());
    return name;
}

inline void NameToField(const NetbiosName &name, UCHAR *field) {
    std::copy(name.begin(), name.end(), field);
}

// '*' or NUL as the first byte: the wildcard, or the adapter-address form.
inline bool IsWildcardOrEmpty(const NetbiosName &name) {
    return name[0] == '*' || name[0] == 0;
}

}  // namespace nbt
