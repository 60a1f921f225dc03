#include "name_service.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "name_neighbours.h"
#include "node.h"
#include "session_service.h"

namespace nbt {

namespace {

constexpr WORD kMaxDatagramSize = 576;
constexpr WORD kMaxSessionPacket = 65535;
constexpr WORD kMaxSupported = 254;
// Adapter-address lookups ask at most this many broadcast responders one by one.
constexpr std::size_t kMaxProbedResponders = 32;

bool IsStarName(const codec::NetbiosName &name) {
    return name.raw[0] == '*';
}

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

NameService::NameService(std::shared_ptr<Node> node)
    : node_(std::move(node)),
      table_(node_->limits().names),
      exchanges_(node_->io(), [this](std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to) {
          Send(bytes, to);
      }) {}

void NameService::Send(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to) {
    if (!shut_down_ && !bytes.empty()) node_->SendDatagram(bytes, to);
}

codec::NetbiosName NameService::WireName(const NetbiosName &name) const {
    return codec::MakeName(name, node_->settings().scope);
}

std::uint32_t NameService::OwnAddress() const {
    return node_->address().to_uint();
}

NameEntry *NameService::Held(const codec::NetbiosName &name) {
    if (name.scope != node_->settings().scope) return nullptr;
    return table_.Find(name.raw);
}

// ---- commands -----------------------------------------------------------

void NameService::Submit(NCB *ncb) {
    switch (ncb->ncb_command & ~ASYNCH) {
        case NCBADDNAME:
        case NCBADDGRNAME:
            AddName(ncb);
            break;
        case NCBDELNAME:
            DeleteName(ncb);
            break;
        case NCBASTAT:
            AdapterStatus(ncb);
            break;
        default:
            node_->Complete(ncb, NRC_ILLCMD);
            break;
    }
}

void NameService::AddName(NCB *ncb) {
    const NetbiosName name = NameFromField(ncb->ncb_name);
    const bool group = (ncb->ncb_command & ~ASYNCH) == NCBADDGRNAME;
    if (IsWildcardOrEmpty(name)) return void(node_->Complete(ncb, NRC_NOWILD));
    if (table_.Find(name)) return void(node_->Complete(ncb, NRC_DUPNAME));
    if (!codec::IsValidScope(node_->settings().scope)) return void(node_->Complete(ncb, NRC_SYSTEM));
    NameEntry *entry = table_.Add(name, group);
    if (!entry) return void(node_->Complete(ncb, NRC_NAMTFUL));
    const UCHAR number = entry->number;

    const std::uint16_t id = exchanges_.NewId();
    NameExchanges::Request request;
    request.bytes = codec::BuildRegistrationRequest(id, WireName(name), group, OwnAddress());
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kRegistration;
    request.count = node_->settings().bcast_retry_count;
    request.interval = node_->settings().bcast_retry_timeout;

    auto self = shared_from_this();
    auto on_reply = [self, ncb, name, number](const codec::NamePacket &reply,
                                              const asio::ip::udp::endpoint &) {
        // Any negative answer (a defence, or a conflict) means someone holds it.
        if (reply.header.Rcode() == codec::NameRcode::kOk) return false;
        const NameEntry *held = self->table_.Find(name);
        if (held && held->number == number && held->state == REGISTERING) self->table_.Remove(name);
        self->node_->Complete(ncb, NRC_INUSE);
        return true;
    };
    auto on_expiry = [self, ncb, name, number] {
        NameEntry *held = self->table_.Find(name);
        if (!held || held->number != number || held->state != REGISTERING) return;
        held->state = REGISTERED;
        if (self->node_->IsPending(ncb)) {
            ncb->ncb_num = number;
            self->node_->Complete(ncb, NRC_GOODRET);
        }
    };
    entry->registration = id;
    entry->adding = ncb;
    exchanges_.Start(id, std::move(request), on_reply, on_expiry);
}

void NameService::DeleteName(NCB *ncb) {
    const NetbiosName name = NameFromField(ncb->ncb_name);
    NameEntry *entry = table_.Find(name);
    if (IsWildcardOrEmpty(name) || !entry) return void(node_->Complete(ncb, NRC_NOWILD));
    if (entry->state == REGISTERING) {
        // The add still in progress ends as "name was deleted"; whoever heard
        // its requests hears the release.
        exchanges_.Cancel(entry->registration);
        NCB *adding = entry->adding;
        DeleteNow(name);
        if (adding) node_->Complete(adding, NRC_NAMERR);
        return void(node_->Complete(ncb, NRC_GOODRET));
    }
    auto &sessions = node_->session_service();
    if (sessions.HasSessions(name)) {
        entry->state = entry->in_conflict() ? DUPLICATE_DEREG : DEREGISTERED;
        sessions.OnNameDeleted(name);  // pending listens end; open sessions stay
        return void(node_->Complete(ncb, NRC_ACTSES));
    }
    DeleteNow(name);
    node_->Complete(ncb, NRC_GOODRET);
}

void NameService::DeleteNow(const NetbiosName &name) {
    NameEntry *entry = table_.Find(name);
    if (!entry) return;
    NameEntry copy = *entry;
    table_.Remove(name);
    ReleaseNow(copy, node_->settings().bcast_retry_count);
    if (!shut_down_) node_->session_service().OnNameDeleted(name);
}

void NameService::ReleaseNow(const NameEntry &entry, int count) {
    const std::uint16_t id = exchanges_.NewId();
    NameExchanges::Request request;
    request.bytes = codec::BuildReleaseRequest(id, WireName(entry.name), entry.group, OwnAddress());
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kRelease;
    request.count = count;
    request.interval = node_->settings().bcast_retry_timeout;
    if (count <= 1) return Send(request.bytes, request.to);
    // Nothing to wait for: B-nodes do not answer releases.
    exchanges_.Start(
        id, std::move(request),
        [](const codec::NamePacket &, const asio::ip::udp::endpoint &) { return false; }, nullptr);
}

void NameService::OnSessionsClosed(const NetbiosName &name) {
    NameEntry *entry = table_.Find(name);
    if (shut_down_ || !entry || !entry->deregistered()) return;
    DeleteNow(name);
}

// ---- adapter status -------------------------------------------------------

AdapterStatusReply NameService::LocalStatus() const {
    AdapterStatusReply reply;
    auto &a = reply.status;
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
    if (!shut_down_) a.pending_sess = static_cast<WORD>(node_->session_service().SessionCount());
    a.max_cfg_sess = limits.sessions;
    a.max_sess = kMaxSupported;
    a.max_sess_pkt_size = kMaxSessionPacket;
    for (const auto &entry : table_.entries()) {
        NAME_BUFFER buffer{};
        std::copy(entry.name.begin(), entry.name.end(), buffer.name);
        buffer.name_num = entry.number;
        buffer.name_flags = entry.flags();
        reply.names.push_back(buffer);
    }
    a.name_count = static_cast<WORD>(reply.names.size());
    return reply;
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
    reply.status = codec::AdapterStatusFromStatistics(status->statistics, status->names.size());
    for (const auto &entry : status->names) {
        NAME_BUFFER buffer{};
        std::copy(entry.name.begin(), entry.name.end(), buffer.name);
        buffer.name_num = 0;  // NBT carries no name numbers
        buffer.name_flags = codec::WireFlagsToNameFlags(entry.flags);
        reply.names.push_back(buffer);
    }
    FinishStatus(ncb, reply);
}

void NameService::AdapterStatus(NCB *ncb) {
    if (ncb->ncb_buffer == nullptr || ncb->ncb_length < sizeof(ADAPTER_STATUS))
        return void(node_->Complete(ncb, NRC_BUFLEN));
    const NetbiosName callname = NameFromField(ncb->ncb_callname);
    if (callname[0] == '*') return FinishStatus(ncb, LocalStatus());
    if (callname[0] == 0) {
        MacAddress mac;
        std::copy(callname.begin() + 10, callname.end(), mac.begin());
        return StatusByAddress(ncb, mac);
    }
    if (const NameEntry *entry = table_.Find(callname); entry && entry->state != REGISTERING)
        return FinishStatus(ncb, LocalStatus());
    auto self = shared_from_this();
    auto finish = [self, ncb](std::optional<codec::NodeStatus> status) {
        self->FinishRemoteStatus(ncb, status);
    };
    if (auto address = DottedAddress(callname)) return QueryStatus(*address, finish);
    Resolve(callname, [self, ncb, finish](std::optional<asio::ip::address_v4> address) {
        if (!address) return self->FinishRemoteStatus(ncb, std::nullopt);
        if (!self->node_->IsPending(ncb)) return;
        self->QueryStatus(*address, finish);
    });
}

void NameService::QueryStatus(asio::ip::address_v4 peer, StatusHandler handler) {
    if (shut_down_) return;
    if (peer == node_->address()) {
        // Ourselves: answer without the round trip over our own socket.
        auto reply = LocalStatus();
        codec::NodeStatus status;
        status.statistics = codec::StatisticsFromAdapterStatus(reply.status);
        for (const auto &entry : table_.entries()) {
            if (entry.state == REGISTERING) continue;
            status.names.push_back({entry.name, codec::NameFlagsToWireFlags(entry.flags())});
        }
        asio::post(node_->io(), [handler, status] { handler(status); });
        return;
    }
    codec::NetbiosName star;
    star.raw[0] = '*';
    star.scope = node_->settings().scope;
    const std::uint16_t id = exchanges_.NewId();
    NameExchanges::Request request;
    request.bytes = codec::BuildNodeStatusRequest(id, star, false);
    request.to = {peer, node_->name_port()};
    request.peer = peer;
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_->settings().ucast_retry_count;
    request.interval = node_->settings().ucast_retry_timeout;
    auto on_reply = [handler](const codec::NamePacket &reply, const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNbstat) return false;
        auto status = codec::DecodeNodeStatusRdata(answer.rdata);
        if (!status) return false;
        handler(std::move(status));
        return true;
    };
    exchanges_.Start(id, std::move(request), on_reply, [handler] { handler(std::nullopt); });
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

