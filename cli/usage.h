// SPDX-License-Identifier: MIT
// How korvel-nb tells its user how to use it: the help pages and the one
// form of a usage error.
#pragma once

#include <string>

#include "command.h"

namespace cli {

// "korvel-nb: MESSAGE (see korvel-nb --help)", or with a command
// "korvel-nb COMMAND: MESSAGE (see korvel-nb COMMAND --help)", on standard
// error. Returns kExitUsage.
int UsageError(const std::string &command, const std::string &message);

// The usage line, the commands and the global options.
void PrintOverview();
// A command's usage line, its help and the global options.
void PrintCommandHelp(const Command &command);

}  // namespace cli
