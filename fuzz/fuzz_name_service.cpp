// SPDX-License-Identifier: MIT
// The name service of a live node fed a sequence of datagrams. The node holds
// a registered unique name, a unique name in conflict, a name still
// registering by broadcast and one still registering with its name server
// (the neighbour: the node is an H-node once its first names are in), and
// has a LISTEN and a remote NCBASTAT pending; every input starts from that
// state (what an input changed is put back after it).
//
// Input: records of [source][id][length, 2 bytes big-endian][datagram].
//   source, bits 0-1: the neighbour 127.0.0.250 the pending NCBASTAT asks,
//     127.0.0.251, the node's own address, the loopback broadcast address;
//     bit 7: a port other than the name port. Every source is on loopback,
//     so whatever the node answers stays on this machine.
//   id 1, 2 or 3: the datagram's transaction id becomes that of the pending
//     broadcast registration, status request or registration with the
//     name server, so replies (and WACKs, from the neighbour) can meet them.
// Every datagram the node sends must decode again.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "live_node.h"
#include "loopback_settings.h"
#include "name_packet.h"
#include "ncb_helpers.h"

namespace {

using namespace nbt;
using fuzzing::LiveNode;
using fuzzing::TrackedNcb;

constexpr auto kNever = std::chrono::hours(24);  // no timer of the loop runs out
const auto kUnique = testing::Padded("FUZZUNIQUE");
const auto kConflict = testing::Padded("FUZZCONFLICT");
const auto kAdding = testing::Padded("FUZZADDING");
const auto kAddingAtServer = testing::Padded("FUZZSERVER");
const asio::ip::address_v4 kNeighbour(0x7F0000FAu);  // 127.0.0.250
const asio::ip::address_v4 kStranger(0x7F0000FBu);   // 127.0.0.251
const asio::ip::address_v4 kBroadcast(0x7FFFFFFFu);
// Room for the status record and four names: a longer answer is cut short.
constexpr std::size_t kStatusBuffer = sizeof(ADAPTER_STATUS) + 4 * sizeof(NAME_BUFFER);

[[noreturn]] void Fail(const char *what) {
    std::fprintf(stderr, "fuzz_name_service: %s\n", what);
    std::abort();
}

// Broadcast requests sent once, 1 ms apart, until the names are registered.
Settings InitialSettings() {
    Settings settings = testing::LoopbackSettings();
    settings.bcast_retry_count = 1;
    settings.bcast_retry_timeout = std::chrono::milliseconds(1);
    settings.ucast_retry_count = 1;
    settings.ucast_retry_timeout = kNever;
    return settings;
}

// A UDP socket the node's answers reach: bound, non-blocking, read dry.
struct Ear {
    int fd = -1;
    std::uint16_t port = 0;

    Ear(asio::ip::address_v4 address, std::uint16_t wanted_port, bool shared) {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        int one = 1;
        if (shared) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(wanted_port);
        sa.sin_addr.s_addr = htonl(address.to_uint());
        socklen_t length = sizeof sa;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &length) != 0)
            Fail("cannot bind a listening socket on loopback");
        port = ntohs(sa.sin_port);
    }

    template <typename Fn>
    void Drain(Fn &&on_packet) {
        static std::vector<std::uint8_t> buffer(65536);
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0) return;
            const auto packet = codec::DecodeNamePacket({buffer.data(), static_cast<std::size_t>(n)});
            if (!packet) Fail("the node sent a datagram that does not decode");
            on_packet(*packet);
        }
    }
};

