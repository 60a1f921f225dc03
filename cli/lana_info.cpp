#include "lana_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <cstring>
#include <map>

namespace cli {
namespace {

constexpr std::uint16_t kLoopbackNamePort = 10137;
constexpr std::uint16_t kLoopbackSessionPort = 10139;

std::uint32_t Ipv4Of(const sockaddr *address) {
    if (!address || address->sa_family != AF_INET) return 0;
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

}  // namespace

std::vector<LanaInfo> ReadLanas() {
    std::vector<LanaInfo> lanas;
    LanaInfo loopback;
    loopback.loopback = true;
    loopback.interface_name = "lo";
    loopback.broadcast = 0x7FFFFFFF;
    loopback.name_port = kLoopbackNamePort;
    loopback.session_port = kLoopbackSessionPort;
    lanas.push_back(loopback);

    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return lanas;
    std::map<std::string, AdapterAddress> macs;
    for (ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_PACKET) continue;
        sockaddr_ll link{};
        std::memcpy(&link, it->ifa_addr, sizeof link);
        AdapterAddress mac{};
        if (link.sll_halen == mac.size()) std::memcpy(mac.data(), link.sll_addr, mac.size());
        macs[it->ifa_name] = mac;
    }
    std::map<unsigned, LanaInfo> by_index;  // the first eligible address of each
    for (ifaddrs *it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        const unsigned needed = IFF_UP | IFF_BROADCAST;
        if ((it->ifa_flags & needed) != needed || (it->ifa_flags & IFF_LOOPBACK)) continue;
        LanaInfo lana;
        lana.interface_name = it->ifa_name;
        lana.address = Ipv4Of(it->ifa_addr);
        lana.broadcast = Ipv4Of(it->ifa_broadaddr);
        if (lana.address == 0 || lana.broadcast == 0) continue;
        if (auto mac = macs.find(lana.interface_name); mac != macs.end()) lana.adapter_address = mac->second;
        const unsigned index = if_nametoindex(it->ifa_name);
        if (index != 0) by_index.emplace(index, lana);
    }
    freeifaddrs(list);
    for (auto &[index, lana] : by_index) {
        if (lanas.size() > static_cast<std::size_t>(MAX_LANA)) break;
        lana.number = static_cast<UCHAR>(lanas.size());
        lanas.push_back(lana);
    }
    return lanas;
}

std::optional<LanaInfo> FindLana(UCHAR number) {
    for (const LanaInfo &lana : ReadLanas())
        if (lana.number == number) return lana;
    return std::nullopt;
}

std::vector<UCHAR> EnumerateLanas() {
    LANA_ENUM lanas{};
    NCB ncb{};
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<UCHAR *>(&lanas);
    ncb.ncb_length = sizeof lanas;
    if (Netbios(&ncb) != NRC_GOODRET) return {};
    return std::vector<UCHAR>(lanas.lana, lanas.lana + lanas.length);
}

std::uint32_t LoopbackAddressOf(const AdapterAddress &adapter_address) {
    return 0x7F000000u | adapter_address[5];
}

}  // namespace cli
