// SPDX-License-Identifier: MIT
// korvel-nb's command line, from its words to a command run: the command
// found among the global options, help and version, the global options put
// to work (timeout, settings, adapter), the command run and its JSON
// document printed.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The process's exit status.
int RunCommandLine(std::vector<std::string> words, const std::string &version);

}  // namespace cli