class Harness {
public:
    Harness()
        : node_(InitialSettings(), 4, 16, 8),
          name_port_(node_.settings().loopback_name_port),
          neighbour_(kNeighbour, name_port_, false),
          other_port_(kNeighbour, 0, false),
          sniffer_(kBroadcast, name_port_, true) {
        if (node_.AddName(std::string(kUnique.begin(), kUnique.end() - 1)) != NRC_GOODRET ||
            node_.AddName(std::string(kConflict.begin(), kConflict.end() - 1)) != NRC_GOODRET)
            Fail("cannot add the names");
        // Someone claims the second name too.
        const auto demand = codec::BuildRegistrationRefusal(1, codec::MakeName(kConflict),
                                                            {0, node_.node().address().to_uint()},
                                                            codec::NameRcode::kConflict);
        node_.node().OnDatagram(demand, {kStranger, name_port_});
        if (NameState(kConflict) != DUPLICATE) Fail("the conflict demand was not taken");
        UseTimers(kNever);
        Restore();
    }

    void Run(const std::uint8_t *data, std::size_t size) {
        struct Record {
            std::vector<std::uint8_t> bytes;
            asio::ip::udp::endpoint from;
        };
        std::vector<Record> records;
        while (size >= 4 && records.size() < 64) {
            const std::uint8_t source = data[0], id = data[1];
            const std::size_t length = std::min<std::size_t>(size - 4, data[2] << 8 | data[3]);
            Record record{{data + 4, data + 4 + length}, {Source(source), Port(source)}};
            const std::uint16_t trn_id = id == 1   ? registration_id_
                                         : id == 2 ? status_id_
                                         : id == 3 ? server_registration_id_
                                                   : 0;
            if (trn_id != 0 && record.bytes.size() >= 2) {
                record.bytes[0] = static_cast<std::uint8_t>(trn_id >> 8);
                record.bytes[1] = static_cast<std::uint8_t>(trn_id);
            }
            records.push_back(std::move(record));
            data += 4 + length;
            size -= 4 + length;
        }
        for (const auto &record : records) node_.node().OnDatagram(record.bytes, record.from);
        Listen();
        Restore();
    }

private:
    static UCHAR State(UCHAR flags) { return flags & 0x07; }

    asio::ip::address_v4 Source(std::uint8_t selector) const {
        switch (selector & 3) {
            case 0:
                return kNeighbour;
            case 1:
                return kStranger;
            case 2:
                return node_.node().address();
            default:
                return kBroadcast;
        }
    }
    std::uint16_t Port(std::uint8_t selector) const {
        return selector & 0x80 ? other_port_.port : name_port_;
    }

    // The name service takes its timers from the node's settings as each
    // request starts: short ones to get a name registered, then none that
    // runs out while the fuzzer works. The node's copy of the settings is
    // its own (not const), changed here on the network thread.
    void UseTimers(std::chrono::milliseconds broadcast) {
        auto &settings = const_cast<Settings &>(node_.node().settings());
        settings.bcast_retry_timeout = broadcast;
        settings.ns_retry_timeout = kNever;
        settings.ns_retry_count = 1;
        settings.name_server = {kNeighbour.to_uint(), 0};
    }
    // The node type is read as each add starts: the broadcast add and the
    // re-added names go in as a B-node, the rest as an H-node.
    void UseNodeType(NodeType type) {
        const_cast<Settings &>(node_.node().settings()).node_type = type;
    }

    // The state of a name in the node's own status (0 when it is not there).
    UCHAR NameState(const std::array<UCHAR, 16> &name) {
        std::vector<UCHAR> buffer(sizeof(ADAPTER_STATUS) + 16 * sizeof(NAME_BUFFER));
        TrackedNcb status;
        LiveNode::Prepare(status, NCBASTAT);
        status.ncb.ncb_callname[0] = '*';
        status.ncb.ncb_buffer = buffer.data();
        status.ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (node_.Run(status) != NRC_GOODRET) Fail("local NCBASTAT failed");
        ADAPTER_STATUS adapter;
        std::memcpy(&adapter, buffer.data(), sizeof adapter);
        for (WORD i = 0; i < adapter.name_count; ++i) {
            NAME_BUFFER entry;
            std::memcpy(&entry, buffer.data() + sizeof adapter + i * sizeof entry, sizeof entry);
            if (std::memcmp(entry.name, name.data(), 16) == 0) return State(entry.name_flags);
        }
        return 0;
    }

