// SPDX-License-Identifier: MIT
// Text output a person reads: aligned tables, data shown as text or as a
// hex dump, and the words for name and session states.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nb30.h"

namespace cli {

// Rows of cells printed in columns, two spaces apart, the last column
// unpadded. The first row is the header.
class Table {
public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::size_t rows() const { return rows_.size() - 1; }
    std::string Render() const;

private:
    std::vector<std::vector<std::string>> rows_;
};

// True when the bytes read as text: no control bytes but tabs and line
// ends. Bytes that are not UTF-8 (text in an 8-bit code page) still read as
// text; IsUtf8 tells them apart.
bool IsText(const UCHAR *data, std::size_t length);
bool IsUtf8(const UCHAR *data, std::size_t length);
// Bytes from a peer made safe to print: tab, newline, printable ASCII and
// UTF-8 characters as they are, a backslash as two, and every other byte as
// \xHH, as names are shown: controls (C0, DEL, C1 both as a byte and as
// UTF-8, so a bare CR cannot overwrite a line nor a CSI start a terminal
// command), bidirectional controls, and bytes that are not UTF-8.
std::string EscapeForTerminal(std::string_view bytes);
// Offset, 16 bytes in hex, the same as characters: one line per 16 bytes.
std::string HexDump(const UCHAR *data, std::size_t length);
// Hex digits of the bytes, no separators (for JSON).
std::string Hex(const UCHAR *data, std::size_t length);
// The bytes in base64 (RFC 4648, padded), for JSON.
std::string Base64(const UCHAR *data, std::size_t length);
// The data as escaped text when it is text, else as a hex dump; raw: the
// bytes as they are. Ends in a newline.
std::string ShowData(const UCHAR *data, std::size_t length, bool raw = false);

// "unique"/"group" and "registering"/"registered"/"deregistered"/
// "conflict"/"conflict, deregistered" of NAME_BUFFER.name_flags.
std::string NameType(UCHAR name_flags);
std::string NameState(UCHAR name_flags);
// "listen pending", "established", ... of SESSION_BUFFER.state.
std::string SessionState(UCHAR state);

}  // namespace cli
