// SPDX-License-Identifier: MIT
// query NAME [--to ADDRESS]: who answers for a name.
#include "command.h"
#include "lana_info.h"
#include "name_query.h"
#include "option_values.h"
#include "text_format.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kDefaultWindow{750};
constexpr std::chrono::milliseconds kRetry{250};

int RunQuery(Context &context, const ParsedArgs &args) {
    if (args.operands.size() != 1) return context.Usage("query takes one NAME");
    std::string error;
    auto name = ParseName(args.operands[0], &error);
    if (!name) return context.Usage(error);
    OptionValues options(args);
    const auto to = options.Address("to");
    if (!options.ok()) return context.Usage(options.error());
    auto lana = FindLana(context.lana());
    if (!lana) return context.Fail("no LANA " + std::to_string(context.lana()), NRC_BRIDGE);

    const auto window = context.timeout().value_or(kDefaultWindow);
    const QueryResult result = QueryName(*lana, *name, to, window, kRetry);
    if (!result.failure.empty()) return context.Fail(result.failure, kExitNetbiosFailure);

    context.doc().Set("name", FormatName(*name));
    context.doc().Set("to", to ? FormatIpv4(*to) : FormatIpv4(lana->broadcast));
    context.doc().Set("broadcast", !to);
    Json answers = Json::Array();
    Table table({"ADDRESS", "NAME", "TYPE", "NODE", "FROM"});
    for (const QueryAnswer &answer : result.answers) {
        const bool group = answer.nb_flags & 0x8000;
        Json entry = Json::Object();
        entry.Set("address", FormatIpv4(answer.address));
        entry.Set("group", group);
        entry.Set("node_type", NodeType(answer.nb_flags));
        entry.Set("nb_flags", static_cast<unsigned>(answer.nb_flags));
        entry.Set("responder", FormatIpv4(answer.responder));
        answers.Push(std::move(entry));
        table.Add({FormatIpv4(answer.address), FormatName(*name), group ? "group" : "unique",
                   NodeType(answer.nb_flags), FormatIpv4(answer.responder)});
    }
    context.doc().Set("answers", std::move(answers));
    context.doc().Set("name_error", result.name_error);
    if (result.answers.empty()) {
        return context.Fail(result.name_error ? "no such name: " + FormatName(*name)
                                              : "nothing answered for " + FormatName(*name),
                            kExitNothingAnswered);
    }
    context.Print(table.Render());
    return kExitOk;
}

}  // namespace

const Command kQueryCommand = {
    "query",
    "query NAME [--to ADDRESS]",
    "the addresses that answer for a name, with their flags",
    "Sends a NAME QUERY REQUEST for NAME, broadcast on the adapter's subnet or unicast to\n"
    "--to ADDRESS, and prints every address given in the answers: group or unique, node\n"
    "type, and which node answered. The request goes straight from a UDP socket on the\n"
    "adapter's address (the NCB interface has no name query); it is asked up to three\n"
    "times, 250 ms apart.\n"
    "\n"
    "  --to ADDRESS       ask this node only\n"
    "\n"
    "--timeout SECONDS: how long to collect answers (default 0.75). A unique name ends\n"
    "the wait soon after its first answer.\n"
    "Exit status 3: nothing answered, or the node asked said there is no such name.\n",
    {{"to", true}},
    RunQuery,
};

}  // namespace cli
