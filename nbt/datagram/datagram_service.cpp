// SPDX-License-Identifier: MIT
#include "datagram_service.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "node.h"

namespace nbt {
namespace {

constexpr UCHAR kAnyName = 0xFF;

// The destination of a broadcast datagram: '*' and fifteen NULs.
NetbiosName BroadcastName() {
    NetbiosName name{};
    name[0] = '*';
    return name;
}

std::uint16_t RandomId() {
    std::random_device device;
    return static_cast<std::uint16_t>(device());
}

}  // namespace

DatagramService::DatagramService(std::shared_ptr<Node> node, const ServiceLinks &links)
    : node_(std::move(node)), links_(links), next_id_(RandomId()), expiry_(node_->io()) {}

void DatagramService::Submit(NCB *ncb) {
    static constexpr HandlerRow<Handler> kRows[] = {
        {NCBDGSEND, &DatagramService::Send},
        {NCBDGSENDBC, &DatagramService::SendBroadcast},
        {NCBDGRECV, &DatagramService::Receive},
        {NCBDGRECVBC, &DatagramService::ReceiveBroadcast},
    };
    static constexpr auto kHandlers = HandlersFor(Service::kDatagram, kRows);
    (this->*kHandlers[CommandCode(ncb->ncb_command)])(ncb);
}

void DatagramService::Shutdown() {
    open_ = false;
    expiry_.cancel();
    receives_.clear();
    broadcast_receives_.clear();
}

// ---- sending ----------------------------------------------------------------

std::optional<NetbiosName> DatagramService::SendingName(NCB *ncb) {
    const auto name = links_.names->NameOf(ncb->ncb_num, node_->ClientOf(ncb));
    const auto held = name ? links_.names->Find(*name) : std::nullopt;
    if (!held || (held->flags & ~GROUP_NAME) == REGISTERING) {
        node_->Complete(ncb, NRC_ILLNN);
        return std::nullopt;
    }
    return name;
}

std::optional<std::vector<std::uint8_t>> DatagramService::UserData(NCB *ncb) {
    if (ncb->ncb_length > kMaxNcbDatagram || (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0)) {
        node_->Complete(ncb, NRC_BUFLEN);
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(ncb->ncb_buffer, ncb->ncb_buffer + ncb->ncb_length);
}

void DatagramService::Send(NCB *ncb) {
    auto data = UserData(ncb);
    if (!data) return;
    const NetbiosName destination = NameFromField(ncb->ncb_callname);
    if (IsWildcardOrEmpty(destination)) return void(node_->Complete(ncb, NRC_NOWILD));
    auto source = SendingName(ncb);
    if (!source) return;
    // Datagrams are unreliable: a name nobody answers for gets nothing sent,
    // and the send still succeeds.
    links_.names->Lookup(destination, [self = shared_from_this(), ncb, source = *source, destination,
                                       data = std::move(*data)](std::optional<HeldNames::Resolved> found) {
        if (!self->open_ || !self->node_->IsPending(ncb)) return;
        if (found) {
            // A group is reached with a broadcast its members pick out by name.
            const auto to = found->group
                                ? self->node_->datagram_broadcast_endpoint()
                                : asio::ip::udp::endpoint(found->address, self->node_->datagram_port());
            self->Transmit(
                found->group ? codec::DatagramType::kDirectGroup : codec::DatagramType::kDirectUnique, source,
                destination, data, to);
        }
        self->node_->Complete(ncb, NRC_GOODRET);
    });
}

void DatagramService::SendBroadcast(NCB *ncb) {
    auto data = UserData(ncb);
    if (!data) return;
    auto source = SendingName(ncb);
    if (!source) return;
    Transmit(codec::DatagramType::kBroadcast, *source, BroadcastName(), *data,
             node_->datagram_broadcast_endpoint());
    node_->Complete(ncb, NRC_GOODRET);
}

void DatagramService::Transmit(codec::DatagramType type, const NetbiosName &source,
                               const NetbiosName &destination, std::span<const std::uint8_t> data,
                               const asio::ip::udp::endpoint &to) {
    const std::string &scope = node_->settings().scope;
    const codec::NetbiosName wire_source = codec::MakeName(source, scope);
    const codec::NetbiosName wire_destination = codec::MakeName(destination, scope);
    codec::DatagramHeader header;
    header.type = type;
    header.id = next_id_++;
    header.source_ip = node_->address().to_uint();
    header.source_port = node_->datagram_port();
    // What does not fit one packet of kMaxDatagramPacket goes in pieces.
    const std::size_t overhead = codec::kDatagramDataHeaderSize + codec::EncodedNameSize(wire_source) +
                                 codec::EncodedNameSize(wire_destination);
    const std::size_t room =
        codec::kMaxDatagramPacket > overhead + 1 ? codec::kMaxDatagramPacket - overhead : 1;
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min(room, data.size() - offset);
        header.flags =
            static_cast<std::uint8_t>(SourceNodeType() | (offset == 0 ? codec::kDatagramFirst : 0) |
                                      (offset + piece < data.size() ? codec::kDatagramMore : 0));
        const auto packet = codec::BuildDatagram(header, static_cast<std::uint16_t>(offset), wire_source,
                                                 wire_destination, data.subspan(offset, piece));
        if (packet.empty()) return;
        node_->SendDatagramPacket(packet, to);
        offset += piece;
    } while (offset < data.size());
}

std::uint8_t DatagramService::SourceNodeType() const {
    return static_cast<std::uint8_t>(static_cast<unsigned>(node_->settings().NodeTypeInUse())
                                     << codec::kDatagramSntShift);
}

// ---- receiving --------------------------------------------------------------

void DatagramService::Receive(NCB *ncb) {
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0) return void(node_->Complete(ncb, NRC_BUFLEN));
    if (ncb->ncb_num != kAnyName && !links_.names->NameOf(ncb->ncb_num, node_->ClientOf(ncb)))
        return void(node_->Complete(ncb, NRC_ILLNN));
    receives_.push_back(ncb);
}