    codec::NetbiosName star;
    star.raw[0] = '*';
    star.scope = node_->settings().scope;
    const std::uint16_t id = exchanges_.NewId();
    NameExchanges::Request request;
    request.bytes = codec::BuildNodeStatusRequest(id, star, true);
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_->settings().bcast_retry_count;
    request.interval = node_->settings().bcast_retry_timeout;

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
        if (search->responders.size() < kMaxProbedResponders)
            search->responders.emplace(from.address().to_v4().to_uint(), std::move(*status));
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
    exchanges_.Start(id, std::move(request), on_reply, on_expiry);
}

// ---- resolution -----------------------------------------------------------

std::optional<NameService::HeldName> NameService::Find(const NetbiosName &name) const {
    const NameEntry *entry = table_.Find(name);
    if (!entry) return std::nullopt;
    return HeldName{entry->number, entry->flags()};
}

void NameService::Resolve(const NetbiosName &name, ResolveHandler handler) {
    if (shut_down_) return;
    if (const NameEntry *entry = table_.Find(name); entry && entry->state != REGISTERING) {
        asio::post(node_->io(),
                   [handler = std::move(handler), address = node_->address()] { handler(address); });
        return;
    }
    const std::uint16_t id = exchanges_.NewId();
    const codec::NetbiosName wire = WireName(name);
    NameExchanges::Request request;
    request.bytes = codec::BuildQueryRequest(id, wire, true);
    request.to = node_->broadcast_endpoint();
    request.opcode = codec::NameOpcode::kQuery;
    request.count = node_->settings().bcast_retry_count;
    request.interval = node_->settings().bcast_retry_timeout;
    auto shared_handler = std::make_shared<ResolveHandler>(std::move(handler));
    auto self = shared_from_this();
    auto on_reply = [self, shared_handler, wire, id](const codec::NamePacket &reply,
                                                     const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNb || answer.name != wire) return false;
        auto addresses = codec::DecodeNbRdata(answer.rdata);
        if (!addresses) return false;
        self->WatchForConflicts(id, wire, (*addresses)[0]);
        (*shared_handler)(asio::ip::address_v4((*addresses)[0].ipv4));
        return true;
    };
    exchanges_.Start(id, std::move(request), on_reply, [shared_handler] { (*shared_handler)(std::nullopt); });
}

