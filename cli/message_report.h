// How a received message is reported: JSON (text, or hex when it is not
// text) and the lines a person reads.
#pragma once

#include <string>

#include "json.h"
#include "session_channel.h"

namespace cli {

Json MessageJson(const Received &message);
// "received 84 bytes" (and the pieces, when there were several), then the
// data as text or as a hex dump.
std::string MessageText(const Received &message);

}  // namespace cli
