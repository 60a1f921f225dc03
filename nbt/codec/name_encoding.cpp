#include "name_encoding.h"

#include <algorithm>
#include <cstring>

namespace nbt::codec {

namespace {

constexpr std::uint8_t kPointerMask = 0xC0;
constexpr std::size_t kMaxLabel = 63;
// Pointers can only go backwards, so a chain is bounded by the packet; this
// cap keeps a hostile chain of tiny hops from costing more than it must.
constexpr int kMaxPointerHops = 32;

std::vector<std::string> SplitScope(const std::string &scope) {
    std::vector<std::string> labels;
    std::size_t start = 0;
    while (start <= scope.size()) {
        std::size_t dot = scope.find('.', start);
        if (dot == std::string::npos) dot = scope.size();
        labels.push_back(scope.substr(start, dot - start));
        start = dot + 1;
    }
    return labels;
}

}  // namespace

NetbiosName MakeName(std::span<const std::uint8_t> raw16, std::string scope) {
    NetbiosName name;
    std::copy_n(raw16.begin(), std::min<std::size_t>(raw16.size(), 16), name.raw.begin());
    name.scope = std::move(scope);
    return name;
}

NetbiosName MakeName(const char *text16, std::string scope) {
    NetbiosName name;
    std::memcpy(name.raw.data(), text16, 16);
    name.scope = std::move(scope);
    return name;
}

bool IsValidScope(const std::string &scope) {
    if (scope.empty()) return true;
    std::size_t size = kPlainEncodedName;
    for (const auto &label : SplitScope(scope)) {
        if (label.empty() || label.size() > kMaxLabel) return false;
        size += 1 + label.size();
    }
    return size <= kMaxEncodedName;
}

std::size_t EncodedNameSize(const NetbiosName &name) {
    return kPlainEncodedName + (name.scope.empty() ? 0 : name.scope.size() + 1);
}

bool AppendEncodedName(std::vector<std::uint8_t> &out, const NetbiosName &name) {
    if (!IsValidScope(name.scope)) return false;
    out.push_back(0x20);
    for (std::uint8_t byte : name.raw) {
        out.push_back(static_cast<std::uint8_t>('A' + (byte >> 4)));
        out.push_back(static_cast<std::uint8_t>('A' + (byte & 0x0F)));
    }
    if (!name.scope.empty()) {
        for (const auto &label : SplitScope(name.scope)) {
            out.push_back(static_cast<std::uint8_t>(label.size()));
            out.insert(out.end(), label.begin(), label.end());
        }
    }
    out.push_back(0);
    return true;
}

std::optional<NetbiosName> DecodeName(std::span<const std::uint8_t> packet, std::size_t &pos,
                                      bool allow_pointers) {
    NetbiosName name;
    std::size_t cursor = pos;
    std::size_t segment_start = pos;  // a pointer must land before this
    std::size_t resume = 0;           // where the caller continues, once known
    bool jumped = false;
    int hops = 0;
    bool first = true;
    std::size_t encoded = 0;

    while (true) {
        if (cursor >= packet.size()) return std::nullopt;
        std::uint8_t len = packet[cursor];
        if ((len & kPointerMask) == kPointerMask) {
            if (!allow_pointers) return std::nullopt;
            if (cursor + 1 >= packet.size()) return std::nullopt;
            std::size_t target = static_cast<std::size_t>(len & 0x3F) << 8 | packet[cursor + 1];
            if (target >= segment_start || ++hops > kMaxPointerHops) return std::nullopt;
            if (!jumped) resume = cursor + 2;
            jumped = true;
            cursor = target;
            segment_start = target;
            continue;
        }
        if (len & kPointerMask) return std::nullopt;  // 0x40 and 0x80 label types are reserved
        if (len == 0) {
            if (first) return std::nullopt;
            encoded += 1;
            if (encoded > kMaxEncodedName) return std::nullopt;
            pos = jumped ? resume : cursor + 1;
            return name;
        }
        if (packet.size() - cursor - 1 < len) return std::nullopt;
        auto label = packet.subspan(cursor + 1, len);
        encoded += 1 + len;
        if (encoded > kMaxEncodedName) return std::nullopt;
        if (first) {
            if (len != 32) return std::nullopt;
            for (std::size_t i = 0; i < 16; ++i) {
                std::uint8_t hi = label[2 * i], lo = label[2 * i + 1];
                if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P') return std::nullopt;
                name.raw[i] = static_cast<std::uint8_t>((hi - 'A') << 4 | (lo - 'A'));
            }
            first = false;
        } else {
            // A dot inside a label would make the dotted scope ambiguous.
            if (std::find(label.begin(), label.end(), '.') != label.end()) return std::nullopt;
            if (!name.scope.empty()) name.scope.push_back('.');
            name.scope.append(label.begin(), label.end());
        }
        cursor += 1 + len;
    }
}

}  // namespace nbt::codec
