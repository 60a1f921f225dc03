// SPDX-License-Identifier: MIT
// scan RANGE: node status of every address in a range, many at once.
#include <cstring>

#include "command.h"
#include "lana_info.h"
#include "option_values.h"
#include "scanner.h"
#include "text_format.h"

namespace cli {
namespace {

constexpr std::uint64_t kMaxRange = 65536;

// The first unique name, and the first group name (the workgroup, <00>, when
// there is one).
std::pair<std::string, std::string> Summary(const StatusReport &report) {
    const NAME_BUFFER *unique = nullptr;
    const NAME_BUFFER *group = nullptr;
    for (const NAME_BUFFER &entry : report.names) {
        if (!(entry.name_flags & GROUP_NAME)) {
            if (!unique) unique = &entry;
        } else if (!group || (group->name[NCBNAMSZ - 1] != 0x00 && entry.name[NCBNAMSZ - 1] == 0x00)) {
            group = &entry;
        }
    }
    return {unique ? FormatName(unique->name) : "-", group ? FormatName(group->name) : "-"};
}

std::optional<AdapterAddress> OwnAdapterAddress(UCHAR lana) {
    std::vector<UCHAR> buffer(kStatusBufferSize);
    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lana;
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = Netbios(&ncb);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP) return std::nullopt;
    AdapterAddress address;
    std::memcpy(address.data(), buffer.data(), address.size());
    return address;
}

void Report(Context &context, const AddressRange &range, const ScanOutcome &outcome) {
    Json list = Json::Array();
    Table table({"ADDRESS", "NAME", "GROUP", "ADAPTER ADDRESS"});
    for (const ScannedHost &host : outcome.hosts) {
        const auto [unique, group] = Summary(host.report);
        const std::string adapter = FormatAdapterAddress(host.report.status.adapter_address);
        Json entry = Json::Object();
        entry.Set("address", FormatIpv4(host.address));
        entry.Set("name", unique);
        entry.Set("group", group);
        entry.Set("adapter_address", adapter);
        entry.Set("status", StatusJson(host.report));
        list.Push(std::move(entry));
        table.Add({FormatIpv4(host.address), unique, group, adapter});
    }
    context.doc().Set("range", FormatIpv4(range.first) + "-" + FormatIpv4(range.last));
    context.doc().Set("asked", outcome.asked);
    context.doc().Set("seconds", outcome.seconds);
    context.doc().Set("hosts", std::move(list));
    context.Print(table.Render());
}

int RunScan(Context &context, const ParsedArgs &args) {
    if (args.operands.size() != 1) return context.Usage("scan takes one RANGE");
    ScanPlan plan;
    std::string error;
    const auto range = ParseAddressRange(args.operands[0], kMaxRange, &error);
    if (!range) return context.Usage(error);
    plan.range = *range;
    OptionValues options(args);
    plan.rate = options.Count("rate", 1, 100000, plan.rate, "requests a second, 1 to 100000");
    if (!options.ok()) return context.Usage(options.error());
    plan.per_address = context.timeout();

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(0, Scanner::kInFlight + 1, 0); rc != NRC_GOODRET)
        return context.Fail("reset", rc);
    plan.own_adapter = OwnAdapterAddress(context.lana());
    if (const auto lana = FindLana(context.lana()); lana && !lana->loopback) plan.own_address = lana->address;

    const ScanOutcome outcome = Scanner(node, plan).Run();
    Report(context, *range, outcome);
    if (outcome.interrupted) return kExitInterrupted;
    if (outcome.hosts.empty())
        return context.Fail("no host answered in " + args.operands[0], kExitNothingAnswered);
    return kExitOk;
}

}  // namespace

const Command kScanCommand = {
    "scan",
    "scan RANGE [--rate N]",
    "node status of every address in a range; one line per host that answers",
    "Asks every address in RANGE for its node status, many at once, and prints one line\n"
    "per host that answers: its address, its first unique name, its group (the\n"
    "workgroup) and its adapter address. A progress bar shows on a terminal. Each\n"
    "address is asked with the provider's retries (3 x 750 ms). RANGE is one of\n"
    "\n"
    "  198.18.137.0/24              a CIDR block (its network and broadcast addresses\n"
    "                               are left out)\n"
    "  198.18.137.1-137             an address to another last byte, both included\n"
    "  198.18.137.1-198.18.138.20   an address to another, both included\n"
    "  198.18.137.11                one address\n"
    "\n"
    "and holds at most 65536 addresses.\n"
    "\n"
    "  --rate N           requests a second (default 1000)\n"
    "\n"
    "--timeout SECONDS: how long to wait for each address (default: until the provider's\n"
    "retries end).\n"
    "Exit status 3: no host answered.\n",
    {{"rate", true}},
    RunScan,
};

}  // namespace cli
