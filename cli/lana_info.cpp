// SPDX-License-Identifier: MIT
#include "lana_info.h"

namespace cli {

std::vector<LanaInfo> ReadLanas() {
    return nbt::DefaultProviderLanas();
}

std::optional<LanaInfo> FindLana(UCHAR number) {
    for (const LanaInfo &lana : ReadLanas())
        if (lana.number == number) return lana;
    return std::nullopt;
}

UCHAR DefaultLana() {
    return FindLana(1) ? 1 : 0;
}

}  // namespace cli
