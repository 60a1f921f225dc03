// SPDX-License-Identifier: MIT
#include "usage.h"

#include <cstdio>

#include "global_options.h"

namespace cli {
namespace {

constexpr std::size_t kWidth = 90;

// "Usage: korvel-nb [--lana N] ... COMMAND [ARGS...]", wrapped under the
// first option; for a command, its synopsis after "[GLOBAL OPTIONS]".
std::string UsageLine(const Command *command) {
    const std::string lead = "Usage: korvel-nb ";
    if (command) return lead + "[GLOBAL OPTIONS] " + command->synopsis + "\n";
    std::vector<std::string> words = GlobalOptionsUsage();
    words.push_back("COMMAND [ARGS...]");
    std::string text = lead;
    std::size_t line = lead.size();
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0 && line + 1 + words[i].size() > kWidth) {
            text += '\n';
            text.append(lead.size(), ' ');
            line = lead.size();
        } else if (i > 0) {
            text += ' ';
            ++line;
        }
        text += words[i];
        line += words[i].size();
    }
    return text + "\n";
}

}  // namespace

int UsageError(const std::string &command, const std::string &message) {
    const std::string who = command.empty() ? "korvel-nb" : "korvel-nb " + command;
    std::fprintf(stderr, "%s: %s (see %s --help)\n", who.c_str(), message.c_str(), who.c_str());
    return kExitUsage;
}

void PrintOverview() {
    std::printf("%s\nNetBIOS over TCP/IP from the command line, through Korvel's provider.\n\nCommands:\n",
                UsageLine(nullptr).c_str());
    for (const Command *command : Commands()) std::printf("  %-10s %s\n", command->name, command->summary);
    std::printf("\n%s", GlobalOptionsHelp().c_str());
}

void PrintCommandHelp(const Command &command) {
    std::printf("%s\n%s\n%s", UsageLine(&command).c_str(), command.help, GlobalOptionsHelp().c_str());
}

}  // namespace cli
