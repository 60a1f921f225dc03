// SPDX-License-Identifier: MIT
// UTF-8 as peers send it: decoded strictly, so overlong forms, surrogates
// and code points above U+10FFFF never pass for text, and the characters a
// terminal acts on instead of showing.
#pragma once

#include <cstddef>
#include <string_view>

namespace cli {

// Length (2 to 4) of the valid UTF-8 sequence of two or more bytes that
// starts at text[i], with its code point in *code_point; 0 when the bytes
// there are not one (a lone or ASCII byte, a truncated sequence, ...).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t *code_point = nullptr);

// C0 controls, DEL, C1 controls (U+0080-U+009F, which 8-bit terminals read
// as CSI, NEL, ...), and the bidirectional controls that reorder what
// follows on the line: U+061C, U+200E/U+200F, U+202A-U+202E, U+2066-U+2069.
bool IsTerminalControl(char32_t c);

}  // namespace cli