// ---- incoming datagrams ---------------------------------------------------

void NameService::OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from) {
    if (shut_down_) return;
    if (!from.address().is_v4()) return;
    // Our own broadcasts, should one come back on another socket.
    if (from == node_->name_endpoint()) return;
    auto packet = codec::DecodeNamePacket(datagram);
    if (!packet) {
        if (malformed_ < 0xFFFF) ++malformed_;
        return;
    }
    if (!packet->header.IsResponse()) return OnRequest(*packet, from);
    if (exchanges_.Deliver(*packet, from)) return;
    if (OnLateQueryAnswer(*packet, from)) return;
    if (packet->header.Opcode() == codec::NameOpcode::kRegistration &&
        packet->header.Rcode() == codec::NameRcode::kConflict)
        OnConflictDemand(*packet);
    // Anything else is a late or duplicate reply: dropped.
}

void NameService::OnRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    if (packet.questions.size() != 1) return;
    switch (packet.header.Opcode()) {
        case codec::NameOpcode::kRegistration:
        case codec::NameOpcode::kMultiHomedRegistration:
            return OnRegistrationRequest(packet, from);
        case codec::NameOpcode::kQuery:
            if (packet.questions[0].type == codec::kTypeNbstat) return OnStatusRequest(packet, from);
            if (packet.questions[0].type == codec::kTypeNb) return OnQueryRequest(packet, from);
            return;
        default:
            return;  // releases, refreshes, WACKs: nothing for a B-node to say
    }
}

