// SPDX-License-Identifier: MIT
#include "return_codes.h"

#include <cstdio>

namespace cli {
namespace {

struct Known {
    UCHAR rc;
    const char *name;
    const char *meaning;
};

constexpr Known kKnown[] = {
    {NRC_GOODRET, "NRC_GOODRET", "success"},
    {NRC_BUFLEN, "NRC_BUFLEN", "illegal buffer length"},
    {NRC_ILLCMD, "NRC_ILLCMD", "the provider does not support this command"},
    {NRC_CMDTMO, "NRC_CMDTMO", "the command timed out: nothing answered"},
    {NRC_INCOMP, "NRC_INCOMP", "message incomplete: more follows"},
    {NRC_BADDR, "NRC_BADDR", "illegal buffer address"},
    {NRC_SNUMOUT, "NRC_SNUMOUT", "session number out of range"},
    {NRC_NORES, "NRC_NORES", "no resource available"},
    {NRC_SCLOSED, "NRC_SCLOSED", "the session was closed"},
    {NRC_CMDCAN, "NRC_CMDCAN", "the command was cancelled"},
    {NRC_DUPNAME, "NRC_DUPNAME", "the name is already in this node's table"},
    {NRC_NAMTFUL, "NRC_NAMTFUL", "the name table is full"},
    {NRC_ACTSES, "NRC_ACTSES", "the name has active sessions; it goes when they end"},
    {NRC_LOCTFUL, "NRC_LOCTFUL", "the local session table is full"},
    {NRC_REMTFUL, "NRC_REMTFUL", "the remote node refused the session"},
    {NRC_ILLNN, "NRC_ILLNN", "illegal name number"},
    {NRC_NOCALL, "NRC_NOCALL", "no node answered for the called name"},
    {NRC_NOWILD, "NRC_NOWILD", "the name is not held here, or '*' is not allowed"},
    {NRC_INUSE, "NRC_INUSE", "the name is in use on another node"},
    {NRC_NAMERR, "NRC_NAMERR", "the name was deleted"},
    {NRC_SABORT, "NRC_SABORT", "the session ended abnormally"},
    {NRC_NAMCONF, "NRC_NAMCONF", "name conflict detected"},
    {NRC_IFBUSY, "NRC_IFBUSY", "interface busy"},
    {NRC_TOOMANY, "NRC_TOOMANY", "too many commands outstanding"},
    {NRC_BRIDGE, "NRC_BRIDGE", "no such adapter (see korvel-nb lanas)"},
    {NRC_CANOCCR, "NRC_CANOCCR", "the command completed while the cancel ran"},
    {NRC_CANCEL, "NRC_CANCEL", "the command cannot be cancelled"},
    {NRC_DUPENV, "NRC_DUPENV", "the name is defined by another local process"},
    {NRC_ENVNOTDEF, "NRC_ENVNOTDEF", "the adapter has not been reset"},
    {NRC_OSRESNOTAV, "NRC_OSRESNOTAV", "operating system resources exhausted"},
    {NRC_MAXAPPS, "NRC_MAXAPPS", "too many applications"},
    {NRC_NOSAPS, "NRC_NOSAPS", "no service access points available"},
    {NRC_NORESOURCES, "NRC_NORESOURCES", "requested resources not available"},
    {NRC_INVADDRESS, "NRC_INVADDRESS", "invalid NCB address"},
    {NRC_INVDDID, "NRC_INVDDID", "invalid NCB DDID"},
    {NRC_LOCKFAIL, "NRC_LOCKFAIL", "locking the user area failed"},
    {NRC_OPENERR, "NRC_OPENERR",
     "cannot open the adapter: its ports are taken (nmbd or smbd running here?) or need root"},
    {NRC_SYSTEM, "NRC_SYSTEM", "system error"},
    {NRC_PENDING, "NRC_PENDING", "the command is still pending"},
};

const Known *Find(UCHAR rc) {
    for (const Known &known : kKnown)
        if (known.rc == rc) return &known;
    return nullptr;
}

}  // namespace

std::string ReturnCodeName(UCHAR rc) {
    if (const Known *known = Find(rc)) return known->name;
    char text[16];
    std::snprintf(text, sizeof text, "NRC_0x%02X", rc);
    return text;
}

std::string ReturnCodeMeaning(UCHAR rc) {
    if (const Known *known = Find(rc)) return known->meaning;
    return "unknown return code";
}

std::string DescribeReturnCode(UCHAR rc) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", rc);
    return ReturnCodeName(rc) + " (" + hex + "): " + ReturnCodeMeaning(rc);
}

}  // namespace cli
