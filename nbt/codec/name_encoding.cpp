// SPDX-License-Identifier: MIT
#include "name_encoding.h"

#include <algorithm>
#include <cstring>

namespace nbt::codec {

namespace {

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

// One half-byte as a letter 'A'..'P' of the first-level encoding.
std::uint8_t Letter(std::uint8_t nibble) {
    return static_cast<std::uint8_t>('A' + nibble);
}
bool IsLetter(std::uint8_t c) {
    return c >= 'A' && c <= 'P';
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

bool WriteName(ByteWriter &out, const NetbiosName &name) {
    if (!IsValidScope(name.scope)) return false;
    out.U8(static_cast<std::uint8_t>(kFirstLevelLabel));
    for (std::uint8_t byte : name.raw) {
        out.U8(Letter(byte >> 4));
        out.U8(Letter(byte & 0x0F));
    }
    if (!name.scope.empty()) {
        for (const auto &label : SplitScope(name.scope)) {
            out.U8(static_cast<std::uint8_t>(label.size()));
            out.Bytes({reinterpret_cast<const std::uint8_t *>(label.data()), label.size()});
        }
    }
    out.U8(0);
    return true;
}

bool AppendEncodedName(std::vector<std::uint8_t> &out, const NetbiosName &name) {
    ByteWriter writer(out);
    return WriteName(writer, name);
}

std::optional<NetbiosName> ReadName(ByteReader &in, bool allow_pointers) {
    NetbiosName name;
    ByteReader cursor = in;                // follows the pointers
    std::size_t segment_start = in.pos();  // a pointer must land before this
    std::size_t resume = 0;                // where the caller continues, once known
    bool jumped = false;
    int hops = 0;
    bool first = true;
    std::size_t encoded = 0;
    auto fail = [&in] {
        in.Fail();
        return std::nullopt;
    };

    while (true) {
        const std::uint8_t len = cursor.U8();
        if (!cursor.ok()) return fail();
        if ((len & kLabelTypeMask) == kLabelTypeMask) {
            if (!allow_pointers) return fail();
            const std::size_t target = (std::size_t{len} << 8 | cursor.U8()) & kPointerOffsetMask;
            if (!cursor.ok() || target >= segment_start || ++hops > kMaxPointerHops) return fail();
            if (!jumped) resume = cursor.pos();
            jumped = true;
            cursor.Seek(target);
            segment_start = target;
            continue;
        }
        if (len & kLabelTypeMask) return fail();  // 0x40 and 0x80 label types are reserved
        if (len == 0) {
            if (first) return fail();
            encoded += 1;
            if (encoded > kMaxEncodedName) return fail();
            in.Seek(jumped ? resume : cursor.pos());
            return name;
        }
        encoded += 1 + len;
        if (encoded > kMaxEncodedName) return fail();
        if (first) {
            if (len != kFirstLevelLabel) return fail();
            for (auto &byte : name.raw) {
                const std::uint8_t hi = cursor.U8(), lo = cursor.U8();
                if (!IsLetter(hi) || !IsLetter(lo)) return fail();  // also what a failed read gives
                byte = static_cast<std::uint8_t>((hi - 'A') << 4 | (lo - 'A'));
            }
            first = false;
        } else {
            const auto label = cursor.Bytes(len);
            if (!cursor.ok()) return fail();
            // A dot inside a label would make the dotted scope ambiguous.
            if (std::find(label.begin(), label.end(), '.') != label.end()) return fail();
            if (!name.scope.empty()) name.scope.push_back('.');
            name.scope.append(label.begin(), label.end());
        }
    }
}

std::optional<NetbiosName> DecodeName(std::span<const std::uint8_t> packet, std::size_t &pos,
                                      bool allow_pointers) {
    ByteReader reader(packet, pos);
    auto name = ReadName(reader, allow_pointers);
    if (name) pos = reader.pos();
    return name;
}

}  // namespace nbt::codec
