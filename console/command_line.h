// SPDX-License-Identifier: MIT
// The command line conventions a Linux program keeps: --help and --version
// print to standard output and end the process before any window opens.
// Everything else is left to the window system (GTK's --display and the like).
#pragma once

#include <optional>
#include <ostream>

namespace command_line {

// The exit status when the arguments asked for help or the version (after
// printing it to out); nothing when the console is to start.
std::optional<int> Answer(int argc, const char *const *argv, std::ostream &out);

}  // namespace command_line
