// SPDX-License-Identifier: MIT
// The platform entry point: every NCB goes to the process's default provider.
// Callers may be C programs, so no exception leaves it.
#include "nb30.h"
#include "provider.h"

UCHAR Netbios(PNCB pncb) {
    try {
        return nbt::Provider::Default().Netbios(pncb);
    } catch (...) {
        return NRC_SYSTEM;
    }
}
