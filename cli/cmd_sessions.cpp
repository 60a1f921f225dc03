// SPDX-License-Identifier: MIT
// sessions [NAME]: session status of this node.
#include <cstring>

#include "command.h"
#include "local_node.h"
#include "ncb_wait.h"
#include "text_format.h"

namespace cli {
namespace {

int RunSessions(Context &context, const ParsedArgs &args) {
    if (args.operands.size() > 1) return context.Usage("sessions takes at most one NAME");
    std::string error;
    auto name = ParseName(args.operands.empty() ? "*" : args.operands[0], &error);
    if (!name) return context.Usage(error);

    LocalNode node(context.lana());
    if (UCHAR rc = node.Reset(); rc != NRC_GOODRET) return context.Fail("reset", rc);
    std::vector<UCHAR> &buffer = node.NewBuffer(sizeof(SESSION_HEADER) + 254 * sizeof(SESSION_BUFFER));
    NCB &ncb = node.NewBlock(NCBSSTAT);
    std::memcpy(ncb.ncb_name, name->data(), NCBNAMSZ);
    ncb.ncb_buffer = buffer.data();
    ncb.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR rc = SubmitAndWait(ncb, After(context.timeout()));
    if (rc == NRC_PENDING)
        return Interrupted() ? kExitInterrupted : context.Fail("no answer", kExitNothingAnswered);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP)
        return context.Fail("session status of " + FormatName(*name), rc);

    SESSION_HEADER header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    Json sessions = Json::Array();
    Table table({"LSN", "STATE", "LOCAL NAME", "REMOTE NAME", "RECEIVES", "SENDS"});
    for (unsigned i = 0; i < header.num_sess; ++i) {
        const std::size_t at = sizeof header + i * sizeof(SESSION_BUFFER);
        if (at + sizeof(SESSION_BUFFER) > ncb.ncb_length) break;
        SESSION_BUFFER session{};
        std::memcpy(&session, buffer.data() + at, sizeof session);
        Json entry = Json::Object();
        entry.Set("lsn", static_cast<unsigned>(session.lsn));
        entry.Set("state", SessionState(session.state));
        entry.Set("local_name", FormatName(session.local_name));
        entry.Set("remote_name", FormatName(session.remote_name));
        entry.Set("receives_outstanding", static_cast<unsigned>(session.rcvs_outstanding));
        entry.Set("sends_outstanding", static_cast<unsigned>(session.sends_outstanding));
        sessions.Push(std::move(entry));
        table.Add({std::to_string(session.lsn), SessionState(session.state), FormatName(session.local_name),
                   FormatName(session.remote_name), std::to_string(session.rcvs_outstanding),
                   std::to_string(session.sends_outstanding)});
    }
    context.doc().Set("name", FormatName(*name));
    context.doc().Set("name_number", static_cast<unsigned>(header.sess_name));
    context.doc().Set("receive_datagrams_outstanding", static_cast<unsigned>(header.rcv_dg_outstanding));
    context.doc().Set("receive_any_outstanding", static_cast<unsigned>(header.rcv_any_outstanding));
    context.doc().Set("sessions", std::move(sessions));
    context.Print("Sessions of " + FormatName(*name) + " (name number " + std::to_string(header.sess_name) +
                  "): " + std::to_string(table.rows()) + "\n" + (table.rows() ? table.Render() : ""));
    return kExitOk;
}

}  // namespace

const Command kSessionsCommand = {
    "sessions",
    "sessions [NAME]",
    "session status of this node, for all names or one",
    "Prints the session status of this node: each session (or pending listen or call) with\n"
    "its number, state, local and remote names and outstanding receives and sends, for\n"
    "every name ('*', the default) or for NAME, which this node must hold. Every korvel-nb\n"
    "process is a node of its own, reset when it starts: this is a check of the\n"
    "provider's session status, and lists no sessions of other processes.\n",
    {},
    RunSessions,
};

}  // namespace cli
