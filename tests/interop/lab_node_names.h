// Name fields as the lab node programs fill and print them.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "nb30.h"

// The text's first 16 bytes, then spaces: the field as an operator types it.
inline void Pad(UCHAR *field, const std::string &text) {
    std::memset(field, ' ', NCBNAMSZ);
    std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), NCBNAMSZ));
}

// NAME#XX: the name padded with spaces to 15 bytes and suffix XX (hex);
// without '#', as Pad().
inline void PadSuffixed(UCHAR *field, const std::string &text) {
    const auto hash = text.find('#');
    if (hash == std::string::npos) return Pad(field, text);
    Pad(field, text.substr(0, std::min<std::size_t>(hash, 15)));
    field[15] = static_cast<UCHAR>(std::stoi(text.substr(hash + 1), nullptr, 16));
}

// The 15 name characters (unprintable ones as '.') and the suffix, NAME<20>.
inline std::string Printable(const UCHAR *name) {
    std::string out;
    for (int i = 0; i < 15; ++i)
        out.push_back(name[i] >= 0x20 && name[i] < 0x7F ? static_cast<char>(name[i]) : '.');
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "<%02X>", name[15]);
    return out + suffix;
}
