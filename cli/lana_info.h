// What the adapters are, for `lanas` and for talking on one directly (the
// raw name query). The provider's numbering is documented (README,
// "Adapters"): LANA 0 is the loopback adapter, LANAs 1 and up are the IPv4
// interfaces that are up and have a broadcast address, in interface-index
// order, each with the first address listed for it. This reads the same
// interface list and numbers it the same way; `lanas` checks the result
// against NCBENUM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "names.h"

namespace cli {

struct LanaInfo {
    UCHAR number = 0;
    bool loopback = false;
    std::string interface_name;
    std::uint32_t address = 0;  // host order; 0 for LANA 0 (chosen at reset)
    std::uint32_t broadcast = 0;
    std::uint16_t name_port = 137;
    std::uint16_t session_port = 139;
    AdapterAddress adapter_address{};  // zeros for LANA 0 (chosen at reset)
};

std::vector<LanaInfo> ReadLanas();
std::optional<LanaInfo> FindLana(UCHAR number);
// The LANA numbers NCBENUM reports.
std::vector<UCHAR> EnumerateLanas();

// LANA 0 gives each node 127.0.0.N and adapter address 02:00:7F:00:00:N.
std::uint32_t LoopbackAddressOf(const AdapterAddress &adapter_address);

}  // namespace cli
