// SPDX-License-Identifier: MIT
// The remote adapter query's two ways of naming an adapter: a NetBIOS name,
// or a six-byte adapter address typed as hexadecimal digits.
#pragma once

#include <array>
#include <string_view>

#include "nb30.h"

// Call name that asks for an adapter by address: ten zero bytes, then the
// six address bytes.
using AddressCallName = std::array<UCHAR, NCBNAMSZ>;

// Reads up to twelve hexadecimal digits as an adapter address: fewer digits
// are right-aligned behind leading zeros; of a longer text only the first
// twelve count. A pair that starts with a non-digit gives 0.
void HexToAddress(UCHAR (&address)[6], std::string_view text);

// True when the text names an adapter address rather than a NetBIOS name:
// empty, or 1 to 15 characters that are all hexadecimal digits.
bool IsAddressText(std::string_view text);

// The address call name for a text for which IsAddressText holds.
AddressCallName MakeAddressCallName(std::string_view text);
