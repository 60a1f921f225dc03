// SPDX-License-Identifier: MIT
// The platform entry point. LANA 0 is always the process's own provider;
// LANAs 1 and up, and the enumeration, go to korveld where it serves this
// process (service_client.h), else to the same in-process provider.
// Callers may be C programs, so no exception leaves it.
#include "command_table.h"
#include "nb30.h"
#include "provider.h"
#include "service_client.h"

UCHAR Netbios(PNCB pncb) {
    try {
        if (pncb && (pncb->ncb_lana_num != 0 || nbt::CommandCode(pncb->ncb_command) == NCBENUM) &&
            nbt::ServiceClient::Get().Serves())
            return nbt::ServiceClient::Get().Netbios(pncb);
        return nbt::Provider::Default().Netbios(pncb);
    } catch (...) {
        return NRC_SYSTEM;
    }
}
