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

// Length of the valid UTF-8 sequence at the start of `bytes` and its code
// point; 0 when it is not one (overlong forms and surrogates included).
std::size_t Utf8Sequence(std::string_view bytes, char32_t &code_point) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
    code_point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code_point = code_point << 6 | (byte(i) & 0x3F);
    }
    return length;
}

}  // namespace

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
            const std::size_t length = Utf8Sequence(bytes.substr(at), code_point);
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
