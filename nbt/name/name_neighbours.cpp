// SPDX-License-Identifier: MIT
#include "name_neighbours.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace nbt {

namespace {

constexpr unsigned kArpComplete = 0x2;  // ATF_COM

std::optional<MacAddress> ParseMac(const std::string &text) {
    // Exactly "xx:xx:xx:xx:xx:xx", as the kernel prints it.
    if (text.size() != 17) return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        if (i < 5 && text[3 * i + 2] != ':') return std::nullopt;
        unsigned value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            char c = text[3 * i + j];
            int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                        : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                    : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        mac[i] = static_cast<std::uint8_t>(value);
    }
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
    std::ifstream file("/proc/self/net/arp");  // also where /proc shows only processes
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    return FindNeighbour(text.str(), mac, device);
}

}  // namespace nbt
