// SPDX-License-Identifier: MIT
#include "name_service.h"

#include <algorithm>

#include "host_names.h"
#include "node.h"

namespace nbt {

NameService::NameService(std::shared_ptr<Node> node, const ServiceLinks &links)
    : node_(std::move(node)),
      links_(links),
      table_(node_->limits().names),
      requests_(*node_),
      exchanges_(node_->io(), [this](std::span<const std::uint8_t> bytes,
                                     const asio::ip::udp::endpoint &to) { Send(bytes, to); }),
      replies_(node_->settings().reply_rate, node_->settings().reply_burst),
      server_(std::make_shared<NameServerClient>(node_, table_, exchanges_, requests_,
                                                 [this](NameEntry &entry) { EnterConflict(entry); })) {}

NameService::~NameService() {
    server_->Shutdown();
}

void NameService::Send(std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &to) {
    if (!shut_down_ && !bytes.empty()) node_->SendDatagram(bytes, to);
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
    // Whoever holds it, unique or group: a client cannot join another's
    // group, which would let it hear that client's datagrams and calls.
    if (table_.Find(name)) return void(node_->Complete(ncb, NRC_DUPNAME));
    if (!codec::IsValidScope(node_->settings().scope)) return void(node_->Complete(ncb, NRC_SYSTEM));
    const ClientId client = node_->ClientOf(ncb);
    if (client != kProcessClient) {
        const auto held = std::count_if(table_.entries().begin(), table_.entries().end(),
                                        [client](const NameEntry &e) { return e.client == client; });
        if (const UCHAR rc = node_->ClientRoom(client, Node::ClientLimit::kNames,
                                               static_cast<std::size_t>(held), NRC_NAMTFUL))
            return void(node_->Complete(ncb, rc));
    }
    const bool group = CommandCode(ncb->ncb_command) == NCBADDGRNAME;
    NameEntry *entry = table_.Add(name, group);
    if (!entry) return void(node_->Complete(ncb, NRC_NAMTFUL));
    entry->adding = ncb;
    entry->client = client;
    TellHost(*entry);
    StartAdd(ncb, name, group, entry->number);
}

void NameService::DeleteName(NCB *ncb) {
    const NetbiosName name = NameFromField(ncb->ncb_name);
    NameEntry *entry = table_.Find(name);
    if (IsWildcardOrEmpty(name) || !entry || !MayUse(node_->ClientOf(ncb), entry->client))
        return void(node_->Complete(ncb, NRC_NOWILD));
    node_->Complete(ncb, Delete(*entry) ? NRC_GOODRET : NRC_ACTSES);
}

bool NameService::Delete(NameEntry &entry) {
    const NetbiosName name = entry.name;
    if (entry.state == REGISTERING) {
        // The add still in progress ends as "name was deleted"; whoever heard
        // its requests hears the release.
        exchanges_.Cancel(entry.registration);
        NCB *adding = entry.adding;
        DeleteNow(name);
        if (adding) node_->Complete(adding, NRC_NAMERR);
        return true;
    }
    OpenSessions &sessions = *links_.sessions;
    if (sessions.HasSessions(name)) {
        entry.state = entry.in_conflict() ? DUPLICATE_DEREG : DEREGISTERED;
        TellHost(entry);
        sessions.OnNameDeleted(name);  // pending listens end; open sessions stay
        return false;
    }
    DeleteNow(name);
    return true;
}

void NameService::DropClient(ClientId client) {
    if (shut_down_) return;
    std::vector<NetbiosName> names;
    for (const auto &entry : table_.entries())
        if (entry.client == client) names.push_back(entry.name);
    for (const auto &name : names)
        if (NameEntry *entry = table_.Find(name)) Delete(*entry);
}

std::vector<std::pair<NetbiosName, ClientId>> NameService::Owners() const {
    std::vector<std::pair<NetbiosName, ClientId>> owners;
    for (const auto &entry : table_.entries()) owners.emplace_back(entry.name, entry.client);
    return owners;
}

void NameService::DeleteNow(const NetbiosName &name) {
    NameEntry *entry = table_.Find(name);
    if (!entry) return;
    NameEntry copy = *entry;
    table_.Remove(name);
    ForgetOnHost(name);
    Release(copy, node_->settings().ns_retry_count, node_->settings().bcast_retry_count);
    if (!shut_down_) links_.sessions->OnNameDeleted(name);
}

void NameService::Release(const NameEntry &entry, int server_count, int broadcast_count) {
    server_->Release(entry, server_count);
    if (node_->settings().NodeTypeInUse() != NodeType::kP) ReleaseByBroadcast(entry, broadcast_count);
}

void NameService::TellHost(const NameEntry &entry) {
    node_->host_names().Hold(requests_.WireName(entry.name), node_->lana_number(), OwnAddress(),
                             entry.state == REGISTERED);
}

void NameService::ForgetOnHost(const NetbiosName &name) {
    node_->host_names().Drop(requests_.WireName(name), node_->lana_number());
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
    return HeldName{entry->number, entry->flags(), entry->client};
}

void NameService::Resolve(const NetbiosName &name, ResolveHandler handler) {
    // A group a server gave as 255.255.255.255 has no member to ask.
    Lookup(name, [handler = std::move(handler), node = node_](std::optional<Resolved> found) {
        handler(found && node->IsPeerAddress(found->address) ? std::optional(found->address) : std::nullopt);
    });
}

std::optional<NetbiosName> NameService::NameOf(UCHAR number, ClientId client) const {
    for (const auto &entry : table_.entries())
        if (entry.number == number)
            return MayUse(client, entry.client) ? std::optional(entry.name) : std::nullopt;
    return std::nullopt;
}

void NameService::Lookup(const NetbiosName &name, LookupHandler handler) {
    if (shut_down_) return;
    if (const NameEntry *entry = table_.Find(name); entry && entry->state != REGISTERING) {
        asio::post(node_->io(), [handler = std::move(handler),
                                 found = Resolved{node_->address(), entry->group, {}}] { handler(found); });
        return;
    }
    if (auto cached = server_->Cached(name)) {
        std::optional<Resolved> found;
        if (cached->found) found = Resolved{cached->address, cached->group, cached->others};
        asio::post(node_->io(), [handler = std::move(handler), found] { handler(found); });
        return;
    }
    ResolveStep(name, 0, std::make_shared<LookupHandler>(std::move(handler)));
}

// ---- reset ------------------------------------------------------------------

void NameService::Shutdown(bool release) {
    if (shut_down_) return;
    exchanges_.CancelAll();
    for (auto &[id, watch] : conflict_watches_) watch.timer->cancel();
    conflict_watches_.clear();
    if (release)
        for (const auto &entry : table_.entries())
            if (entry.state != REGISTERING) Release(entry, 1, 1);
    server_->Shutdown();
    node_->host_names().DropLana(node_->lana_number());
    shut_down_ = true;
}

}  // namespace nbt
