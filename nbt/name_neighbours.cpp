#include "name_neighbours.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace nbt {

namespace {

constexpr unsigned kArpComplete = 0x2;  // ATF_COM

std::optional<MacAddress> ParseMac(const std::string &text) {
    MacAddress mac{};
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &tail) != 6)
        return std::nullopt;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(b[i]);
    return mac;
}

}  // namespace

std::optional<asio::ip::address_v4> FindNeighbour(std::string_view arp_table, const MacAddress &mac,
                                                  const std::string &device) {
    std::istringstream lines{std::string(arp_table)};
    std::string line;
    std::getline(lines, line);  // column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string ip, hw_type, flags, hw_address, mask, dev;
        if (!(fields >> ip >> hw_type >> flags >> hw_address >> mask >> dev)) continue;
        unsigned long flag_bits = std::strtoul(flags.c_str(), nullptr, 16);
        if (!(flag_bits & kArpComplete)) continue;
        if (!device.empty() && dev != device) continue;
        auto entry_mac = ParseMac(hw_address);
        if (!entry_mac || *entry_mac != mac) continue;
        asio::error_code ec;
        auto address = asio::ip::make_address_v4(ip, ec);
        if (!ec) return address;
    }
    return std::nullopt;
}

std::optional<asio::ip::address_v4> LookupNeighbour(const MacAddress &mac, const std::string &device) {
    std::ifstream file("/proc/net/arp");
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return FindNeighbour(text.str(), mac, device);
}

}  // namespace nbt
