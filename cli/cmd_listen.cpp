// listen NAME: accept sessions and print, store or echo what arrives.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "command.h"
#include "local_node.h"
#include "message_report.h"
#include "ncb_wait.h"
#include "return_codes.h"

namespace cli {
namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

int RunListen(Context &context, const ParsedArgs &args) {
    if (args.operands.size() != 1) return context.Usage("listen takes one NAME");
    if (args.Has("echo") && args.Has("out")) return context.Usage("--echo and --out exclude each other");
    std::string error;
    auto name = ParseName(args.operands[0], &error);
    if (!name) return context.Usage(error);
    auto caller = ParseName(args.Value("caller").value_or("*"), &error);
    if (!caller) return context.Usage(error);
    long count = 1;
    if (auto text = args.Value("count")) {
        auto value = ParseCount(*text, 0, 1000000000);
        if (!value) return context.Usage("--count takes a number of sessions (0: no limit)");
        count = *value;
    }
    std::optional<std::chrono::milliseconds> idle;
    if (auto text = args.Value("idle")) {
        auto seconds = ParseSeconds(*text);
        if (!seconds) return context.Usage("--idle takes seconds");
        idle = std::chrono::milliseconds(static_cast<long long>(*seconds * 1000));
    }
    std::unique_ptr<std::FILE, FileCloser> out;
    if (auto path = args.Value("out")) {
        out.reset(std::fopen(path->c_str(), "wb"));
        if (!out) return context.Fail("cannot write " + *path + ": " + std::strerror(errno), kExitUsage);
    }

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    if (UCHAR rc = node.AddName(*name, false, nullptr); rc != NRC_GOODRET)
        return context.Fail("add " + FormatName(*name), rc);
    context.doc().Set("name", FormatName(*name));
    context.doc().Set("caller", FormatName(*caller));
    context.Print("listening on " + FormatName(*name) + " for " + FormatName(*caller) + "\n");

    Json sessions = Json::Array();
    int status = kExitOk;
    for (long accepted = 0; (count == 0 || accepted < count) && !Interrupted(); ++accepted) {
        NCB &listen = node.NewBlock(NCBLISTEN);
        std::memcpy(listen.ncb_name, name->data(), NCBNAMSZ);
        std::memcpy(listen.ncb_callname, caller->data(), NCBNAMSZ);
        if (UCHAR rc = Submit(listen); rc != NRC_GOODRET) {
            status = context.Fail("listen", rc);
            break;
        }
        const Wait waited = WaitFor(listen, After(context.timeout()));
        if (waited != Wait::kCompleted) {
            if (waited == Wait::kTimedOut && accepted == 0)
                status = context.Fail("no caller within the timeout", kExitNothingAnswered);
            break;  // cleanup deletes the name, which ends the listen
        }
        if (listen.ncb_retcode != NRC_GOODRET) {
            status = context.Fail("listen", listen.ncb_retcode);
            break;
        }
        node.KeepSession(listen.ncb_lsn);
        const std::string from = FormatName(listen.ncb_callname);
        context.Print("session " + std::to_string(listen.ncb_lsn) + " from " + from + "\n");

        Json session = Json::Object();
        session.Set("lsn", static_cast<unsigned>(listen.ncb_lsn));
        session.Set("caller", from);
        Json messages = Json::Array();
        std::uint64_t bytes = 0;
        std::string ended = "idle";
        SessionChannel channel(node, listen.ncb_lsn);
        for (;;) {
            Received message = channel.Receive(After(idle));
            if (message.rc == NRC_PENDING) {
                ended = Interrupted() ? "interrupt" : "idle";
                break;
            }
            if (message.rc != NRC_GOODRET) {
                ended = ReturnCodeName(message.rc);
                break;
            }
            bytes += message.data.size();
            if (out) {
                std::fwrite(message.data.data(), 1, message.data.size(), out.get());
            } else if (args.Has("echo")) {
                if (UCHAR rc = channel.Send(message.data); rc != NRC_GOODRET) {
                    ended = ReturnCodeName(rc);
                    break;
                }
            } else {
                messages.Push(MessageJson(message));
                context.Print(MessageText(message, args.Has("raw")));
            }
        }
        const UCHAR hangup = node.Hangup(listen.ncb_lsn);
        session.Set("messages", std::move(messages));
        session.Set("bytes", bytes);
        session.Set("ended", ended);
        session.Set("hangup", ReturnCodeName(hangup));
        sessions.Push(std::move(session));
        context.Print("session " + std::to_string(listen.ncb_lsn) + " ended (" + ended + "), " +
                      std::to_string(bytes) + " bytes\n");
    }
    context.doc().Set("sessions", std::move(sessions));
    if (out) std::fflush(out.get());
    return status;
}

}  // namespace

const Command kListenCommand = {
    "listen",
    "listen NAME [--caller NAME] [--count N] [--idle SECONDS] [--echo | --out FILE]",
    "accept sessions and print, store or echo what arrives",
    "Registers NAME, listens for callers and, for each session, prints every message that\n"
    "arrives (as text, or as a hex dump when it is not text) until the caller hangs up;\n"
    "controls in the text show as \\xHH (global --raw: the bytes as they came).\n"
    "The name is deleted at the end, and on Ctrl-C, which also hangs up the session.\n"
    "\n"
    "  --caller NAME      accept this caller only (default '*', anyone)\n"
    "  --count N          sessions to accept before ending (default 1; 0: until interrupted)\n"
    "  --idle SECONDS     hang up a session after this long without a message\n"
    "  --echo             send every message back instead of printing it\n"
    "  --out FILE         write what arrives to FILE instead of printing it\n"
    "\n"
    "--timeout SECONDS: how long to wait for each caller (default: for ever).\n"
    "Exit status 3: no caller within the timeout.\n",
    {{"caller", true}, {"count", true}, {"idle", true}, {"echo", false}, {"out", true}},
    RunListen,
};

}  // namespace cli
