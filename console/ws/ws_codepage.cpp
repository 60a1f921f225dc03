// SPDX-License-Identifier: MIT
#include "ws_codepage.h"

#include <array>

namespace {
// Windows-1252 0x80 to 0x9F; the five unassigned bytes keep their C1 value.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
}  // namespace

wxString ToToolkit(std::string_view bytes) {
    wxString text;
    text.reserve(bytes.size());
    for (unsigned char byte : bytes) {
        if (byte >= 0x80 && byte < 0xA0)
            text += wxUniChar(static_cast<wxUint32>(kHigh[byte - 0x80]));
        else
            text += wxUniChar(static_cast<wxUint32>(byte));
    }
    return text;
}

std::string FromToolkit(const wxString &text) {
    std::string bytes;
    bytes.reserve(text.length());
    for (wxUniChar c : text) {
        const wxUint32 code = c.GetValue();
        char byte = '?';
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            byte = char(code);
        } else {
            for (std::size_t i = 0; i < kHigh.size(); ++i)
                if (kHigh[i] == code) byte = char(0x80 + i);
        }
        bytes += byte;
    }
    return bytes;
}
