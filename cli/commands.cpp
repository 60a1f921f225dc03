// SPDX-License-Identifier: MIT
#include "command.h"

namespace cli {

const std::vector<const Command *> &Commands() {
    static const std::vector<const Command *> commands = {
        &kLanasCommand,  &kStatusCommand, &kSessionsCommand, &kQueryCommand,  &kNamesCommand, &kHoldCommand,
        &kListenCommand, &kCallCommand,   &kDgsendCommand,   &kDgrecvCommand, &kScanCommand,
    };
    return commands;
}

}  // namespace cli
