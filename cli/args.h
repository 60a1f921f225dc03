// SPDX-License-Identifier: MIT
// Command-line words to options and operands. Options are long (--name,
// --name VALUE or --name=VALUE) and may come anywhere among the operands;
// "--" ends them and "-" is an operand.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cli {

struct OptionSpec {
    std::string name;  // without the leading "--"
    bool takes_value = false;
};

struct ParsedArgs {
    std::vector<std::string> operands;
    std::map<std::string, std::string> values;  // the last one given wins
    std::set<std::string> flags;

    bool Has(const std::string &name) const { return flags.count(name) || values.count(name); }
    std::optional<std::string> Value(const std::string &name) const;
};

// nullopt, with the reason in *error, for an unknown option or a missing
// value.
std::optional<ParsedArgs> ParseArgs(const std::vector<std::string> &words,
                                    const std::vector<OptionSpec> &specs, std::string *error);

// Whole numbers and seconds as options give them.
std::optional<long> ParseCount(const std::string &text, long min, long max);
std::optional<double> ParseSeconds(const std::string &text);

}  // namespace cli
