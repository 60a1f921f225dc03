#include "text_format.h"

#include <algorithm>
#include <cstdio>

#include "json.h"

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
    const std::string text(reinterpret_cast<const char *>(data), length);
    for (std::size_t i = 0; i < length; ++i) {
        const UCHAR c = data[i];
        if (c == '\n' || c == '\r' || c == '\t') continue;
        if (c < 0x20 || c == 0x7F) return false;
        if (c >= 0x80) {
            const std::size_t sequence = Utf8SequenceLength(text, i);
            if (sequence == 0) return false;
            i += sequence - 1;
        }
    }
    return true;
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

std::string ShowData(const UCHAR *data, std::size_t length) {
    if (!IsText(data, length)) return HexDump(data, length);
    std::string text(reinterpret_cast<const char *>(data), length);
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
