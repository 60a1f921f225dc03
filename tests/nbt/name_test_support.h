// Loopback nodes and a raw UDP peer for the name-service tests. Every node
// is a Provider of its own on LANA 0 (127.0.0.N), on ports of these tests'
// own so other suites running at the same time do not hear them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "name_packet.h"
#include "nb30.h"
#include "provider.h"

namespace name_test {

// ctest runs test cases as parallel processes: each gets its own name port
// (and the session port two above it), so their broadcasts never meet.
inline std::uint16_t ProcessPort(std::uint16_t base) {
    return static_cast<std::uint16_t>(base + (::getpid() % 1000) * 4);
}

inline nbt::Settings LoopbackSettings(std::uint16_t port) {
    nbt::Settings settings;
    settings.host_interfaces = false;
    settings.loopback_name_port = port;
    settings.loopback_session_port = static_cast<std::uint16_t>(port + 2);
    settings.loopback_first = 1;
    settings.loopback_last = 100;  // 127.0.0.200 and up are for raw peers
    settings.bcast_retry_timeout = std::chrono::milliseconds(60);
    settings.ucast_retry_timeout = std::chrono::milliseconds(120);
    return settings;
}

inline std::array<UCHAR, 16> Padded(const std::string &text, UCHAR fill = ' ') {
    std::array<UCHAR, 16> name;
    name.fill(fill);
    std::memcpy(name.data(), text.data(), std::min<std::size_t>(text.size(), 16));
    return name;
}

class TestNode {
public:
    explicit TestNode(std::uint16_t port) : provider_(LoopbackSettings(port)) {}

    UCHAR Reset(UCHAR names = 0) {
        NCB ncb{};
        ncb.ncb_command = NCBRESET;
        ncb.ncb_callname[2] = names;
        return provider_.Netbios(&ncb);
    }
    UCHAR Add(const std::array<UCHAR, 16> &name, UCHAR *num = nullptr) {
        NCB ncb{};
        ncb.ncb_command = NCBADDNAME;
        std::memcpy(ncb.ncb_name, name.data(), 16);
        UCHAR rc = provider_.Netbios(&ncb);
        if (num) *num = ncb.ncb_num;
        return rc;
    }
    UCHAR Add(const std::string &name, UCHAR *num = nullptr) { return Add(Padded(name), num); }
    UCHAR Delete(const std::string &name) {
        NCB ncb{};
        ncb.ncb_command = NCBDELNAME;
        auto padded = Padded(name);
        std::memcpy(ncb.ncb_name, padded.data(), 16);
        return provider_.Netbios(&ncb);
    }
    UCHAR Status(const std::array<UCHAR, 16> &callname, std::vector<UCHAR> &buffer, WORD length = 4000,
                 WORD *returned = nullptr) {
        buffer.assign(std::max<std::size_t>(length, 1), 0xEE);
        NCB ncb{};
        ncb.ncb_command = NCBASTAT;
        std::memcpy(ncb.ncb_callname, callname.data(), 16);
        ncb.ncb_buffer = buffer.data();
        ncb.ncb_length = length;
        UCHAR rc = provider_.Netbios(&ncb);
        if (returned) *returned = ncb.ncb_length;
        return rc;
    }
    UCHAR Status(const std::string &callname, std::vector<UCHAR> &buffer) {
        return Status(Padded(callname), buffer);
    }

    asio::ip::address_v4 address() const { return *provider_.LanaAddress(0); }
    std::array<UCHAR, 16> AddressName() const { return Padded(address().to_string()); }
    std::array<UCHAR, 16> AdapterName() const {
        std::array<UCHAR, 16> name{};
        const UCHAR mac[6] = {0x02, 0x00, 0x7F, 0x00, 0x00, static_cast<UCHAR>(address().to_uint() & 0xFF)};
        std::memcpy(name.data() + 10, mac, 6);
        return name;
    }
    nbt::Provider &provider() { return provider_; }

private:
    nbt::Provider provider_;
};

// The status record and name records of an NCBASTAT reply.
struct StatusView {
    ADAPTER_STATUS status;
    std::vector<NAME_BUFFER> names;
};
inline StatusView ViewStatus(const std::vector<UCHAR> &buffer) {
    StatusView view;
    std::memcpy(&view.status, buffer.data(), sizeof view.status);
    for (WORD i = 0; i < view.status.name_count; ++i) {
        NAME_BUFFER name;
        std::memcpy(&name, buffer.data() + sizeof(ADAPTER_STATUS) + i * sizeof(NAME_BUFFER), sizeof name);
        view.names.push_back(name);
    }
    return view;
}
inline const NAME_BUFFER *FindName(const StatusView &view, const std::array<UCHAR, 16> &name) {
    for (const auto &n : view.names)
        if (std::memcmp(n.name, name.data(), 16) == 0) return &n;
    return nullptr;
}

// A bare UDP socket standing in for a peer that says exactly what a test
// wants, well-formed or not.
class RawPeer {
public:
    RawPeer(const std::string &address, std::uint16_t port, bool reuse = true) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        if (reuse) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in sa = Address(address, port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~RawPeer() { ::close(fd_); }
    bool bound() const { return bound_; }

    void SendTo(const std::vector<std::uint8_t> &bytes, const std::string &address, std::uint16_t port) {
        sockaddr_in sa = Address(address, port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    }
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::string from;
        std::uint16_t port = 0;
    };
    std::optional<Datagram> Receive(std::chrono::milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
        Datagram d;
        d.bytes.resize(65536);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ssize_t n =
            ::recvfrom(fd_, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr *>(&sa), &len);
        if (n < 0) return std::nullopt;
        d.bytes.resize(static_cast<std::size_t>(n));
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
        d.from = text;
        d.port = ntohs(sa.sin_port);
        return d;
    }
    // Next datagram that decodes and passes `want`, within `wait`.
    template <class Pred>
    std::optional<nbt::codec::NamePacket> ReceiveMatching(std::chrono::milliseconds wait, Pred want,
                                                          Datagram *raw = nullptr) {
        auto end = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < end) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            auto d = Receive(left);
            if (!d) break;
            auto packet = nbt::codec::DecodeNamePacket(d->bytes);
            if (packet && want(*packet)) {
                if (raw) *raw = *d;
                return packet;
            }
        }
        return std::nullopt;
    }
    void Drain() {
        while (Receive(std::chrono::milliseconds(0))) {
        }
    }

private:
    static sockaddr_in Address(const std::string &address, std::uint16_t port) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        return sa;
    }
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace name_test
