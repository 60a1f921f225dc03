// SPDX-License-Identifier: MIT
// korvel-nb: the Korvel NetBIOS provider from the command line.
//   korvel-nb [--lana N] [--timeout SECONDS] [--json] COMMAND [ARGS...]
#include <csignal>
#include <string>
#include <vector>

#include "command_line.h"
#include "ncb_wait.h"

int main(int argc, char **argv) {
    cli::InstallInterruptHandling();
    // A reader that goes away (korvel-nb ... | head) must not stop the
    // cleanup: names would stay registered.
    std::signal(SIGPIPE, SIG_IGN);
    return cli::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc), KORVEL_VERSION);
}
