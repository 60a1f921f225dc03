// SPDX-License-Identifier: MIT
// How received data is reported: JSON (text, or hex when it is not text)
// and the lines a person reads.
#pragma once

#include <string>

#include "json.h"
#include "session_channel.h"

namespace cli {

// Sets "text" when the data reads as text, with "base64" (the exact bytes)
// beside it when the text is not all UTF-8, or else "hex".
void SetData(Json &json, const UCHAR *data, std::size_t length);
Json MessageJson(const Received &message);
// "received 84 bytes" (and the pieces, when there were several), then the
// data as escaped text or as a hex dump, or with raw as it came.
std::string MessageText(const Received &message, bool raw);

}  // namespace cli
