// SPDX-License-Identifier: MIT
// listen NAME: accept sessions and print, store or echo what arrives.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "command.h"
#include "local_node.h"
#include "message_report.h"
#include "ncb_wait.h"
#include "option_values.h"
#include "return_codes.h"

namespace cli {
namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct ListenPlan {
    NameField name{};
    NameField caller{};
    long count = 1;  // sessions; 0: until interrupted
    std::optional<std::chrono::milliseconds> idle;
    bool echo = false;
    bool raw = false;
};

// The plan, or nullopt with a usage error in *error.
std::optional<ListenPlan> ReadPlan(const ParsedArgs &args, std::string *error) {
    if (args.operands.size() != 1)
        *error = "listen takes one NAME";
    else if (args.Has("echo") && args.Has("out"))
        *error = "--echo and --out exclude each other";
    if (!error->empty()) return std::nullopt;
    const auto name = ParseName(args.operands[0], error);
    if (!name) return std::nullopt;
    ListenPlan plan;
    OptionValues options(args);
    const auto caller = options.Name("caller", "*");
    plan.count = options.Count("count", 0, 1000000000, plan.count, "a number of sessions (0: no limit)");
    plan.idle = options.Seconds("idle");
    *error = options.error();
    if (!options.ok()) return std::nullopt;
    plan.name = *name;
    plan.caller = *caller;
    plan.echo = args.Has("echo");
    plan.raw = args.Has("raw");
    return plan;
}

// One message where it goes: written to the file, echoed, or printed and
// kept for the document. NRC_GOODRET, or the code that ends the session.
UCHAR Deliver(Context &context, SessionChannel &channel, const ListenPlan &plan, std::FILE *out,
              const Received &message, Json &messages) {
    if (out) {
        std::fwrite(message.data.data(), 1, message.data.size(), out);
        return NRC_GOODRET;
    }
    if (plan.echo) return channel.Send(message.data);
    messages.Push(MessageJson(message));
    context.Print(MessageText(message, plan.raw));
    return NRC_GOODRET;
}

struct SessionEnd {
    Json messages = Json::Array();  // what was printed
    std::uint64_t bytes = 0;
    std::string ended;  // "idle", "interrupt" or the return code that ended it
};

// Takes messages until the caller hangs up, the session goes idle or an
// interrupt arrives.
SessionEnd Serve(Context &context, SessionChannel &channel, const ListenPlan &plan, std::FILE *out) {
    SessionEnd end;
    while (end.ended.empty()) {
        const Received message = channel.Receive(After(plan.idle));
        UCHAR rc = message.rc;
        if (rc == NRC_GOODRET) {
            end.bytes += message.data.size();
            rc = Deliver(context, channel, plan, out, message, end.messages);
        }
        if (rc == NRC_PENDING)
            end.ended = Interrupted() ? "interrupt" : "idle";
        else if (rc != NRC_GOODRET)
            end.ended = ReturnCodeName(rc);
    }
    return end;
}

// The next caller's session; null when the listen fails, no caller comes in
// time or an interrupt arrives (*status says which).
NCB *Accept(Context &context, LocalNode &node, const ListenPlan &plan, bool first, int *status) {
    NCB &listen = node.NewBlock(NCBLISTEN);
    std::memcpy(listen.ncb_name, plan.name.data(), NCBNAMSZ);
    std::memcpy(listen.ncb_callname, plan.caller.data(), NCBNAMSZ);
    if (UCHAR rc = Submit(listen); rc != NRC_GOODRET) {
        *status = context.Fail("listen", rc);
        return nullptr;
    }
    const Wait waited = WaitFor(listen, After(context.timeout()));
    if (waited == Wait::kTimedOut && first)
        *status = context.Fail("no caller within the timeout", kExitNothingAnswered);
    if (waited != Wait::kCompleted) return nullptr;  // cleanup deletes the name, which ends the listen
    if (listen.ncb_retcode != NRC_GOODRET) {
        *status = context.Fail("listen", listen.ncb_retcode);
        return nullptr;
    }
    node.KeepSession(listen.ncb_lsn);
    return &listen;
}

// One accepted session from its start to its hang-up; its document.
Json Session(Context &context, LocalNode &node, const NCB &listen, const ListenPlan &plan, std::FILE *out) {
    const std::string lsn = std::to_string(listen.ncb_lsn);
    const std::string from = FormatName(listen.ncb_callname);
    context.Print("session " + lsn + " from " + from + "\n");
    SessionChannel channel(node, listen.ncb_lsn);
    SessionEnd end = Serve(context, channel, plan, out);
    Json session = Json::Object();
    session.Set("lsn", static_cast<unsigned>(listen.ncb_lsn));
    session.Set("caller", from);
    session.Set("messages", std::move(end.messages));
    session.Set("bytes", end.bytes);
    session.Set("ended", end.ended);
    session.Set("hangup", ReturnCodeName(node.Hangup(listen.ncb_lsn)));
    context.Print("session " + lsn + " ended (" + end.ended + "), " + std::to_string(end.bytes) + " bytes\n");
    return session;
}

int RunListen(Context &context, const ParsedArgs &args) {
    std::string error;
    const auto plan = ReadPlan(args, &error);
    if (!plan) return context.Usage(error);
    File out;
    if (auto path = args.Value("out")) {
        out.reset(std::fopen(path->c_str(), "wb"));
        if (!out) return context.Fail("cannot write " + *path + ": " + std::strerror(errno), kExitUsage);
    }
    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    if (UCHAR rc = node.AddName(plan->name, false, nullptr); rc != NRC_GOODRET)
        return context.Fail("add " + FormatName(plan->name), rc);
    context.doc().Set("name", FormatName(plan->name));
    context.doc().Set("caller", FormatName(plan->caller));
    context.Print("listening on " + FormatName(plan->name) + " for " + FormatName(plan->caller) + "\n");

    Json sessions = Json::Array();
    int status = kExitOk;
    for (long accepted = 0; (plan->count == 0 || accepted < plan->count) && !Interrupted(); ++accepted) {
        const NCB *listen = Accept(context, node, *plan, accepted == 0, &status);
        if (!listen) break;
        sessions.Push(Session(context, node, *listen, *plan, out.get()));
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