void DatagramService::ReceiveBroadcast(NCB *ncb) {
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0) return void(node_->Complete(ncb, NRC_BUFLEN));
    if (!links_.names->NameOf(ncb->ncb_num, node_->ClientOf(ncb)))
        return void(node_->Complete(ncb, NRC_ILLNN));
    broadcast_receives_.push_back(ncb);
}

std::size_t DatagramService::PendingDatagramReceives(UCHAR number, ClientId client) const {
    return static_cast<std::size_t>(std::count_if(receives_.begin(), receives_.end(), [&](const NCB *ncb) {
        return node_->IsPending(ncb) && MayUse(client, node_->ClientOf(ncb)) &&
               (number == kAnyName || ncb->ncb_num == number || ncb->ncb_num == kAnyName);
    }));
}

bool DatagramService::OurScope(const codec::NetbiosName &name) const {
    return name.scope == node_->settings().scope;
}

void DatagramService::OnPacket(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &from,
                               bool unicast) {
    if (!open_ || !from.address().is_v4()) return;
    const auto decoded = codec::DecodeDatagram(bytes);
    const auto &packet = decoded.packet;
    // Only a datagram sent to us alone, and meant for one name, earns an
    // error: never a broadcast, so a segment cannot be made to answer at once.
    const bool may_answer = unicast && packet.header.type == codec::DatagramType::kDirectUnique;
    switch (decoded.fault) {
        case codec::DatagramFault::kOk:
            break;
        case codec::DatagramFault::kBadSourceName:
            if (may_answer) SendError(packet.header, codec::DatagramError::kInvalidSourceName, from);
            [[fallthrough]];
        case codec::DatagramFault::kBadDestinationName:
            if (may_answer && decoded.fault == codec::DatagramFault::kBadDestinationName)
                SendError(packet.header, codec::DatagramError::kInvalidDestinationName, from);
            [[fallthrough]];
        case codec::DatagramFault::kTruncated:
        case codec::DatagramFault::kBadLength:
        case codec::DatagramFault::kUnknownType:
            if (malformed_ < 0xFFFF) ++malformed_;
            return;
        case codec::DatagramFault::kNotForUs:
            return;
    }
    if (!packet.IsData()) return;  // a DATAGRAM ERROR: nothing to retry, a datagram is unreliable

    if (packet.header.type != codec::DatagramType::kBroadcast) {
        const auto held =
            OurScope(packet.destination) ? links_.names->Find(packet.destination.raw) : std::nullopt;
        if (!held || (held->flags & ~GROUP_NAME) == REGISTERING) {
            if (may_answer && packet.header.first())
                SendError(packet.header, codec::DatagramError::kNameNotPresent, from);
            return;
        }
    } else if (!OurScope(packet.destination)) {
        return;
    }
    // Keyed by the address the piece came from too: a header is what the
    // sender says, and one host must not fill or spoil another's datagrams.
    const DatagramSender sender{from.address().to_v4().to_uint(), from.port()};
    auto whole = reassembly_.Add(packet, sender, std::chrono::steady_clock::now());
    if (reassembly_.partial_count() > 0) ArmExpiry();
    if (whole) Deliver(*whole);
}

