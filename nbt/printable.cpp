// SPDX-License-Identifier: MIT
#include "printable.h"

#include <cstdint>
#include <cstdio>

namespace nbt {
namespace {

void AppendEscaped(std::string &out, std::string_view bytes) {
    char escape[5];
    for (const char c : bytes) {
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
        out += escape;
    }
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t *code_point) {
    if (i >= text.size()) return 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    // C0, C1 and F5-FF never lead; C0/C1 would only give overlong forms.
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || length > text.size() - i) return 0;
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        c = c << 6 | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    if (code_point) *code_point = c;
    return length;
}

bool IsTerminalControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const auto c = static_cast<std::uint8_t>(bytes[at]);
        if (c == '\\') {
            out += "\\\\";
            ++at;
        } else if (c < 0x80) {
            if (c < 0x20 || c == 0x7F)
                AppendEscaped(out, bytes.substr(at, 1));
            else
                out.push_back(static_cast<char>(c));
            ++at;
        } else {
            char32_t code_point = 0;
            const std::size_t length = Utf8SequenceLength(bytes, at, &code_point);
            if (length == 0) {
                AppendEscaped(out, bytes.substr(at, 1));
                ++at;
                continue;
            }
            if (code_point <= 0x9F)  // C1
                AppendEscaped(out, bytes.substr(at, length));
            else
                out.append(bytes.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace nbt
