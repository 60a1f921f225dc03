// SPDX-License-Identifier: MIT
// Every NCB command the provider carries, in one table: which part of the
// provider carries it and what its LANA must be before Netbios() accepts it.
// Netbios() validates against the table, the Provider and the Node route by
// it, and each service binds its handlers to it with HandlersFor(), which
// fails to compile unless the service handles exactly the commands the table
// gives it.
//
// A new command is one row in kCommandRows and one handler in the list of
// the service that row names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "nb30.h"

namespace nbt {

// Who carries a command. kNone: not a command of this provider (NRC_ILLCMD).
enum class Service : std::uint8_t { kNone, kProvider, kName, kSession, kDatagram };
inline constexpr std::size_t kServiceCount = 5;

// What Netbios() checks of ncb_lana_num before it accepts a command.
enum class LanaNeed : std::uint8_t {
    kNone,        // nothing (NCBENUM)
    kEnumerated,  // enumerated (the LANA table read again if not), else NRC_BRIDGE
    kReset,       // enumerated (else NRC_BRIDGE) and reset (else NRC_ENVNOTDEF)
};

struct Command {
    Service service = Service::kNone;
    LanaNeed lana = LanaNeed::kNone;
};

// Command codes without the ASYNCH bit: the table's index.
inline constexpr std::size_t kCommandCodes = ASYNCH;

constexpr UCHAR CommandCode(UCHAR ncb_command) {
    return ncb_command & static_cast<UCHAR>(~ASYNCH);
}

namespace detail {

struct CommandRow {
    UCHAR code;
    Command command;
};

// clang-format off
inline constexpr CommandRow kCommandRows[] = {
    {NCBENUM,    {Service::kProvider, LanaNeed::kNone}},
    {NCBRESET,   {Service::kProvider, LanaNeed::kEnumerated}},
    {NCBADDNAME, {Service::kName,     LanaNeed::kReset}},
    {NCBDELNAME, {Service::kName,     LanaNeed::kReset}},
    {NCBASTAT,   {Service::kName,     LanaNeed::kReset}},
    {NCBCALL,    {Service::kSession,  LanaNeed::kReset}},
    {NCBLISTEN,  {Service::kSession,  LanaNeed::kReset}},
    {NCBHANGUP,  {Service::kSession,  LanaNeed::kReset}},
    {NCBSEND,    {Service::kSession,  LanaNeed::kReset}},
    {NCBRECV,    {Service::kSession,  LanaNeed::kReset}},
    {NCBSSTAT,   {Service::kSession,  LanaNeed::kReset}},
    {NCBADDGRNAME, {Service::kName,     LanaNeed::kReset}},
    {NCBDGSEND,  {Service::kDatagram, LanaNeed::kReset}},
    {NCBDGSENDBC, {Service::kDatagram, LanaNeed::kReset}},
    {NCBDGRECV,  {Service::kDatagram, LanaNeed::kReset}},
    {NCBDGRECVBC, {Service::kDatagram, LanaNeed::kReset}},
    {NCBSENDNA,  {Service::kSession,  LanaNeed::kReset}},
    {NCBCHAINSEND, {Service::kSession,  LanaNeed::kReset}},
    {NCBCHAINSENDNA, {Service::kSession,  LanaNeed::kReset}},
    {NCBUNLINK,  {Service::kSession,  LanaNeed::kReset}},
    {NCBRECVANY, {Service::kSession,  LanaNeed::kReset}},
    {NCBCANCEL,  {Service::kProvider, LanaNeed::kReset}},
};
// clang-format on

// A failed check below stops the build at the throw that names the fault.
consteval std::array<Command, kCommandCodes> BuildCommandTable() {
    std::array<Command, kCommandCodes> table{};
    for (const CommandRow &row : kCommandRows) {
        if (row.code >= kCommandCodes) throw "command code with the ASYNCH bit";
        if (table[row.code].service != Service::kNone) throw "command listed twice";
        if (row.command.service == Service::kNone) throw "row for a command nobody carries";
        table[row.code] = row.command;
    }
    return table;
}

}  // namespace detail

inline constexpr std::array<Command, kCommandCodes> kCommands = detail::BuildCommandTable();

// The table entry of an ncb_command, either form.
constexpr const Command &CommandOf(UCHAR ncb_command) {
    return kCommands[CommandCode(ncb_command)];
}

// ---- binding handlers -------------------------------------------------------

template <typename Handler>
struct HandlerRow {
    UCHAR code;
    Handler handler;
};

// A service's handlers indexed by command code. Does not compile unless
// `rows` names each command the table gives `service` exactly once, and
// nothing else; so a command routed to a service always finds its handler.
template <typename Handler, std::size_t N>
consteval std::array<Handler, kCommandCodes> HandlersFor(Service service,
                                                         const HandlerRow<Handler> (&rows)[N]) {
    std::array<Handler, kCommandCodes> handlers{};
    // Kept apart from the handlers: comparing member pointers is not a
    // constant expression under the sanitizers.
    std::array<bool, kCommandCodes> bound{};
    for (const auto &row : rows) {
        if (row.code >= kCommandCodes) throw "command code with the ASYNCH bit";
        if (kCommands[row.code].service != service) throw "handler for a command the table routes elsewhere";
        if (bound[row.code]) throw "two handlers for one command";
        handlers[row.code] = row.handler;
        bound[row.code] = true;
    }
    for (std::size_t code = 0; code < kCommandCodes; ++code)
        if (kCommands[code].service == service && !bound[code])
            throw "command routed to this service without a handler";
    return handlers;
}

// What the node hands an accepted NCB to: the service of its command. The
// NCB is pending in the node; the service finishes it with
// Node::Complete(ncb, rc) exactly once.
class CommandTarget {
public:
    virtual void Submit(NCB *ncb) = 0;

protected:
    ~CommandTarget() = default;
};

}  // namespace nbt
