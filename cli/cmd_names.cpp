// SPDX-License-Identifier: MIT
// names [NAME...]: names resolved the way this node type resolves them,
// and the cache they leave.
#include <cstdio>

#include "command.h"
#include "local_node.h"
#include "name_cache_view.h"
#include "text_format.h"

namespace cli {
namespace {

constexpr std::chrono::milliseconds kDefaultWait{15000};

Json EntryJson(const nbt::CachedName &entry) {
    Json out = Json::Object();
    out.Set("name", FormatName(entry.name.data()));
    out.Set("found", entry.found);
    if (entry.found) {
        out.Set("address", FormatIpv4(entry.ipv4));
        out.Set("group", entry.group);
    }
    return out;
}

int RunNames(Context &context, const ParsedArgs &args) {
    std::vector<std::array<std::uint8_t, NCBNAMSZ>> names;
    for (const auto &text : args.operands) {
        std::string error;
        auto name = ParseName(text, &error);
        if (!name) return context.Usage(error);
        names.push_back(*name);
    }
    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    const auto view =
        nbt::ResolveAndViewNames(context.lana(), names, context.timeout().value_or(kDefaultWait));
    context.doc().Set("node_type", std::string(1, view.node_type));

    Json asked = Json::Array();
    Table resolved({"NAME", "ADDRESS", "TYPE"});
    bool all_found = true;
    for (const auto &entry : view.asked) {
        asked.Push(EntryJson(entry));
        all_found = all_found && entry.found;
        resolved.Add({FormatName(entry.name.data()), entry.found ? FormatIpv4(entry.ipv4) : "not found",
                      entry.found ? (entry.group ? "group" : "unique") : "-"});
    }
    context.doc().Set("resolved", std::move(asked));

    Json cache = Json::Array();
    Table table({"NAME", "ADDRESS", "TYPE", "FROM", "TTL"});
    for (const auto &entry : view.entries) {
        Json item = EntryJson(entry);
        item.Set("from", entry.from_server ? "server" : "broadcast");
        item.Set("ttl_ms", static_cast<std::int64_t>(entry.left.count()));
        cache.Push(std::move(item));
        char ttl[32];
        std::snprintf(ttl, sizeof ttl, "%.1fs", static_cast<double>(entry.left.count()) / 1000.0);
        table.Add({FormatName(entry.name.data()), entry.found ? FormatIpv4(entry.ipv4) : "(negative)",
                   entry.found ? (entry.group ? "group" : "unique") : "-",
                   entry.from_server ? "server" : "broadcast", ttl});
    }
    context.doc().Set("cache", std::move(cache));

    context.Print(std::string(1, view.node_type) + "-node\n");
    if (!view.asked.empty()) context.Print(resolved.Render());
    if (view.node_type == 'B')
        context.Print("(a B-node keeps no cache)\n");
    else if (table.rows() == 0)
        context.Print("(the cache is empty)\n");
    else
        context.Print("cache:\n" + table.Render());
    return all_found ? kExitOk : kExitNothingAnswered;
}

}  // namespace

const Command kNamesCommand = {
    "names",
    "names [NAME...]",
    "names resolved as this node type does, and the name cache",
    "Resolves each NAME the way calls, adapter status by name and datagrams do on this\n"
    "adapter (B-node: broadcast; P: the name server; M: broadcast, then the server; H: the\n"
    "server, then broadcast; see --node-type and --wins), then lists the cache that P, M\n"
    "and H nodes keep: each name's address, whether the name server or a broadcast answer\n"
    "gave it, and how long it is kept. Names nobody knew are kept briefly as negative\n"
    "entries.\n"
    "\n"
    "--timeout SECONDS: how long to wait for all the names (default 15).\n"
    "Exit status 3: a NAME was not found.\n",
    {},
    RunNames,
};

}  // namespace cli
