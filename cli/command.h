// SPDX-License-Identifier: MIT
// One subcommand of korvel-nb: its name, help, options and what it runs,
// and the context every subcommand reports through (text for a person, or
// one JSON document with --json; errors on standard error).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "exit_status.h"
#include "json.h"
#include "nb30.h"

namespace cli {

class Context {
public:
    Context(std::string command, UCHAR lana, std::optional<std::chrono::milliseconds> timeout, bool json);

    const std::string &command() const { return command_; }
    UCHAR lana() const { return lana_; }
    std::optional<std::chrono::milliseconds> timeout() const { return timeout_; }
    bool json() const { return json_; }
    // The command's JSON document; printed once it returns (with --json).
    Json &doc() { return doc_; }

    // Text for a person on standard output, flushed at once so scripts and
    // terminals see each line as it happens. Nothing with --json.
    void Print(const std::string &text) const;
    // A NetBIOS failure: "korvel-nb COMMAND: WHAT: NRC_X (0x..): meaning" on
    // standard error, and an "error" member in the document. Returns status.
    int Fail(const std::string &what, UCHAR rc, int status = kExitNetbiosFailure);
    // A failure without a return code (a socket error, nothing answered).
    int Fail(const std::string &message, int status);
    // A usage error: exit status 2.
    int Usage(const std::string &message);

private:
    std::string command_;
    UCHAR lana_;
    std::optional<std::chrono::milliseconds> timeout_;
    bool json_;
    Json doc_ = Json::Object();
};

struct Command {
    const char *name;
    const char *synopsis;  // after "korvel-nb [GLOBAL OPTIONS] "
    const char *summary;   // one line
    const char *help;      // what it does, its options, its exit statuses
    std::vector<OptionSpec> options;
    int (*run)(Context &context, const ParsedArgs &args);
};

// Every subcommand, in the order `korvel-nb --help` lists them.
const std::vector<const Command *> &Commands();

extern const Command kLanasCommand;
extern const Command kStatusCommand;
extern const Command kSessionsCommand;
extern const Command kQueryCommand;
extern const Command kHoldCommand;
extern const Command kListenCommand;
extern const Command kCallCommand;
extern const Command kDgsendCommand;
extern const Command kDgrecvCommand;
extern const Command kScanCommand;
extern const Command kNamesCommand;

}  // namespace cli