void NameService::OnRegistrationRequest(const codec::NamePacket &packet,
                                        const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    if (question.type != codec::kTypeNb) return;
    NameEntry *entry = Held(question.name);
    if (!entry || entry->state == REGISTERING || entry->in_conflict()) return;
    codec::NbAddress offender{0, from.address().to_v4().to_uint()};
    if (!packet.additional.empty()) {
        if (auto addresses = codec::DecodeNbRdata(packet.additional[0].rdata)) offender = (*addresses)[0];
    }
    if (offender.ipv4 == OwnAddress()) return;
    const bool request_group = offender.flags & codec::kNbGroup;
    if (entry->group && request_group) return;  // joining a group is no conflict
    Send(codec::BuildRegistrationRefusal(packet.header.trn_id, question.name, offender,
                                         codec::NameRcode::kActive),
         from);
}

void NameService::OnQueryRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    NameEntry *entry = Held(question.name);
    if (entry && entry->state == REGISTERED) {
        codec::NbAddress address{static_cast<std::uint16_t>(entry->group ? codec::kNbGroup : 0),
                                 OwnAddress()};
        Send(codec::BuildPositiveQueryResponse(packet.header.trn_id, packet.header.flags, question.name,
                                               address),
             from);
        return;
    }
    // A broadcast query for a name we do not hold gets silence; a unicast one
    // a clear "no such name", so the asker need not wait out its timer.
    if (!packet.header.IsBroadcast())
        Send(codec::BuildNegativeQueryResponse(packet.header.trn_id, packet.header.flags, question.name),
             from);
}

