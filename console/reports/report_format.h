// SPDX-License-Identifier: MIT
// Formatting helpers shared by the status reports.
#pragma once

#include <array>
#include <string>

#include "nb30.h"

// printf-style formatting into a std::string.
[[gnu::format(printf, 1, 2)]] std::string Format(const char *format, ...);

// A 16-byte NetBIOS name field as a terminated string, so "%16.16s" can
// print it: it ends at the first NUL byte or after 16 bytes.
std::array<char, NCBNAMSZ + 1> NameText(const UCHAR (&field)[NCBNAMSZ]);
