// SPDX-License-Identifier: MIT
// hold NAME... [--group]: register names and defend them until interrupted.
#include <cstring>
#include <map>
#include <optional>

#include "adapter_status.h"
#include "command.h"
#include "local_node.h"
#include "ncb_wait.h"
#include "option_values.h"
#include "text_format.h"

namespace cli {
namespace {

// How often the name table is read for conflicts; reading it is local.
constexpr std::chrono::milliseconds kWatchPeriod{200};

// name_flags of each name this node holds.
std::map<NameField, UCHAR> ReadOwnNames(LocalNode &node) {
    std::map<NameField, UCHAR> names;
    std::vector<UCHAR> buffer(kStatusBufferSize);
    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = node.lana();
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = Netbios(&ncb);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP) return names;
    for (const NAME_BUFFER &entry : ReadStatus(buffer, ncb.ncb_length).names) {
        NameField name;
        std::memcpy(name.data(), entry.name, NCBNAMSZ);
        names[name] = entry.name_flags;
    }
    return names;
}

bool InConflict(UCHAR flags) {
    const UCHAR state = flags & 0x07;
    return state == DUPLICATE || state == DUPLICATE_DEREG;
}

// All registrations at once (each takes the broadcast retries' time), then
// each one's outcome; the names held go into the document.
int Register(Context &context, LocalNode &node, const std::vector<NameField> &names, bool group,
             const std::string &key) {
    std::vector<NCB *> adds;
    for (const NameField &name : names) {
        NCB &ncb = node.NewBlock(group ? NCBADDGRNAME : NCBADDNAME);
        std::memcpy(ncb.ncb_name, name.data(), NCBNAMSZ);
        if (UCHAR rc = Submit(ncb); rc != NRC_GOODRET) return context.Fail("add " + FormatName(name), rc);
        adds.push_back(&ncb);
    }
    Json held = Json::Array();
    int status = kExitOk;
    for (std::size_t i = 0; i < adds.size(); ++i) {
        if (WaitFor(*adds[i], std::nullopt) != Wait::kCompleted) return kExitInterrupted;
        if (const UCHAR rc = adds[i]->ncb_retcode; rc != NRC_GOODRET) {
            status = context.Fail("add " + FormatName(names[i]), rc);
            continue;
        }
        node.KeepName(names[i]);
        Json entry = Json::Object();
        entry.Set("name", FormatName(names[i]));
        entry.Set("type", group ? "group" : "unique");
        entry.Set("number", static_cast<unsigned>(adds[i]->ncb_num));
        held.Push(std::move(entry));
        context.Print("holding " + FormatName(names[i]) + " (" + (group ? "group" : "unique") +
                      ", name number " + std::to_string(adds[i]->ncb_num) + ", LANA " +
                      std::to_string(node.lana()) + ")\n");
    }
    context.doc().Set(key, std::move(held));
    return status;
}

// Defending is the provider's; what shows here is a name it lost, once
// each time it is lost, until the timeout or an interrupt.
Json WatchForConflicts(Context &context, LocalNode &node, const std::vector<NameField> &names) {
    const auto start = Clock::now();
    const Deadline end = After(context.timeout());
    Json conflicts = Json::Array();
    std::map<NameField, UCHAR> last = ReadOwnNames(node);
    while ((!end || Clock::now() < *end) && Pause(kWatchPeriod)) {
        const auto now = ReadOwnNames(node);
        for (const NameField &name : names) {
            const auto before = last.find(name);
            const auto after = now.find(name);
            if (after == now.end() || !InConflict(after->second)) continue;
            if (before != last.end() && InConflict(before->second)) continue;
            Json conflict = Json::Object();
            conflict.Set("name", FormatName(name));
            conflict.Set("state", NameState(after->second));
            conflict.Set("after_seconds", std::chrono::duration<double>(Clock::now() - start).count());
            conflicts.Push(std::move(conflict));
            context.Print("conflict: " + FormatName(name) + " is claimed by another node (" +
                          NameState(after->second) + ")\n");
        }
        last = now;
    }
    return conflicts;
}

int RunHold(Context &context, const ParsedArgs &args) {
    if (args.operands.empty()) return context.Usage("hold takes one or more NAMEs");
    std::vector<NameField> names;
    for (const std::string &text : args.operands) {
        std::string error;
        auto name = ParseName(text, &error);
        if (!name) return context.Usage(error);
        names.push_back(*name);
    }
    OptionValues options(args);
    const long also = options.Count("also-lana", 0, MAX_LANA, -1, "an adapter number, 0 to 254");
    if (!options.ok()) return context.Usage(options.error());
    if (also == context.lana()) return context.Usage("--also-lana names the adapter the names are held on");
    LocalNode node(context.lana());
    std::optional<LocalNode> second;
    if (also >= 0) second.emplace(static_cast<UCHAR>(also));
    const auto count = static_cast<UCHAR>(std::min<std::size_t>(names.size(), 254));
    for (LocalNode *each : {&node, second ? &*second : nullptr}) {
        if (!each) continue;
        const UCHAR rc =
            each->Reset(0, static_cast<UCHAR>(std::max(16, count + 2)), std::max<UCHAR>(8, count));
        if (rc != NRC_GOODRET) return context.Fail("reset of LANA " + std::to_string(each->lana()), rc);
    }
    // The names that were added are deleted on the way out. The second
    // adapter registers once the first holds them: a name a host holds on
    // two adapters is claimed as such.
    if (int status = Register(context, node, names, args.Has("group"), "names"); status != kExitOk)
        return status;
    if (second) {
        if (int status = Register(context, *second, names, args.Has("group"), "also_names");
            status != kExitOk)
            return status;
    }
    context.doc().Set("conflicts", WatchForConflicts(context, node, names));
    context.doc().Set("ended_by", Interrupted() ? "interrupt" : "timeout");
    if (second) second->Cleanup();
    node.Cleanup();
    for (const NameField &name : names) context.Print("released " + FormatName(name) + "\n");
    return kExitOk;
}

}  // namespace

const Command kHoldCommand = {
    "hold",
    "hold NAME... [--group]",
    "register names and defend them until interrupted",
    "Registers each NAME on the adapter's LAN and defends it (the provider answers\n"
    "queries and refuses other nodes' registrations) until Ctrl-C, SIGTERM or the\n"
    "--timeout, then deletes the names, which releases them on the wire. Prints a line\n"
    "for each name once it is held, and one whenever another node claims a held name (a\n"
    "name conflict). A name that another node defends is refused: NRC_INUSE (0x16).\n"
    "\n"
    "  --group            register group names instead of unique ones\n"
    "  --also-lana N      hold them on adapter N as well (after the first), as a host\n"
    "                     with two interfaces does; conflicts are watched on the first\n"
    "\n"
    "--timeout SECONDS: hold this long, then release (default: until interrupted).\n"
    "Exit status 1: a name could not be registered (the others are released).\n",
    {{"group", false}, {"also-lana", true}},
    RunHold,
};

}  // namespace cli
