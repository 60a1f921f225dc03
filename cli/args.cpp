// SPDX-License-Identifier: MIT
#include "args.h"

#include <cmath>
#include <cstdlib>

namespace cli {

std::optional<std::string> ParsedArgs::Value(const std::string &name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

std::optional<ParsedArgs> ParseArgs(const std::vector<std::string> &words,
                                    const std::vector<OptionSpec> &specs, std::string *error) {
    ParsedArgs parsed;
    bool options_ended = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (options_ended || word.size() < 3 || word.compare(0, 2, "--") != 0) {
            if (word == "--" && !options_ended) {
                options_ended = true;
                continue;
            }
            if (!options_ended && word.size() > 1 && word[0] == '-' && word != "--") {
                *error = "unknown option '" + word + "'";
                return std::nullopt;
            }
            parsed.operands.push_back(word);
            continue;
        }
        const auto equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionSpec *spec = nullptr;
        for (const auto &candidate : specs)
            if (candidate.name == name) spec = &candidate;
        if (!spec) {
            *error = "unknown option '--" + name + "'";
            return std::nullopt;
        }
        if (!spec->takes_value) {
            if (equals != std::string::npos) {
                *error = "option '--" + name + "' takes no value";
                return std::nullopt;
            }
            parsed.flags.insert(name);
        } else if (equals != std::string::npos) {
            parsed.values[name] = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            parsed.values[name] = words[++i];
        } else {
            *error = "option '--" + name + "' needs a value";
            return std::nullopt;
        }
    }
    return parsed;
}

std::optional<long> ParseCount(const std::string &text, long min, long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return std::nullopt;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> ParseSeconds(const std::string &text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value > 86400 * 365) return std::nullopt;
    return value;
}

}  // namespace cli
