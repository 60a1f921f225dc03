// SPDX-License-Identifier: MIT
// The exit statuses korvel-nb documents (see korvel-nb.1).
#pragma once

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitNetbiosFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNothingAnswered = 3;
// Ctrl-C or SIGTERM ended a command that does not normally end that way;
// the process exits 128 + the signal (ProcessExitStatus): 130 or 143.
constexpr int kExitInterrupted = 130;

}  // namespace cli