void NameService::OnStatusRequest(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    const auto &question = packet.questions[0];
    if (question.name.scope != node_->settings().scope) return;
    if (!IsStarName(question.name)) {
        NameEntry *entry = Held(question.name);
        if (!entry || entry->state == REGISTERING) return;
    }
    auto local = LocalStatus();
    codec::NodeStatus status;
    status.statistics = codec::StatisticsFromAdapterStatus(local.status);
    for (const auto &entry : table_.entries()) {
        if (entry.state == REGISTERING) continue;  // every listed entry is active
        status.names.push_back({entry.name, codec::NameFlagsToWireFlags(entry.flags())});
    }
    Send(codec::BuildNodeStatusResponse(packet.header.trn_id, question.name,
                                        codec::EncodeNodeStatusRdata(status)),
         from);
}

void NameService::OnConflictDemand(const codec::NamePacket &packet) {
    if (packet.answers.empty() || packet.answers[0].type != codec::kTypeNb) return;
    NameEntry *entry = Held(packet.answers[0].name);
    if (!entry || entry->group || entry->state == REGISTERING) return;
    // The demand carries the address it is aimed at; one for another node is not ours.
    if (auto addresses = codec::DecodeNbRdata(packet.answers[0].rdata)) {
        if ((*addresses)[0].ipv4 != OwnAddress()) return;
    }
    if (entry->state == REGISTERED) entry->state = DUPLICATE;
    if (entry->state == DEREGISTERED) entry->state = DUPLICATE_DEREG;
}

// Another node answering for a unique name after the first owner did, while
// the conflict timer runs, gets a conflict demand: two nodes claim the name.
void NameService::WatchForConflicts(std::uint16_t id, const codec::NetbiosName &name,
                                    const codec::NbAddress &first) {
    if (shut_down_ || (first.flags & codec::kNbGroup)) return;
    auto timer = std::make_shared<asio::steady_timer>(node_->io(), node_->settings().conflict_timer);
    conflict_watches_[id] = ConflictWatch{name, first, timer};
    timer->async_wait([self = shared_from_this(), id, timer](const asio::error_code &ec) {
        if (ec || self->shut_down_) return;
        auto it = self->conflict_watches_.find(id);
        if (it != self->conflict_watches_.end() && it->second.timer == timer)
            self->conflict_watches_.erase(it);
    });
}

bool NameService::OnLateQueryAnswer(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    auto it = conflict_watches_.find(packet.header.trn_id);
    if (it == conflict_watches_.end()) return false;
    if (packet.header.Opcode() != codec::NameOpcode::kQuery ||
        packet.header.Rcode() != codec::NameRcode::kOk || packet.answers.empty())
        return true;
    const auto &answer = packet.answers[0];
    if (answer.type != codec::kTypeNb || answer.name != it->second.name) return true;
    auto addresses = codec::DecodeNbRdata(answer.rdata);
    if (!addresses) return true;
    const codec::NbAddress &second = (*addresses)[0];
    const std::uint32_t source = from.address().to_v4().to_uint();
    // The first owner repeating itself (nmbd answers broadcasts twice) is no conflict.
    if (source == it->second.first.ipv4 || (second.flags & codec::kNbGroup)) return true;
    Send(
        codec::BuildRegistrationRefusal(exchanges_.NewId(), answer.name, second, codec::NameRcode::kConflict),
        {from.address(), node_->name_port()});
    return true;
}

// ---- reset ------------------------------------------------------------------

void NameService::Shutdown() {
    if (shut_down_) return;
    exchanges_.CancelAll();
    for (auto &[id, watch] : conflict_watches_) watch.timer->cancel();
    conflict_watches_.clear();
    for (const auto &entry : table_.entries())
        if (entry.state != REGISTERING) ReleaseNow(entry, 1);
    shut_down_ = true;
}

}  // namespace nbt
