// SPDX-License-Identifier: MIT
// Bytes from a file, the environment or the wire as they may go to a
// terminal in a message: nothing in them can move the cursor, retitle the
// window or switch the character set.
#pragma once

#include <string>
#include <string_view>

namespace nbt {

// `bytes` with every C0 control, DEL, C1 control (raw or UTF-8 encoded),
// byte that is not part of valid UTF-8 and backslash written as \xNN (a
// backslash as \\). Other UTF-8 text is kept as it is.
std::string Printable(std::string_view bytes);

}  // namespace nbt
