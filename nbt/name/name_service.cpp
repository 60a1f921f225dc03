#include "name_service.h"

#include <algorithm>

#include "node.h"

namespace nbt {

NameService::NameService(std::shared_ptr<Node> node, const ServiceLinks &links)
    : node_(std::move(node)),
      links_(links),
      table_(node_->limits().names),
      exchanges_(node_->io(), [this](std::span<const std::uint8_t> bytes,
                                     const asio::ip::udp::endpoint &to) { Send(bytes, to); }),
      replies_(node_->settings().reply_rate, node_->settings().reply_burst) {}

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
    static constexpr HandlerRow<Handler> kRows[] = {
        {NCBADDNAME, &NameService::AddName},
        {NCBADDGRNAME, &NameService::AddName},
        {NCBDELNAME, &NameService::DeleteName},
        {NCBASTAT, &NameService::AdapterStatus},
    };
    static constexpr auto kHandlers = HandlersFor(Service::kName, kRows);
    (this->*kHandlers[CommandCode(ncb->ncb_command)])(ncb);
}

void NameService::AddName(NCB *ncb) {
    const NetbiosName name = NameFromField(ncb->ncb_name);
    if (IsWildcardOrEmpty(name)) return void(node_->Complete(ncb, NRC_NOWILD));
    if (table_.Find(name)) return void(node_->Complete(ncb, NRC_DUPNAME));
    if (!codec::IsValidScope(node_->settings().scope)) return void(node_->Complete(ncb, NRC_SYSTEM));
    const bool group = CommandCode(ncb->ncb_command) == NCBADDGRNAME;
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
    OpenSessions &sessions = *links_.sessions;
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
    if (!shut_down_) links_.sessions->OnNameDeleted(name);
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

// ---- resolution -----------------------------------------------------------

std::optional<NameService::HeldName> NameService::Find(const NetbiosName &name) const {
    const NameEntry *entry = table_.Find(name);
    if (!entry) return std::nullopt;
    return HeldName{entry->number, entry->flags()};
}

void NameService::Resolve(const NetbiosName &name, ResolveHandler handler) {
    Lookup(name, [handler = std::move(handler)](std::optional<Resolved> found) {
        handler(found ? std::optional(found->address) : std::nullopt);
    });
}

std::optional<NetbiosName> NameService::NameOf(UCHAR number) const {
    for (const auto &entry : table_.entries())
        if (entry.number == number) return entry.name;
    return std::nullopt;
}

void NameService::Lookup(const NetbiosName &name, LookupHandler handler) {
    if (shut_down_) return;
    if (const NameEntry *entry = table_.Find(name); entry && entry->state != REGISTERING) {
        asio::post(node_->io(), [handler = std::move(handler),
                                 found = Resolved{node_->address(), entry->group}] { handler(found); });
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
    auto shared_handler = std::make_shared<LookupHandler>(std::move(handler));
    auto self = shared_from_this();
    auto on_reply = [self, shared_handler, wire, id](const codec::NamePacket &reply,
                                                     const asio::ip::udp::endpoint &) {
        if (reply.header.Rcode() != codec::NameRcode::kOk || reply.answers.empty()) return false;
        const auto &answer = reply.answers[0];
        if (answer.type != codec::kTypeNb || answer.name != wire) return false;
        auto addresses = codec::DecodeNbRdata(answer.rdata);
        if (!addresses) return false;
        // An answer pointing nowhere sensible is as good as none: wait for another.
        auto usable = std::find_if(addresses->begin(), addresses->end(), [&self](const codec::NbAddress &a) {
            return self->node_->IsPeerAddress(asio::ip::address_v4(a.ipv4));
        });
        if (usable == addresses->end()) return false;
        self->WatchForConflicts(id, wire, *usable);
        (*shared_handler)(Resolved{asio::ip::address_v4(usable->ipv4), (usable->flags & codec::kNbGroup) != 0});
        return true;
    };
    exchanges_.Start(id, std::move(request), on_reply, [shared_handler] { (*shared_handler)(std::nullopt); });
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
