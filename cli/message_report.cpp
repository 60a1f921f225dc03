// SPDX-License-Identifier: MIT
#include "message_report.h"

#include "return_codes.h"
#include "text_format.h"

namespace cli {

void SetData(Json &json, const UCHAR *data, std::size_t length) {
    if (!IsText(data, length)) {
        json.Set("hex", Hex(data, length));
        return;
    }
    // JSON strings are UTF-8: other bytes are escaped there, and kept here.
    json.Set("text", std::string(data, data + length));
    if (!IsUtf8(data, length)) json.Set("base64", Base64(data, length));
}

Json MessageJson(const Received &message) {
    Json json = Json::Object();
    json.Set("length", static_cast<std::uint64_t>(message.data.size()));
    SetData(json, message.data.data(), message.data.size());
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

std::string MessageText(const Received &message, bool raw) {
    std::string out = "received " + std::to_string(message.data.size()) + " bytes";
    if (message.pieces.size() > 1)
        out += " in " + std::to_string(message.pieces.size()) + " pieces (" +
               std::to_string(message.pieces.size() - 1) + " x " + ReturnCodeName(NRC_INCOMP) + ")";
    return out + "\n" + ShowData(message.data.data(), message.data.size(), raw);
}

}  // namespace cli
