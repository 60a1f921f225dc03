// SPDX-License-Identifier: MIT
#include "global_options.h"

namespace cli {
namespace {

constexpr std::size_t kHelpColumn = 21;  // where the help text starts

std::string Synopsis(const GlobalOption &option) {
    std::string text = std::string("--") + option.name;
    if (option.value) text += std::string(" ") + option.value;
    return text;
}

std::string HelpEntry(const GlobalOption &option) {
    std::string entry = "  " + Synopsis(option);
    entry += entry.size() + 1 < kHelpColumn ? std::string(kHelpColumn - entry.size(), ' ') : "  ";
    for (const char *c = option.help; *c; ++c) {
        entry += *c;
        if (*c == '\n') entry += std::string(kHelpColumn, ' ');
    }
    return entry + "\n";
}

}  // namespace

const std::vector<GlobalOption> &GlobalOptions() {
    static const std::vector<GlobalOption> options = {
        {"lana", "N",
         "the adapter to use (korvel-nb lanas lists them); default 1, the first\n"
         "host interface, or 0 (loopback) where there is none",
         true},
        {"timeout", "SECONDS", "how long to wait for an answer or a caller (each command says)", true},
        {"json", nullptr, "print one JSON document instead of text", true},
        {"raw", nullptr, "print peer data as it came: no escapes for controls, no hex dump", true},
        {"node-type", "TYPE",
         "b, p, m or h: how names are registered and resolved (default b,\n"
         "broadcast only, h with a name server, or what the settings file says)",
         true},
        {"wins", "ADDRESS[,ADDRESS]", "the name server (WINS), and a secondary one", true},
        {"help", nullptr, "this help, or a command's with korvel-nb COMMAND --help", false},
        {"version", nullptr, "the version", false},
    };
    return options;
}

const GlobalOption *FindGlobalOption(const std::string &name) {
    for (const GlobalOption &option : GlobalOptions())
        if (name == option.name) return &option;
    return nullptr;
}

std::vector<OptionSpec> GlobalOptionSpecs() {
    std::vector<OptionSpec> specs;
    for (const GlobalOption &option : GlobalOptions())
        specs.push_back({option.name, option.value != nullptr});
    return specs;
}

std::vector<std::string> GlobalOptionsUsage() {
    std::vector<std::string> usage;
    for (const GlobalOption &option : GlobalOptions())
        if (option.in_usage) {
            // Appended piece by piece: GCC's -O3 sees a bogus overlap in "[" + s.
            std::string entry = "[";
            entry += Synopsis(option);
            entry += ']';
            usage.push_back(std::move(entry));
        }
    return usage;
}

std::string GlobalOptionsHelp() {
    std::string help = "Global options (before or after the command):\n";
    for (const GlobalOption &option : GlobalOptions()) help += HelpEntry(option);
    return help +
           "\n"
           "Exit status: 0 success, 1 a NetBIOS failure (the return code is named on standard\n"
           "error), 2 a usage error, 3 nothing answered.\n";
}

}  // namespace cli
