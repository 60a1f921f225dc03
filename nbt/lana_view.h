// SPDX-License-Identifier: MIT
// The adapters as the default provider numbers them, with the ports each
// uses: what `korvel-nb lanas` lists and what its --lana N means, so a tool
// never numbers the interfaces a second time. Plain values: no asio, no
// provider internals.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "nb30.h"

namespace nbt {

struct LanaView {
    UCHAR number = 0;
    // LANA 0: each process's node takes its 127.0.0.N and adapter address
    // 02:00:7F:00:00:N when it is reset, so neither is known here.
    bool loopback = false;
    std::string interface_name;
    std::uint32_t address = 0;  // host order; 0 for LANA 0
    std::uint32_t broadcast = 0;
    std::array<std::uint8_t, 6> mac{};  // zeros for LANA 0
    std::uint16_t name_port = 0;        // udp
    std::uint16_t datagram_port = 0;    // udp
    std::uint16_t session_port = 0;     // tcp
    bool service = false;               // carried by korveld, not this process
};

// The LANA table as Netbios() sees it, read again as NCBENUM reads it: LANA
// 0 from the process's own provider, LANAs 1 and up from korveld where it
// serves this process, else from the process's own provider too.
std::vector<LanaView> DefaultProviderLanas();

}  // namespace nbt
