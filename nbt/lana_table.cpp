// SPDX-License-Identifier: MIT
#include "lana_table.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace nbt {
namespace {

bool Eligible(const InterfaceAddress &entry) {
    // Up but without carrier (IFF_RUNNING off) is as good as down: nothing
    // sent there arrives.
    const unsigned needed = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
    return (entry.flags & needed) == needed && !(entry.flags & IFF_LOOPBACK) &&
           !entry.broadcast.is_unspecified() && !entry.address.is_unspecified();
}

asio::ip::address_v4 ToAddress(const sockaddr *sa) {
    if (!sa || sa->sa_family != AF_INET) return {};
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    return asio::ip::address_v4(ntohl(in.sin_addr.s_addr));
}

}  // namespace

Lana LoopbackLana() {
    Lana loopback;
    loopback.number = 0;
    loopback.loopback = true;
    loopback.interface_name = "lo";
    loopback.broadcast = asio::ip::address_v4(0x7FFFFFFFu);  // 127.255.255.255
    loopback.netmask = asio::ip::address_v4(0xFF000000u);
    return loopback;
}

std::vector<InterfaceAddress> EligibleInterfaces(const std::vector<InterfaceAddress> &interfaces) {
    // First eligible address of each interface, keyed (and so ordered) by index.
    std::map<unsigned, const InterfaceAddress *> by_index;
    for (const InterfaceAddress &entry : interfaces)
        if (Eligible(entry)) by_index.emplace(entry.index, &entry);
    std::vector<InterfaceAddress> eligible;
    for (const auto &[index, entry] : by_index) {
        eligible.push_back(*entry);
        // An alias's label (eth0:1) names an address, not the interface:
        // the LANA, its socket ties and its saved number go by the interface.
        std::string &name = eligible.back().name;
        name = name.substr(0, name.find(':'));
    }
    return eligible;
}

Lana LanaOf(UCHAR number, const InterfaceAddress &entry) {
    Lana lana;
    lana.number = number;
    lana.interface_name = entry.name;
    lana.interface_index = entry.index;
    lana.address = entry.address;
    lana.broadcast = entry.broadcast;
    lana.netmask = entry.netmask;
    lana.mac = entry.mac;
    return lana;
}

std::vector<Lana> NumberLanas(const std::vector<InterfaceAddress> &interfaces, bool host_interfaces) {
    std::vector<Lana> lanas{LoopbackLana()};
    if (!host_interfaces) return lanas;
    for (const InterfaceAddress &entry : EligibleInterfaces(interfaces)) {
        if (lanas.size() > static_cast<std::size_t>(MAX_LANA)) break;
        lanas.push_back(LanaOf(static_cast<UCHAR>(lanas.size()), entry));
    }
    return lanas;
}

bool InterfaceUp(const std::string &name, unsigned index) {
    if (name.empty() || name.size() >= IFNAMSIZ || if_nametoindex(name.c_str()) != index) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    const bool read = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    ::close(fd);
    const unsigned needed = IFF_UP | IFF_RUNNING;
    return read && (static_cast<unsigned>(request.ifr_flags) & needed) == needed;
}

std::vector<InterfaceAddress> ReadHostInterfaces() {
    std::vector<InterfaceAddress> result;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return result;

    std::map<std::string, MacAddress> macs;
    for (ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_PACKET) continue;
        sockaddr_ll link{};
        std::memcpy(&link, it->ifa_addr, sizeof link);
        MacAddress mac{};
        if (link.sll_halen == mac.size()) std::copy(link.sll_addr, link.sll_addr + mac.size(), mac.begin());
        macs[it->ifa_name] = mac;
    }
    for (ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        InterfaceAddress entry;
        entry.name = it->ifa_name;
        entry.index = if_nametoindex(it->ifa_name);
        entry.flags = it->ifa_flags;
        entry.address = ToAddress(it->ifa_addr);
        if (it->ifa_flags & IFF_BROADCAST) entry.broadcast = ToAddress(it->ifa_broadaddr);
        entry.netmask = ToAddress(it->ifa_netmask);
        if (auto mac = macs.find(entry.name); mac != macs.end()) entry.mac = mac->second;
        if (entry.index != 0) result.push_back(entry);
    }
    freeifaddrs(list);
    return result;
}

UCHAR FillLanaEnum(const std::vector<Lana> &lanas, UCHAR *buffer, WORD length) {
    if (!buffer) return NRC_BADDR;
    const std::size_t needed = 1 + lanas.size();
    if (length < needed) return NRC_BUFLEN;
    buffer[0] = static_cast<UCHAR>(lanas.size());
    for (std::size_t i = 0; i < lanas.size(); ++i) buffer[1 + i] = lanas[i].number;
    return NRC_GOODRET;
}

}  // namespace nbt
