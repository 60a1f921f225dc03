// SPDX-License-Identifier: MIT
#include "hex_to_address.h"

#include <algorithm>
#include <string>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One number of at most two hexadecimal digits from the start of `pair`.
UCHAR ScanByte(std::string_view pair) {
    int value = 0;
    for (char c : pair.substr(0, 2)) {
        const int digit = HexDigit(c);
        if (digit < 0) break;
        value = value * 16 + digit;
    }
    return static_cast<UCHAR>(value);
}

}  // namespace

void HexToAddress(UCHAR (&address)[6], std::string_view text) {
    constexpr std::size_t kDigits = 12;
    std::string field(kDigits > text.size() ? kDigits - text.size() : 0, '0');
    field += text;
    for (std::size_t i = 0; i < 6; ++i) address[i] = ScanByte(std::string_view(field).substr(2 * i));
}

bool IsAddressText(std::string_view text) {
    if (text.size() > 15) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return HexDigit(c) >= 0; });
}

AddressCallName MakeAddressCallName(std::string_view text) {
    AddressCallName callname{};
    UCHAR address[6];
    HexToAddress(address, text);
    std::copy(std::begin(address), std::end(address), callname.begin() + 10);
    return callname;
}
