// Small builders for the control blocks the provider tests submit.
#pragma once

#include <cstring>

#include "nb30.h"
#include "provider.h"

namespace nbt::testing {

inline NCB MakeNcb(UCHAR command, UCHAR lana = 0) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    return ncb;
}

// NCBRESET; lsn != 0 frees the LANA only.
inline UCHAR ResetLana(Provider &provider, UCHAR lana = 0, UCHAR lsn = 0, UCHAR sessions = 0, UCHAR ncbs = 0,
                       UCHAR names = 0) {
    NCB ncb = MakeNcb(NCBRESET, lana);
    ncb.ncb_lsn = lsn;
    ncb.ncb_callname[0] = sessions;
    ncb.ncb_callname[1] = ncbs;
    ncb.ncb_callname[2] = names;
    return provider.Netbios(&ncb);
}

}  // namespace nbt::testing