    // Reads what the node sent and notes the ids of the pending requests.
    void Listen() {
        sniffer_.Drain([&](const codec::NamePacket &packet) {
            if (!packet.header.IsResponse() && packet.header.Opcode() == codec::NameOpcode::kRegistration &&
                packet.questions.size() == 1 && packet.questions[0].name.raw == kAdding)
                registration_id_ = packet.header.trn_id;
        });
        neighbour_.Drain([&](const codec::NamePacket &packet) {
            if (packet.header.IsResponse() || packet.questions.size() != 1) return;
            if (packet.questions[0].type == codec::kTypeNbstat) status_id_ = packet.header.trn_id;
            if (packet.header.Opcode() == codec::NameOpcode::kRegistration &&
                packet.questions[0].name.raw == kAddingAtServer)
                server_registration_id_ = packet.header.trn_id;
        });
        other_port_.Drain([](const codec::NamePacket &) {});
    }

    // Puts back the names and the pending commands an input changed.
    void Restore() {
        UseNodeType(NodeType::kB);
        if (NameState(kUnique) != REGISTERED) {
            node_.DeleteName(std::string(kUnique.begin(), kUnique.end() - 1));  // ends the LISTEN
            LiveNode::Wait(listen_);
            UseTimers(std::chrono::milliseconds(1));
            if (node_.AddName(std::string(kUnique.begin(), kUnique.end() - 1)) != NRC_GOODRET)
                Fail("cannot add the unique name again");
            UseTimers(kNever);
        }
        bool started = false;
        if (!listen_.busy) {
            LiveNode::Prepare(listen_, NCBLISTEN);
            std::memcpy(listen_.ncb.ncb_name, kUnique.data(), 16);
            listen_.ncb.ncb_callname[0] = '*';
            if (!node_.Submit(listen_)) Fail("LISTEN refused");
        }
        if (!adding_.busy) {
            LiveNode::Prepare(adding_, NCBADDNAME);
            std::memcpy(adding_.ncb.ncb_name, kAdding.data(), 16);
            if (!node_.Submit(adding_)) Fail("NCBADDNAME refused");
            started = true;
        }
        UseNodeType(NodeType::kH);
        if (!adding_at_server_.busy) {
            // A grant left it registered: it goes, and is asked for again.
            if (NameState(kAddingAtServer) != 0)
                node_.DeleteName(std::string(kAddingAtServer.begin(), kAddingAtServer.end() - 1));
            LiveNode::Prepare(adding_at_server_, NCBADDNAME);
            std::memcpy(adding_at_server_.ncb.ncb_name, kAddingAtServer.data(), 16);
            if (!node_.Submit(adding_at_server_)) Fail("NCBADDNAME refused");
            started = true;
        }
        if (!status_.busy) {
            LiveNode::Prepare(status_, NCBASTAT);
            testing::SetName(status_.ncb.ncb_callname, kNeighbour.to_string(), ' ');
            status_.ncb.ncb_buffer = status_buffer_.data();
            status_.ncb.ncb_length = static_cast<WORD>(status_buffer_.size());
            if (!node_.Submit(status_)) Fail("NCBASTAT refused");
            started = true;
        }
        if (started) {
            LiveNode::Settle();
            Listen();
        }
    }

    LiveNode node_;
    std::uint16_t name_port_ = 0;
    Ear neighbour_, other_port_, sniffer_;
    TrackedNcb listen_, adding_, adding_at_server_, status_;
    std::vector<UCHAR> status_buffer_ = std::vector<UCHAR>(kStatusBuffer);
    std::uint16_t registration_id_ = 0, status_id_ = 0, server_registration_id_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    LiveNode::OnNetworkThread([&] {
        static Harness harness;
        harness.Run(data, size);
    });
    return 0;
}
