// The platform entry point: every NCB goes to the process's default provider.
#include "nb30.h"
#include "provider.h"

UCHAR Netbios(PNCB pncb) {
    return nbt::Provider::Default().Netbios(pncb);
}
