// SPDX-License-Identifier: MIT
// NCBASTAT: our own status, and a remote node's by name, by dotted address
// or by adapter address.
#include <algorithm>
#include <map>
#include <string>

#include "name_neighbours.h"
#include "name_service.h"
#include "name_status_records.h"
#include "node.h"

namespace nbt {

namespace {

constexpr WORD kMaxDatagramSize = 576;
constexpr WORD kMaxSessionPacket = 65535;
constexpr WORD kMaxSupported = 254;
// Adapter-address lookups ask at most this many broadcast responders one by one.
constexpr std::size_t kMaxProbedResponders = 32;

// "10.1.2.3" written into the name field, padded with spaces or NULs.
std::optional<asio::ip::address_v4> DottedAddress(const NetbiosName &name) {
    std::string text(name.begin(), name.end());
    auto end = text.find_last_not_of(std::string(" \0", 2));
    if (end == std::string::npos) return std::nullopt;
    text.resize(end + 1);
    if (text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    if (std::count(text.begin(), text.end(), '.') != 3) return std::nullopt;
    asio::error_code ec;
    auto address = asio::ip::make_address_v4(text, ec);
    if (ec) return std::nullopt;
    return address;
}

MacAddress LoopbackMac(std::uint8_t host) {
    return {0x02, 0x00, 0x7F, 0x00, 0x00, host};
}

}  // namespace

// The counters are the ones this node really keeps: frames are name-service
// datagrams and session messages, frmr_recv counts datagrams that did not
// decode, xmit_aborts sends the kernel refused, t1_timeouts name-service
// requests nobody answered, recv_buff_unavail requests and connections
// turned away by the flood limits, xmit_buf_unavail datagrams dropped with
// the send queue full, duration the minutes since the reset.
ADAPTER_STATUS NameService::LocalCounters() const {
    ADAPTER_STATUS a{};
    const auto &mac = node_->adapter_address();
    std::copy(mac.begin(), mac.end(), a.adapter_address);
    a.rev_major = 3;
    a.rev_minor = 0;
    a.adapter_type = 0xFE;
    const auto &counters = node_->counters();
    auto minutes = std::chrono::duration_cast<std::chrono::minutes>(std::chrono::steady_clock::now() -
                                                                    counters.reset_time)
                       .count();
    a.duration = static_cast<WORD>(std::clamp<long long>(minutes, 0, 0xFFFF));
    a.frmr_recv = malformed_;
    a.xmit_aborts = counters.xmit_aborts;
    a.xmit_success = counters.xmit_success;
    a.recv_success = counters.recv_success;
    a.iframe_xmit_err = counters.iframe_xmit_err;
    a.recv_buff_unavail = counters.recv_buff_unavail;
    a.t1_timeouts = static_cast<WORD>(std::min<std::uint32_t>(exchanges_.expired_count(), 0xFFFF));
    const auto &limits = node_->limits();
    a.max_cfg_ncbs = limits.ncbs;
    a.max_ncbs = kMaxSupported;
    a.free_ncbs = static_cast<WORD>(limits.ncbs - std::min<std::size_t>(node_->pending_count(), limits.ncbs));
    a.xmit_buf_unavail = counters.xmit_buf_unavail;
    a.max_dgram_size = kMaxDatagramSize;
    if (!shut_down_) a.pending_sess = static_cast<WORD>(links_.sessions->SessionCount());
    a.max_cfg_sess = limits.sessions;
    a.max_sess = kMaxSupported;
    a.max_sess_pkt_size = kMaxSessionPacket;
    a.name_count = static_cast<WORD>(table_.entries().size());
    return a;
}

AdapterStatusReply NameService::LocalStatus() const {
    AdapterStatusReply reply;
    reply.status = LocalCounters();
    reply.names.reserve(table_.entries().size());
    for (const auto &entry : table_.entries()) {
        NAME_BUFFER buffer{};
        std::copy(entry.name.begin(), entry.name.end(), buffer.name);
        buffer.name_num = entry.number;
        buffer.name_flags = entry.flags();
        reply.names.push_back(buffer);
    }
    return reply;
}

// Every listed entry is active: names still registering are left out.
codec::NodeStatus NameService::LocalNodeStatus() const {
    codec::NodeStatus status;
    status.statistics = StatisticsFromAdapterStatus(LocalCounters());
    status.names.reserve(table_.entries().size());
    // ONT says our node type, as in our NB_FLAGS.
    const auto ont = static_cast<std::uint16_t>(requests_.Own(false).flags & codec::kStatusOntMask);
    for (const auto &entry : table_.entries()) {
        if (entry.state == REGISTERING) continue;
        status.names.push_back(
            {entry.name, static_cast<std::uint16_t>(NameFlagsToWireFlags(entry.flags()) | ont)});
    }
    return status;
}

void NameService::FinishStatus(NCB *ncb, const AdapterStatusReply &reply) {
    if (!node_->IsPending(ncb)) return;
    WORD written = 0;
    UCHAR rc = WriteAdapterStatus(reply, ncb->ncb_buffer, ncb->ncb_length, &written);
    ncb->ncb_length = written;
    node_->Complete(ncb, rc);
}

void NameService::FinishRemoteStatus(NCB *ncb, const std::optional<codec::NodeStatus> &status) {
    if (!status) {
        if (node_->IsPending(ncb)) node_->Complete(ncb, NRC_CMDTMO);
        return;
    }
    AdapterStatusReply reply;
    reply.status = AdapterStatusFromStatistics(status->statistics, status->names.size());
    for (const auto &entry : status->names) {
        NAME_BUFFER buffer{};
        std::copy(entry.name.begin(), entry.name.end(), buffer.name);
        buffer.name_num = 0;  // NBT carries no name numbers
        buffer.name_flags = WireFlagsToNameFlags(entry.flags);
        reply.names.push_back(buffer);
    }
    FinishStatus(ncb, reply);
}

void NameService::AdapterStatus(NCB *ncb) {
    if (ncb->ncb_buffer == nullptr || ncb->ncb_length < sizeof(ADAPTER_STATUS))
        return void(node_->Complete(ncb, NRC_BUFLEN));
    const NetbiosName callname = NameFromField(ncb->ncb_callname);
    if (callname[0] == '*') return FinishStatus(ncb, LocalStatus());
    const bool by_address = callname[0] == 0;
    if (const NameEntry *entry = by_address ? nullptr : table_.Find(callname);
        entry && entry->state != REGISTERING)
        return FinishStatus(ncb, LocalStatus());
    // The answers come to the name socket: a synchronous caller reads them
    // itself. Set up before the request goes out, so that nothing is left
    // to do between sending it and waiting.
    node_->LetCallerReadNameSocket(ncb);
    if (by_address) {
        MacAddress mac;
        std::copy(callname.begin() + 10, callname.end(), mac.begin());
        return StatusByAddress(ncb, mac);
    }
    auto self = shared_from_this();
    auto finish = [self, ncb](std::optional<codec::NodeStatus> status) {
        self->FinishRemoteStatus(ncb, status);
    };
    if (auto address = DottedAddress(callname)) {
        QueryStatus(*address, finish);
    } else {
        Resolve(callname, [self, ncb, finish](std::optional<asio::ip::address_v4> address) {
            if (!address) return self->FinishRemoteStatus(ncb, std::nullopt);
            if (!self->node_->IsPending(ncb)) return;
            self->QueryStatus(*address, finish);
        });
    }
}

void NameService::QueryStatus(asio::ip::address_v4 peer, StatusHandler handler) {
    if (shut_down_) return;
    if (peer == node_->address()) {
        // Ourselves: answer without the round trip over our own socket.
        asio::post(node_->io(), [handler, status = LocalNodeStatus()] { handler(status); });
        return;
    }
    auto on_reply = [handler](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNbstat) return false;
        auto status = codec::DecodeNodeStatusRdata(answer.rdata);
        if (!status) return false;
        handler(std::move(status));
        return true;
    };
    const std::uint16_t id = exchanges_.NewId();
    exchanges_.Start(id, requests_.Status(id, peer), on_reply, [handler] { handler(std::nullopt); });
}

void NameService::StatusByAddress(NCB *ncb, const MacAddress &mac) {
    if (mac == node_->adapter_address()) return FinishStatus(ncb, LocalStatus());
    auto self = shared_from_this();
    std::optional<asio::ip::address_v4> neighbour;
    if (node_->is_loopback()) {
        // The loopback adapter's addresses map straight onto 127.0.0.N.
        if (mac == LoopbackMac(mac[5]) && mac[5] != 0 && mac[5] != 0xFF)
            neighbour = asio::ip::address_v4(0x7F000000u | mac[5]);
    } else {
        neighbour = LookupNeighbour(mac, {});
    }
    if (!neighbour) return StatusByBroadcast(ncb, mac);
    QueryStatus(*neighbour, [self, ncb, mac](std::optional<codec::NodeStatus> status) {
        if (status || self->node_->is_loopback()) return self->FinishRemoteStatus(ncb, status);
        if (self->node_->IsPending(ncb)) self->StatusByBroadcast(ncb, mac);
    });
}

// Asks everyone; a responder that reports this adapter address in its
// UNIT_ID wins. Peers that report zeros there (Samba) are asked once more by
// unicast, which makes the kernel learn their hardware address, and the
// neighbour table is read again.
void NameService::StatusByBroadcast(NCB *ncb, const MacAddress &mac) {
    struct Search {
        std::map<std::uint32_t, codec::NodeStatus> responders;
        std::size_t outstanding = 0;
        bool done = false;
    };
    auto search = std::make_shared<Search>();
    auto self = shared_from_this();
    const bool real_mac = mac != MacAddress{};

    auto on_reply = [self, ncb, search, mac, real_mac](const codec::NamePacket &reply,
                                                       const asio::ip::udp::endpoint &from) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        if (reply.answers[0].type != codec::kTypeNbstat) return false;
        auto status = codec::DecodeNodeStatusRdata(reply.answers[0].rdata);
        if (!status) return false;
        if (real_mac && status->statistics.unit_id == mac) {
            search->done = true;
            self->FinishRemoteStatus(ncb, status);
            return true;
        }
        // Responders are asked again at their source address: only at a real one.
        const auto source = from.address().to_v4();
        if (search->responders.size() < kMaxProbedResponders && self->node_->IsPeerAddress(source))
            search->responders.emplace(source.to_uint(), std::move(*status));
        return false;
    };
    auto on_expiry = [self, ncb, search, mac, real_mac] {
        if (search->done) return;
        if (!real_mac || search->responders.empty()) return self->FinishRemoteStatus(ncb, std::nullopt);
        auto check = [self, ncb, search, mac] {
            if (search->done || search->outstanding > 0) return;
            search->done = true;
            auto address = LookupNeighbour(mac, {});
            if (address) {
                auto it = search->responders.find(address->to_uint());
                if (it != search->responders.end()) return self->FinishRemoteStatus(ncb, it->second);
            }
            self->FinishRemoteStatus(ncb, std::nullopt);
        };
        search->outstanding = search->responders.size();
        for (const auto &[ip, status] : search->responders) {
            self->QueryStatus(asio::ip::address_v4(ip), [search, check](std::optional<codec::NodeStatus>) {
                --search->outstanding;
                check();
            });
        }
    };
    const std::uint16_t id = exchanges_.NewId();
    exchanges_.Start(id, requests_.StatusOfAll(id), on_reply, on_expiry);
}

}  // namespace nbt
