// SPDX-License-Identifier: MIT
// Typed option values, the same for every command: counts, seconds,
// addresses and names. A value given but not valid leaves the getter's
// fallback and keeps the first such error, so a command reads all its
// options and then checks once:
//
//   OptionValues options(args);
//   const long count = options.Count("count", 0, 100, 1, "a number of sessions");
//   const auto idle = options.Seconds("idle");
//   if (!options.ok()) return context.Usage(options.error());
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "args.h"
#include "names.h"

namespace cli {

class OptionValues {
public:
    explicit OptionValues(const ParsedArgs &args) : args_(args) {}

    // A whole number from min to max; `what` completes "--NAME takes ...".
    long Count(const std::string &name, long min, long max, long fallback, const std::string &what);
    // Seconds, such as 2 or 0.5, to the millisecond.
    std::optional<std::chrono::milliseconds> Seconds(const std::string &name);
    // A dotted IPv4 address, host order.
    std::optional<std::uint32_t> Address(const std::string &name);
    // A NAME (names.h); `fallback` parsed the same way when not given.
    std::optional<NameField> Name(const std::string &name, const std::string &fallback);

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    void Fail(const std::string &message);

    const ParsedArgs &args_;
    std::string error_;
};

// The calling name a command uses when not given one: KORVELNB-<process id>.
std::string DefaultLocalName();

}  // namespace cli
