// SPDX-License-Identifier: MIT
// NCBCHAINSEND and NCBCHAINSENDNA send two buffers as one message: the
// second one's length (a WORD) sits in ncb_callname bytes 0-1 and its
// address in the bytes after it, laid out as the platform lays them.
#pragma once

#include <cstring>

#include "command_table.h"
#include "nb30.h"

namespace nbt {

struct ChainedBuffer {
    const UCHAR *data = nullptr;
    WORD length = 0;
};

static_assert(2 + sizeof(const UCHAR *) <= NCBNAMSZ, "the address must fit ncb_callname");

// The second buffer of a chain send; nothing for the other sends.
inline ChainedBuffer ChainedBufferOf(const NCB &ncb) {
    const UCHAR code = CommandCode(ncb.ncb_command);
    ChainedBuffer chained;
    if (code != NCBCHAINSEND && code != NCBCHAINSENDNA) return chained;
    std::memcpy(&chained.length, ncb.ncb_callname, sizeof chained.length);
    std::memcpy(&chained.data, ncb.ncb_callname + sizeof chained.length, sizeof chained.data);
    return chained;
}

}  // namespace nbt
