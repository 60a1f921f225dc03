// SPDX-License-Identifier: MIT
// status TARGET: the adapter status of a name, an address, an adapter
// address, or this node.
#include <algorithm>
#include <cstring>

#include "adapter_status.h"
#include "command.h"
#include "local_node.h"
#include "name_owner_view.h"
#include "ncb_wait.h"
#include "return_codes.h"

namespace cli {
namespace {

// Where korveld carries the LANA: whose each name of this node is.
void AddOwners(UCHAR lana, StatusReport &report) {
    const auto owners = nbt::ServiceNameOwners(lana);
    if (!owners) return;
    for (const NAME_BUFFER &entry : report.names) {
        NameOwnerText text;
        for (const nbt::NameOwnerView &owner : *owners)
            if (std::equal(owner.name.begin(), owner.name.end(), entry.name))
                text = {owner.pid, owner.uid, owner.program};
        report.owners.push_back(std::move(text));
    }
}

int RunStatus(Context &context, const ParsedArgs &args) {
    if (args.operands.size() != 1) return context.Usage("status takes one TARGET");
    std::string error;
    auto target = ParseStatusTarget(args.operands[0], &error);
    if (!target) return context.Usage(error);
    context.doc().Set("target", args.operands[0]);
    context.doc().Set("target_kind", target->kind);

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    std::vector<UCHAR> &buffer = node.NewBuffer(kStatusBufferSize);
    NCB &ncb = node.NewBlock(NCBASTAT);
    std::memcpy(ncb.ncb_callname, target->callname.data(), NCBNAMSZ);
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = SubmitAndWait(ncb, After(context.timeout()));
    if (rc == NRC_PENDING) {
        if (Interrupted()) return kExitInterrupted;
        return context.Fail("nothing answered within the timeout", kExitNothingAnswered);
    }
    if (rc == NRC_CMDTMO)
        return context.Fail("adapter status of " + args.operands[0], rc, kExitNothingAnswered);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP)
        return context.Fail("adapter status of " + args.operands[0], rc);

    StatusReport report = ReadStatus(buffer, ncb.ncb_length);
    if (target->kind == "local") AddOwners(context.lana(), report);
    Json status = StatusJson(report);
    status.Set("complete", rc == NRC_GOODRET);
    context.doc().Set("status", std::move(status));
    context.Print("Adapter status of " + args.operands[0] + " (" + target->kind + ")\n\n" +
                  StatusText(report) +
                  (rc == NRC_INCOMP ? "(more names than fit: " + ReturnCodeName(rc) + ")\n" : ""));
    return kExitOk;
}

}  // namespace

const Command kStatusCommand = {
    "status",
    "status TARGET",
    "adapter status (name table, adapter address, counters) of a node",
    "Asks for the adapter status of TARGET and prints its name table (each name with its\n"
    "number, type, state and flags), its adapter address and its counters. TARGET is\n"
    "  NAME               a NetBIOS name (resolved by broadcast), e.g. SAMBA1 or SAMBA1#00\n"
    "  ADDRESS            a dotted IPv4 address, asked directly\n"
    "  ADAPTER ADDRESS    12 hex digits, with or without ':', '-' or '.' between them\n"
    "  *                  this node (where korveld carries the LANA, with each name's\n"
    "                     owner: the pid and program that added it)\n"
    "NAMEs are up to 15 characters, upper-cased and padded with spaces (suffix <20>);\n"
    "NAME#HH or NAME<HH> sets the suffix byte and \\xHH writes any byte as it is.\n"
    "A name that reads as 12 hex digits is taken for an adapter address: write NAME#20.\n"
    "\n"
    "--timeout SECONDS gives up sooner than the provider's own retries (3 x 750 ms).\n"
    "Exit status 3: nothing answered (NRC_CMDTMO).\n",
    {},
    RunStatus,
};

}  // namespace cli
