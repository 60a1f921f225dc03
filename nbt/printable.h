// SPDX-License-Identifier: MIT
// Bytes from a file, the environment or the wire as they may go to a
// terminal in a message: nothing in them can move the cursor, retitle the
// window or switch the character set.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nbt {

// Length (2 to 4) of the valid UTF-8 sequence of two or more bytes that
// starts at text[i], with its code point in *code_point; 0 when the bytes
// there are not one (a lone or ASCII byte, a truncated sequence, an overlong
// form, a surrogate, a code point above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t *code_point = nullptr);

// C0 controls, DEL, C1 controls (U+0080-U+009F, which 8-bit terminals read
// as CSI, NEL, ...), and the bidirectional controls that reorder what
// follows on the line: U+061C, U+200E/U+200F, U+202A-U+202E, U+2066-U+2069.
bool IsTerminalControl(char32_t c);

// `bytes` with every C0 control, DEL, C1 control (raw or UTF-8 encoded),
// byte that is not part of valid UTF-8 and backslash written as \xNN (a
// backslash as \\). Other UTF-8 text is kept as it is.
std::string Printable(std::string_view bytes);

}  // namespace nbt
