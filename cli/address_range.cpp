// SPDX-License-Identifier: MIT
#include "address_range.h"

#include "names.h"

namespace cli {
namespace {

constexpr const char *kForms = "such as 198.18.137.0/24, 198.18.137.1-137 or 198.18.137.1-198.18.138.20";

bool AllDigits(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::optional<AddressRange> Fail(std::string *error, const std::string &message) {
    *error = message;
    return std::nullopt;
}

std::optional<AddressRange> ParseCidr(const std::string &text, std::string *error) {
    const auto slash = text.find('/');
    const auto base = ParseIpv4(text.substr(0, slash));
    if (!base) return Fail(error, "'" + text + "' is not an address range " + kForms);
    unsigned prefix = 32;
    if (slash != std::string::npos) {
        const std::string bits = text.substr(slash + 1);
        if (!AllDigits(bits) || bits.size() > 2 || std::stoul(bits) > 32)
            return Fail(error, "'/" + bits + "' in '" + text + "' is not a prefix length, 0 to 32");
        prefix = static_cast<unsigned>(std::stoul(bits));
    }
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    AddressRange range{*base & mask, (*base & mask) | ~mask};
    if (prefix < 31) {
        ++range.first;
        --range.last;
    }
    return range;
}

// The end of A.B.C.D-E or A.B.C.D-W.X.Y.Z.
std::optional<std::uint32_t> ParseEnd(const std::string &end, std::uint32_t first, std::string *error) {
    if (end.find('.') != std::string::npos) {
        const auto last = ParseIpv4(end);
        if (!last) *error = "'" + end + "' after '-' is not an IPv4 address";
        return last;
    }
    if (!AllDigits(end) || end.size() > 3) {
        *error = "'" + end + "' after '-' is neither a last byte (0 to 255) nor an IPv4 address";
        return std::nullopt;
    }
    const auto byte = std::stoul(end);
    if (byte > 255) {
        *error = "the last byte " + end + " is over 255";
        return std::nullopt;
    }
    return (first & 0xFFFFFF00u) | static_cast<std::uint32_t>(byte);
}

std::optional<AddressRange> ParseDashed(const std::string &text, std::string *error) {
    const auto dash = text.find('-');
    if (text.find('-', dash + 1) != std::string::npos)
        return Fail(error, "'" + text + "' has more than one '-'");
    const std::string start = text.substr(0, dash);
    const auto first = ParseIpv4(start);
    if (!first) return Fail(error, "'" + start + "' before '-' is not an IPv4 address");
    const auto last = ParseEnd(text.substr(dash + 1), *first, error);
    if (!last) return std::nullopt;
    if (*last < *first)
        return Fail(error, "'" + text + "' ends (" + FormatIpv4(*last) + ") before it starts");
    return AddressRange{*first, *last};
}

}  // namespace

std::optional<AddressRange> ParseAddressRange(const std::string &text, std::uint64_t max_size,
                                              std::string *error) {
    const bool dashed = text.find('-') != std::string::npos;
    if (dashed && text.find('/') != std::string::npos)
        return Fail(error, "'" + text + "' mixes a CIDR block and a range: give one of them, " + kForms);
    const auto range = dashed ? ParseDashed(text, error) : ParseCidr(text, error);
    if (range && range->size() > max_size)
        return Fail(error, "'" + text + "' has " + std::to_string(range->size()) + " addresses; at most " +
                               std::to_string(max_size) + " at once");
    return range;
}

}  // namespace cli
