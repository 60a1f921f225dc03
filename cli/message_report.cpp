#include "message_report.h"

#include "return_codes.h"
#include "text_format.h"

namespace cli {

Json MessageJson(const Received &message) {
    Json json = Json::Object();
    json.Set("length", static_cast<std::uint64_t>(message.data.size()));
    if (IsText(message.data.data(), message.data.size()))
        json.Set("text", std::string(message.data.begin(), message.data.end()));
    else
        json.Set("hex", Hex(message.data.data(), message.data.size()));
    Json pieces = Json::Array();
    for (const auto &[rc, length] : message.pieces) {
        Json piece = Json::Object();
        piece.Set("rc", ReturnCodeName(rc));
        piece.Set("length", static_cast<unsigned>(length));
        pieces.Push(std::move(piece));
    }
    json.Set("pieces", std::move(pieces));
    return json;
}

std::string MessageText(const Received &message) {
    std::string out = "received " + std::to_string(message.data.size()) + " bytes";
    if (message.pieces.size() > 1)
        out += " in " + std::to_string(message.pieces.size()) + " pieces (" +
               std::to_string(message.pieces.size() - 1) + " x " + ReturnCodeName(NRC_INCOMP) + ")";
    return out + "\n" + ShowData(message.data.data(), message.data.size());
}

}  // namespace cli
