// SPDX-License-Identifier: MIT
#include "json.h"

#include <cmath>
#include <cstdio>

#include "printable.h"

namespace cli {

Json &Json::Set(const std::string &key, Json value) {
    return (*this)[key] = std::move(value);
}

Json &Json::Push(Json value) {
    items_.push_back(std::move(value));
    return items_.back();
}

Json &Json::operator[](const std::string &key) {
    for (auto &[name, value] : members_)
        if (name == key) return value;
    members_.emplace_back(key, Json());
    return members_.back().second;
}

std::string Json::Dump() const {
    std::string out;
    Write(out, 0);
    return out + "\n";
}

void Json::Write(std::string &out, int depth) const {
    const std::string indent(2 * (depth + 1), ' ');
    const std::string closing(2 * depth, ' ');
    switch (kind_) {
        case Kind::kNull:
            out += "null";
            break;
        case Kind::kBool:
            out += bool_ ? "true" : "false";
            break;
        case Kind::kNumber:
            out += std::to_string(number_);
            break;
        case Kind::kReal: {
            char text[32];
            std::snprintf(text, sizeof text, "%.6g", std::isfinite(real_) ? real_ : 0.0);
            out += text;
            break;
        }
        case Kind::kString:
            out += JsonQuote(text_);
            break;
        case Kind::kArray:
            if (items_.empty()) {
                out += "[]";
                break;
            }
            out += "[\n";
            for (std::size_t i = 0; i < items_.size(); ++i) {
                out += indent;
                items_[i].Write(out, depth + 1);
                out += i + 1 < items_.size() ? ",\n" : "\n";
            }
            out += closing + "]";
            break;
        case Kind::kObject:
            if (members_.empty()) {
                out += "{}";
                break;
            }
            out += "{\n";
            for (std::size_t i = 0; i < members_.size(); ++i) {
                out += indent + JsonQuote(members_[i].first) + ": ";
                members_[i].second.Write(out, depth + 1);
                out += i + 1 < members_.size() ? ",\n" : "\n";
            }
            out += closing + "}";
            break;
    }
}

std::string JsonQuote(const std::string &text) {
    std::string out = "\"";
    char escape[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\t':
                out += "\\t";
                continue;
            default:
                break;
        }
        char32_t code_point = c;
        std::size_t length = c >= 0x80 ? nbt::Utf8SequenceLength(text, i, &code_point) : 1;
        if (length == 0) length = 1;  // not UTF-8: the byte stands for itself, as in Latin-1
        if (length == 1 ? c < 0x20 || c >= 0x7F : nbt::IsTerminalControl(code_point)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code_point));
            out += escape;
        } else {
            out.append(text, i, length);
        }
        i += length - 1;
    }
    return out + "\"";
}

}  // namespace cli
