// SPDX-License-Identifier: MIT
#include "option_values.h"

#include <unistd.h>

namespace cli {

long OptionValues::Count(const std::string &name, long min, long max, long fallback,
                         const std::string &what) {
    const auto text = args_.Value(name);
    if (!text) return fallback;
    const auto value = ParseCount(*text, min, max);
    if (!value) Fail("--" + name + " takes " + what);
    return value.value_or(fallback);
}

std::optional<std::chrono::milliseconds> OptionValues::Seconds(const std::string &name) {
    const auto text = args_.Value(name);
    if (!text) return std::nullopt;
    const auto seconds = ParseSeconds(*text);
    if (!seconds) {
        Fail("--" + name + " takes seconds, such as 2 or 0.5");
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(*seconds * 1000));
}

std::optional<std::uint32_t> OptionValues::Address(const std::string &name) {
    const auto text = args_.Value(name);
    if (!text) return std::nullopt;
    const auto address = ParseIpv4(*text);
    if (!address) Fail("--" + name + " takes a dotted IPv4 address");
    return address;
}

std::optional<NameField> OptionValues::Name(const std::string &name, const std::string &fallback) {
    std::string error;
    auto parsed = ParseName(args_.Value(name).value_or(fallback), &error);
    if (!parsed) Fail(error);
    return parsed;
}

void OptionValues::Fail(const std::string &message) {
    if (error_.empty()) error_ = message;
}

std::string DefaultLocalName() {
    return "KORVELNB-" + std::to_string(::getpid() % 1000000);
}

}  // namespace cli
