// SPDX-License-Identifier: MIT
#include "names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace cli {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<UCHAR> HexByte(const std::string &text) {
    if (text.size() != 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) return std::nullopt;
    return static_cast<UCHAR>(HexDigit(text[0]) * 16 + HexDigit(text[1]));
}

}  // namespace

std::optional<NameField> ParseName(const std::string &text, std::string *error) {
    NameField field;
    field.fill(' ');
    if (text == "*") {
        field.fill(0);
        field[0] = '*';
        return field;
    }
    std::string body = text;
    std::optional<UCHAR> suffix;
    if (auto hash = body.rfind('#'); hash != std::string::npos) {
        suffix = HexByte(body.substr(hash + 1));
        if (!suffix) {
            *error = "bad suffix in '" + text + "': write two hex digits after '#'";
            return std::nullopt;
        }
        body.resize(hash);
    } else if (body.size() >= 4 && body.back() == '>' && body[body.size() - 4] == '<') {
        suffix = HexByte(body.substr(body.size() - 3, 2));
        if (!suffix) {
            *error = "bad suffix in '" + text + "': write two hex digits between '<' and '>'";
            return std::nullopt;
        }
        body.resize(body.size() - 4);
    }

    std::vector<UCHAR> bytes;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\\' && i + 3 < body.size() && body[i + 1] == 'x') {
            auto byte = HexByte(body.substr(i + 2, 2));
            if (byte) {
                bytes.push_back(*byte);
                i += 3;
                continue;
            }
        }
        bytes.push_back(static_cast<UCHAR>(std::toupper(static_cast<unsigned char>(body[i]))));
    }
    if (bytes.empty()) {
        *error = "empty name";
        return std::nullopt;
    }
    if (bytes.size() > NCBNAMSZ - 1) {
        *error = "name '" + text + "' is longer than 15 characters";
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), field.begin());
    if (suffix) field[NCBNAMSZ - 1] = *suffix;
    return field;
}

std::string FormatName(const UCHAR *field) {
    if (field[0] == '*' && std::all_of(field + 1, field + NCBNAMSZ, [](UCHAR c) { return c == 0; }))
        return "*";
    int end = NCBNAMSZ - 1;
    while (end > 0 && field[end - 1] == ' ') --end;
    std::string out;
    char escape[8];
    for (int i = 0; i < end; ++i) {
        const UCHAR c = field[i];
        // Lower case too: parsing would upper-case it.
        if (c < 0x20 || c >= 0x7F || c == '\\' || c == '#' || std::islower(c)) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    std::snprintf(escape, sizeof escape, "<%02X>", field[NCBNAMSZ - 1]);
    return out + escape;
}

std::optional<std::uint32_t> ParseIpv4(const std::string &text) {
    std::uint32_t address = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && i - start < 3)
            value = value * 10 + static_cast<unsigned>(text[i++] - '0');
        if (i == start || value > 255) return std::nullopt;
        address = address << 8 | value;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') return std::nullopt;
            ++i;
        }
    }
    if (i != text.size()) return std::nullopt;
    return address;
}

std::string FormatIpv4(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF, address >> 8 & 0xFF,
                  address & 0xFF);
    return text;
}

std::optional<AdapterAddress> ParseAdapterAddress(const std::string &text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-' || c == '.') continue;
        if (HexDigit(c) < 0) return std::nullopt;
        digits.push_back(c);
    }
    if (digits.size() != 12) return std::nullopt;
    AdapterAddress address;
    for (int i = 0; i < 6; ++i) address[i] = *HexByte(digits.substr(2 * i, 2));
    return address;
}

std::string FormatAdapterAddress(const UCHAR *address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    return text;
}

}  // namespace cli
