#include "json.h"

#include <cmath>
#include <cstdio>

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

std::size_t Utf8SequenceLength(const std::string &text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
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
        if (c >= 0x80) {
            if (std::size_t length = Utf8SequenceLength(text, i)) {
                out.append(text, i, length);
                i += length - 1;
                continue;
            }
        }
        if (c < 0x20 || c >= 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

}  // namespace cli
