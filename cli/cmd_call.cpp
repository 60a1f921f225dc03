// SPDX-License-Identifier: MIT
// call NAME: call, send, optionally receive the answer, hang up.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command.h"
#include "local_node.h"
#include "message_report.h"
#include "ncb_wait.h"
#include "option_values.h"
#include "return_codes.h"

namespace cli {
namespace {

std::optional<std::vector<UCHAR>> ReadAll(std::FILE *file) {
    std::vector<UCHAR> data;
    UCHAR chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + n);
    if (std::ferror(file)) return std::nullopt;
    return data;
}

// What to send into *data: --send's text, --file's or standard input's
// bytes, or nothing (just the call). False, with the reason in *error, when
// a file cannot be read.
bool ReadDataToSend(const ParsedArgs &args, bool from_stdin, std::optional<std::vector<UCHAR>> *data,
                    std::string *error) {
    error->clear();
    if (auto text = args.Value("send")) {
        *data = std::vector<UCHAR>(text->begin(), text->end());
    } else if (auto path = args.Value("file")) {
        std::FILE *file = std::fopen(path->c_str(), "rb");
        if (!file) {
            *error = "cannot read " + *path + ": " + std::strerror(errno);
            return false;
        }
        *data = ReadAll(file);
        std::fclose(file);
        if (!*data) *error = "cannot read " + *path;
    } else if (from_stdin) {
        *data = ReadAll(stdin);
        if (!*data) *error = "cannot read standard input";
    }
    return error->empty();
}

// The session's exchange: the data sent, one message received when asked.
int Exchange(Context &context, SessionChannel &channel, const std::optional<std::vector<UCHAR>> &data,
             const ParsedArgs &args) {
    if (data) {
        const UCHAR rc = channel.Send(*data);
        if (rc == NRC_PENDING) return kExitInterrupted;
        if (rc != NRC_GOODRET) return context.Fail("send", rc);
        context.doc().Set("sent", static_cast<std::uint64_t>(data->size()));
        context.Print("sent " + std::to_string(data->size()) + " bytes\n");
    }
    if (!args.Has("receive")) return kExitOk;
    const Received message = channel.Receive(After(context.timeout()));
    if (message.rc == NRC_PENDING) {
        if (Interrupted()) return kExitInterrupted;
        return context.Fail("no answer within the timeout", kExitNothingAnswered);
    }
    if (message.rc != NRC_GOODRET) return context.Fail("receive", message.rc);
    context.doc().Set("received", MessageJson(message));
    context.Print(MessageText(message, args.Has("raw")));
    return kExitOk;
}

int RunCall(Context &context, const ParsedArgs &args) {
    const bool from_stdin = args.operands.size() == 2 && args.operands[1] == "-";
    if (args.operands.empty() || (args.operands.size() == 2 && !from_stdin) || args.operands.size() > 2)
        return context.Usage("call takes one NAME, and '-' to send standard input");
    if (int given = args.Has("send") + args.Has("file") + from_stdin; given > 1)
        return context.Usage("give one of --send, --file and '-'");
    std::string error;
    const auto remote = ParseName(args.operands[0], &error);
    if (!remote) return context.Usage(error);
    OptionValues options(args);
    const auto local = options.Name("as", DefaultLocalName());
    const long piece = options.Count("buffer", 1, 65535, 65535, "1 to 65535 bytes");
    if (!options.ok()) return context.Usage(options.error());
    std::optional<std::vector<UCHAR>> data;
    if (!ReadDataToSend(args, from_stdin, &data, &error)) return context.Fail(error, kExitUsage);

    context.doc().Set("name", FormatName(*remote));
    context.doc().Set("local_name", FormatName(*local));
    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    if (UCHAR rc = node.AddName(*local, false, nullptr); rc != NRC_GOODRET)
        return context.Fail("add " + FormatName(*local), rc);
    NCB &call = node.NewBlock(NCBCALL);
    std::memcpy(call.ncb_name, local->data(), NCBNAMSZ);
    std::memcpy(call.ncb_callname, remote->data(), NCBNAMSZ);
    const UCHAR call_rc = SubmitAndWait(call, std::nullopt);
    if (call_rc == NRC_PENDING) return kExitInterrupted;
    if (call_rc != NRC_GOODRET)
        return context.Fail("call " + FormatName(*remote), call_rc,
                            call_rc == NRC_NOCALL ? kExitNothingAnswered : kExitNetbiosFailure);
    node.KeepSession(call.ncb_lsn);
    context.doc().Set("lsn", static_cast<unsigned>(call.ncb_lsn));
    context.Print("session " + std::to_string(call.ncb_lsn) + " with " + FormatName(*remote) + " as " +
                  FormatName(*local) + "\n");

    SessionChannel channel(node, call.ncb_lsn, static_cast<WORD>(piece));
    if (int status = Exchange(context, channel, data, args); status != kExitOk) return status;
    const UCHAR hangup = node.Hangup(call.ncb_lsn);
    context.doc().Set("hangup", ReturnCodeName(hangup));
    if (hangup != NRC_GOODRET && hangup != NRC_SCLOSED) return context.Fail("hang up", hangup);
    context.Print("hung up\n");
    return kExitOk;
}

}  // namespace

const Command kCallCommand = {
    "call",
    "call NAME [--as LOCAL] [--send TEXT | --file FILE | -] [--receive] [--buffer BYTES]",
    "call a name, send, optionally receive the answer, hang up",
    "Registers a local name, calls NAME, sends the data given (none: just the call), waits\n"
    "for one message back when asked to, hangs up and deletes the local name.\n"
    "\n"
    "  --as LOCAL         the calling name (default KORVELNB-<process id>)\n"
    "  --send TEXT        send TEXT as one message\n"
    "  --file FILE        send the file, as messages of at most 65535 bytes\n"
    "  -                  send standard input the same way\n"
    "  --receive          wait for one message and print it (as text with controls\n"
    "                     shown as \\xHH, or a hex dump; global --raw: as it came)\n"
    "  --buffer BYTES     receive into a buffer this big (default 65535): a longer message\n"
    "                     comes in pieces, NRC_INCOMP for each but the last\n"
    "\n"
    "--timeout SECONDS: how long --receive waits (default: for ever).\n"
    "Exit status 3: no node answered for NAME (NRC_NOCALL), or no message within the timeout.\n",
    {{"as", true}, {"send", true}, {"file", true}, {"receive", false}, {"buffer", true}},
    RunCall,
};

}  // namespace cli
