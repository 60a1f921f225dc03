// SPDX-License-Identifier: MIT
// The options every command takes, listed once: the parser's specs, the
// usage line and the help are all made from this table.
#pragma once

#include <string>
#include <vector>

#include "args.h"

namespace cli {

struct GlobalOption {
    const char *name;   // without the leading "--"
    const char *value;  // what the value is called ("N"); null for a flag
    const char *help;   // a line break continues it under the first line
    bool in_usage;      // shown in the usage line
};

const std::vector<GlobalOption> &GlobalOptions();
// Null when `name` is not a global option.
const GlobalOption *FindGlobalOption(const std::string &name);
std::vector<OptionSpec> GlobalOptionSpecs();

// "[--lana N]", "[--timeout SECONDS]", ...: the usage line's.
std::vector<std::string> GlobalOptionsUsage();
// "Global options ...:" and one entry per option, then the exit statuses.
std::string GlobalOptionsHelp();

}  // namespace cli
