// SPDX-License-Identifier: MIT
// Whatever bytes a peer sends, korvel-nb prints nothing a terminal acts on
// and writes JSON that is valid UTF-8: glibc's strict converter judges, and
// the escaped text and the JSON string hold no control byte.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "json.h"
#include "printable.h"
#include "text_format.h"

namespace {

bool IsStrictUtf8(std::string text) {
    static const iconv_t to_utf32 = iconv_open("UTF-32LE", "UTF-8");
    std::string out(4 * text.size() + 4, '\0');
    char *from = text.data(), *to = out.data();
    std::size_t left = text.size(), room = out.size();
    iconv(to_utf32, nullptr, nullptr, nullptr, nullptr);
    return iconv(to_utf32, &from, &left, &to, &room) != static_cast<std::size_t>(-1);
}

// No control code point, tab and newline aside where allowed.
bool HasNoControl(const std::string &text, bool tab_and_newline) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<unsigned char>(text[i]);
        std::size_t length = c >= 0x80 ? nbt::Utf8SequenceLength(text, i, &c) : 1;
        if (length == 0) return false;
        if (nbt::IsTerminalControl(c) && !(tab_and_newline && (c == '\t' || c == '\n'))) return false;
        i += length - 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::string shown = cli::EscapeForTerminal(bytes);
    if (!IsStrictUtf8(shown) || !HasNoControl(shown, true)) __builtin_trap();
    const std::string quoted = cli::JsonQuote(bytes);
    if (!IsStrictUtf8(quoted) || !HasNoControl(quoted, false)) __builtin_trap();
    if (cli::Base64(data, size).size() != (size + 2) / 3 * 4) __builtin_trap();
    return 0;
}