void DatagramService::Deliver(const WholeDatagram &datagram) {
    ++node_->counters().recv_success;
    auto drop_finished = [this](std::deque<NCB *> &list) {
        std::erase_if(list, [this](NCB *ncb) { return !node_->IsPending(ncb); });
    };
    drop_finished(receives_);
    drop_finished(broadcast_receives_);

    if (datagram.type == codec::DatagramType::kBroadcast) {
        if (broadcast_receives_.empty()) ++node_->counters().recv_buff_unavail;
        auto waiting = std::move(broadcast_receives_);
        broadcast_receives_.clear();
        for (NCB *ncb : waiting) Hand(ncb, datagram);
        return;
    }
    const auto held = links_.names->Find(datagram.destination.raw);
    if (!held) return;
    auto pick = std::find_if(receives_.begin(), receives_.end(),
                             [&](NCB *ncb) { return ncb->ncb_num == held->number; });
    // Any name is any name of the receiving client's own.
    if (pick == receives_.end())
        pick = std::find_if(receives_.begin(), receives_.end(), [&](NCB *ncb) {
            return ncb->ncb_num == kAnyName && MayUse(node_->ClientOf(ncb), held->client);
        });
    if (pick == receives_.end()) {
        ++node_->counters().recv_buff_unavail;
        return;
    }
    NCB *ncb = *pick;
    receives_.erase(pick);
    Hand(ncb, datagram);
}

void DatagramService::Hand(NCB *ncb, const WholeDatagram &datagram) {
    if (!node_->IsPending(ncb)) return;
    // Datagrams are not continued: what does not fit is lost.
    const std::size_t copied = std::min<std::size_t>(datagram.data.size(), ncb->ncb_length);
    if (copied > 0) std::memcpy(ncb->ncb_buffer, datagram.data.data(), copied);
    ncb->ncb_length = static_cast<WORD>(copied);
    NameToField(datagram.source.raw, ncb->ncb_callname);
    node_->Complete(ncb, copied < datagram.data.size() ? NRC_INCOMP : NRC_GOODRET);
}

void DatagramService::SendError(const codec::DatagramHeader &header, codec::DatagramError error,
                                const asio::ip::udp::endpoint &to) {
    codec::DatagramHeader reply = header;
    reply.flags = static_cast<std::uint8_t>(SourceNodeType() | codec::kDatagramFirst);
    reply.source_ip = node_->address().to_uint();
    reply.source_port = node_->datagram_port();
    node_->SendDatagramPacket(codec::BuildDatagramError(reply, error), to);
}

void DatagramService::ArmExpiry() {
    if (expiry_armed_) return;
    const auto next = reassembly_.Expire(std::chrono::steady_clock::now());
    if (!next) return;
    expiry_armed_ = true;
    expiry_.expires_at(*next);
    expiry_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        self->expiry_armed_ = false;
        if (ec || !self->open_) return;
        self->ArmExpiry();
    });
}

}  // namespace nbt
