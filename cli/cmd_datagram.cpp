// SPDX-License-Identifier: MIT
// dgsend NAME TEXT and dgrecv [NAME] [--group]: datagrams through NCBDGSEND,
// NCBDGSENDBC, NCBDGRECV and NCBDGRECVBC. A provider without datagrams
// answers NRC_ILLCMD, which is reported like any other return code.
#include <cstring>

#include "command.h"
#include "local_node.h"
#include "message_report.h"
#include "ncb_wait.h"
#include "option_values.h"
#include "return_codes.h"
#include "text_format.h"

namespace cli {
namespace {

constexpr std::size_t kMaxDatagram = 512;  // what one NCB datagram carries

bool IsWildcard(const NameField &name) {
    return name[0] == '*';
}

int RunDgsend(Context &context, const ParsedArgs &args) {
    const bool to_all = args.Has("broadcast");
    if (args.operands.size() != (to_all ? 1u : 2u))
        return context.Usage(to_all ? "dgsend --broadcast takes only a TEXT"
                                    : "dgsend takes a NAME and a TEXT");
    std::string error;
    auto remote = ParseName(to_all ? std::string("*") : args.operands[0], &error);
    if (!remote) return context.Usage(error);
    const std::string &text = args.operands.back();
    if (text.size() > kMaxDatagram) return context.Usage("a datagram carries at most 512 bytes");
    OptionValues options(args);
    const auto local = options.Name("as", DefaultLocalName());
    if (!options.ok()) return context.Usage(options.error());

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    UCHAR number = 0;
    if (UCHAR rc = node.AddName(*local, false, &number); rc != NRC_GOODRET)
        return context.Fail("add " + FormatName(*local), rc);
    const bool broadcast = IsWildcard(*remote);
    std::vector<UCHAR> &buffer = node.NewBuffer(text.size());
    std::memcpy(buffer.data(), text.data(), text.size());
    NCB &ncb = node.NewBlock(broadcast ? NCBDGSENDBC : NCBDGSEND);
    ncb.ncb_num = number;
    std::memcpy(ncb.ncb_callname, remote->data(), NCBNAMSZ);
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = SubmitAndWait(ncb, std::nullopt);
    context.doc().Set("name", FormatName(*remote));
    context.doc().Set("local_name", FormatName(*local));
    context.doc().Set("broadcast", broadcast);
    context.doc().Set("rc", ReturnCodeName(rc));
    if (rc == NRC_PENDING) return kExitInterrupted;
    if (rc != NRC_GOODRET)
        return context.Fail(broadcast ? "broadcast datagram" : "datagram to " + FormatName(*remote), rc);
    context.doc().Set("sent", static_cast<std::uint64_t>(text.size()));
    context.Print("sent a " + std::to_string(text.size()) + "-byte datagram to " +
                  (broadcast ? std::string("every node") : FormatName(*remote)) + " from " +
                  FormatName(*local) + "\n");
    return kExitOk;
}

int RunDgrecv(Context &context, const ParsedArgs &args) {
    if (args.operands.size() > 1) return context.Usage("dgrecv takes at most one NAME");
    std::optional<NameField> name;
    if (!args.operands.empty()) {
        std::string error;
        name = ParseName(args.operands[0], &error);
        if (!name) return context.Usage(error);
    }
    OptionValues options(args);
    const long count = options.Count("count", 0, 1000000000, 1, "a number of datagrams (0: no limit)");
    if (!options.ok()) return context.Usage(options.error());

    const bool group = args.Has("group");
    if (group && !name) return context.Usage("--group needs a NAME");

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    // Broadcasts are received through a name of ours; the provider does
    // not offer the permanent name number 1 for that.
    std::string error;
    const auto own = name ? name : ParseName(DefaultLocalName(), &error);
    if (!own) return context.Usage(error);
    UCHAR number = 0;
    if (UCHAR rc = node.AddName(*own, group, &number); rc != NRC_GOODRET)
        return context.Fail("add " + FormatName(*own), rc);
    context.doc().Set("name", name ? FormatName(*name) : "*");
    context.doc().Set("group", group);
    context.Print(name ? "receiving datagrams for " + std::string(group ? "group " : "") + FormatName(*name) +
                             "\n"
                       : std::string("receiving broadcast datagrams\n"));

    Json datagrams = Json::Array();
    int status = kExitOk;
    for (long received = 0; count == 0 || received < count; ++received) {
        std::vector<UCHAR> &buffer = node.NewBuffer(kMaxDatagram);
        NCB &ncb = node.NewBlock(name ? NCBDGRECV : NCBDGRECVBC);
        ncb.ncb_num = number;
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = static_cast<WORD>(buffer.size());
        const UCHAR rc = SubmitAndWait(ncb, After(context.timeout()));
        if (rc == NRC_PENDING) {
            if (!Interrupted() && received == 0)
                status = context.Fail("no datagram within the timeout", kExitNothingAnswered);
            break;
        }
        if (rc != NRC_GOODRET && rc != NRC_INCOMP) {
            status = context.Fail("receive datagram", rc);
            break;
        }
        Json datagram = Json::Object();
        datagram.Set("from", FormatName(ncb.ncb_callname));
        datagram.Set("length", static_cast<unsigned>(ncb.ncb_length));
        datagram.Set("complete", rc == NRC_GOODRET);
        SetData(datagram, buffer.data(), ncb.ncb_length);
        datagrams.Push(std::move(datagram));
        context.Print("datagram of " + std::to_string(ncb.ncb_length) + " bytes from " +
                      FormatName(ncb.ncb_callname) + "\n" +
                      ShowData(buffer.data(), ncb.ncb_length, args.Has("raw")));
    }
    context.doc().Set("datagrams", std::move(datagrams));
    return status;
}

}  // namespace

const Command kDgsendCommand = {
    "dgsend",
    "dgsend NAME TEXT [--as LOCAL] | dgsend --broadcast TEXT [--as LOCAL]",
    "send a datagram to a name, or to every node with '*'",
    "Registers a local name and sends TEXT (at most 512 bytes) as a datagram to NAME, or\n"
    "as a broadcast datagram to every node with --broadcast (or NAME '*').\n"
    "\n"
    "  --as LOCAL         the sending name (default KORVELNB-<process id>)\n"
    "  --broadcast        send to every node; TEXT is the only operand\n",
    {{"as", true}, {"broadcast", false}},
    RunDgsend,
};

const Command kDgrecvCommand = {
    "dgrecv",
    "dgrecv [NAME] [--group] [--count N]",
    "receive datagrams for a name, or broadcast datagrams",
    "Registers NAME and prints the datagrams sent to it, or without NAME the broadcast\n"
    "datagrams, with each sender's name and the data (text with controls shown as \\xHH,\n"
    "or a hex dump; global --raw: as it came).\n"
    "\n"
    "  --group            register NAME as a group name (a workgroup's LAB#1D, say)\n"
    "  --count N          datagrams to receive before ending (default 1; 0: until interrupted)\n"
    "\n"
    "--timeout SECONDS: how long to wait for the first datagram (default: for ever).\n"
    "Exit status 3: no datagram within the timeout.\n",
    {{"group", false}, {"count", true}},
    RunDgrecv,
};

}  // namespace cli
