// Text output a person reads: aligned tables, data shown as text or as a
// hex dump, and the words for name and session states.
#pragma once

#include <cstddef>
#include <string>
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

// True when the bytes read as text (printable ASCII, tabs, line ends, UTF-8).
bool IsText(const UCHAR *data, std::size_t length);
// Offset, 16 bytes in hex, the same as characters: one line per 16 bytes.
std::string HexDump(const UCHAR *data, std::size_t length);
// Hex digits of the bytes, no separators (for JSON).
std::string Hex(const UCHAR *data, std::size_t length);
// The data as text when it is, else as a hex dump; ends in a newline.
std::string ShowData(const UCHAR *data, std::size_t length);

// "unique"/"group" and "registering"/"registered"/"deregistered"/
// "conflict"/"conflict, deregistered" of NAME_BUFFER.name_flags.
std::string NameType(UCHAR name_flags);
std::string NameState(UCHAR name_flags);
// "listen pending", "established", ... of SESSION_BUFFER.state.
std::string SessionState(UCHAR state);

}  // namespace cli
