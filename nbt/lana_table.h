// SPDX-License-Identifier: MIT
// The LANA numbering. LANA 0 is the loopback adapter; LANAs 1 and up are the
// host's IPv4 interfaces that are up with carrier and have a broadcast address, in
// interface-index order, so the numbering does not depend on the order in
// which the interfaces came up.
#pragma once

#include <array>
#include <asio/ip/address_v4.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nb30.h"

namespace nbt {

using MacAddress = std::array<std::uint8_t, 6>;

// One IPv4 address of one host interface, as the system lists it.
struct InterfaceAddress {
    std::string name;
    unsigned index = 0;
    unsigned flags = 0;  // IFF_*
    asio::ip::address_v4 address;
    asio::ip::address_v4 broadcast;  // unspecified when the interface has none
    asio::ip::address_v4 netmask;
    MacAddress mac{};
};

struct Lana {
    UCHAR number = 0;
    bool loopback = false;  // LANA 0; its address is chosen at reset
    std::string interface_name;
    unsigned interface_index = 0;
    asio::ip::address_v4 address;
    asio::ip::address_v4 broadcast;
    asio::ip::address_v4 netmask;  // unspecified: not known, every address counts as on the subnet
    MacAddress mac{};
};

// Numbers the interfaces: LANA 0 for loopback, then one LANA per eligible
// interface (first IPv4 address listed for it) by ascending index. At most
// MAX_LANA + 1 LANAs.
std::vector<Lana> NumberLanas(const std::vector<InterfaceAddress> &interfaces, bool host_interfaces);

// LANA 0, the loopback adapter.
Lana LoopbackLana();
// The interfaces a LANA may be made of (up with carrier, with a broadcast
// address, not loopback): the first IPv4 address listed for each, by
// ascending index, named by the interface (an alias's label cut off).
std::vector<InterfaceAddress> EligibleInterfaces(const std::vector<InterfaceAddress> &interfaces);
// LANA `number` made of an eligible interface.
Lana LanaOf(UCHAR number, const InterfaceAddress &entry);

// Another way to number LANAs 1 and up than NumberLanas's index order, for
// a provider that is given one (korveld keeps each interface's number).
// Called with the provider's table lock held, from any thread.
class LanaNumbering {
public:
    virtual ~LanaNumbering() = default;
    // The whole table, LANA 0 first, from what the host lists now.
    virtual std::vector<Lana> Number(const std::vector<InterfaceAddress> &interfaces) = 0;
};

// Whether interface `index` is there under `name`, up and with carrier.
bool InterfaceUp(const std::string &name, unsigned index);

// The host's IPv4 interface addresses (getifaddrs), with each one's MAC.
std::vector<InterfaceAddress> ReadHostInterfaces();

// Fills a LANA_ENUM of `length` bytes at `buffer` as NCBENUM does.
UCHAR FillLanaEnum(const std::vector<Lana> &lanas, UCHAR *buffer, WORD length);

}  // namespace nbt
