// SPDX-License-Identifier: MIT
#include "text_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "printable.h"

namespace cli {

std::string Table::Render() const {
    std::vector<std::size_t> widths;
    for (const auto &row : rows_)
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string out;
    for (const auto &row : rows_) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

bool IsText(const UCHAR *data, std::size_t length) {
    return std::none_of(data, data + length, [](UCHAR c) {
        return (c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7F;
    });
}

bool IsUtf8(const UCHAR *data, std::size_t length) {
    const std::string_view text(reinterpret_cast<const char *>(data), length);
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] < 0x80) continue;
        const std::size_t sequence = nbt::Utf8SequenceLength(text, i);
        if (sequence == 0) return false;
        i += sequence - 1;
    }
    return true;
}

std::string EscapeForTerminal(std::string_view bytes) {
    std::string out;
    char escape[8];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char32_t code_point = c;
        std::size_t length = c >= 0x80 ? nbt::Utf8SequenceLength(bytes, i, &code_point) : 1;
        if (length == 0) length = 1;  // not UTF-8: escaped like a control
        const bool shown = length == 1 ? (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'
                                       : !nbt::IsTerminalControl(code_point);
        if (c == '\\') {
            out += "\\\\";
        } else if (shown) {
            out.append(bytes.substr(i, length));
        } else {
            for (std::size_t k = i; k < i + length; ++k) {
                std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(bytes[k]));
                out += escape;
            }
        }
        i += length - 1;
    }
    return out;
}

std::string HexDump(const UCHAR *data, std::size_t length) {
    std::string out;
    char cell[24];
    for (std::size_t line = 0; line < length; line += 16) {
        std::snprintf(cell, sizeof cell, "%04zx  ", line);
        out += cell;
        std::string chars;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < length) {
                std::snprintf(cell, sizeof cell, "%02x ", data[i]);
                out += cell;
                chars.push_back(data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.');
            } else {
                out += "   ";
            }
            if (i == line + 7) out += ' ';
        }
        out += " " + chars + "\n";
    }
    return out;
}

std::string Hex(const UCHAR *data, std::size_t length) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

std::string Base64(const UCHAR *data, std::size_t length) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < length; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, length - i);
        std::uint32_t group = std::uint32_t{data[i]} << 16;
        if (n > 1) group |= std::uint32_t{data[i + 1]} << 8;
        if (n > 2) group |= data[i + 2];
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[group >> (18 - 6 * k) & 0x3F] : '=';
    }
    return out;
}

std::string ShowData(const UCHAR *data, std::size_t length, bool raw) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), length);
    if (!raw && !IsText(data, length)) return HexDump(data, length);
    std::string text = raw ? std::string(bytes) : EscapeForTerminal(bytes);
    if (text.empty() || text.back() != '\n') text += "\n";
    return text;
}

std::string NameType(UCHAR name_flags) {
    return (name_flags & GROUP_NAME) ? "group" : "unique";
}

std::string NameState(UCHAR name_flags) {
    switch (name_flags & 0x07) {
        case REGISTERING:
            return "registering";
        case REGISTERED:
            return "registered";
        case DEREGISTERED:
            return "deregistered";
        case DUPLICATE:
            return "conflict";
        case DUPLICATE_DEREG:
            return "conflict, deregistered";
        default:
            return "state " + std::to_string(name_flags & 0x07);
    }
}

std::string SessionState(UCHAR state) {
    switch (state) {
        case LISTEN_OUTSTANDING:
            return "listen pending";
        case CALL_PENDING:
            return "call pending";
        case SESSION_ESTABLISHED:
            return "established";
        case HANGUP_PENDING:
            return "hangup pending";
        case HANGUP_COMPLETE:
            return "hung up";
        case SESSION_ABORTED:
            return "aborted";
        default:
            return "state " + std::to_string(state);
    }
}

}  // namespace cli
