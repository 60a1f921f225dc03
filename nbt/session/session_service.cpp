// SPDX-License-Identifier: MIT
#include "session_service.h"

#include <algorithm>
#include <vector>

#include "node.h"
#include "session.h"
#include "session_answer.h"
#include "session_pairing.h"
#include "session_status.h"

namespace nbt {
namespace {

UCHAR NameState(UCHAR flags) {
    return flags & 0x07;
}

// Connections that have not sent their SESSION REQUEST yet. A real caller
// sends it right after connecting, so a handful per host is plenty, and a
// pool of a few dozen rides out many hosts connecting at once.
constexpr std::size_t kMaxUnansweredConnections = 64;
constexpr std::size_t kMaxUnansweredPerSource = 8;

void TurnAway(asio::ip::tcp::socket &socket) {
    asio::error_code ignored;
    socket.set_option(asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
}

}  // namespace

SessionService::SessionService(std::shared_ptr<Node> node, const ServiceLinks &links)
    : node_(std::move(node)), links_(links), numbers_(node_->limits().sessions) {}

SessionService::~SessionService() {
    Shutdown();
}

void SessionService::Submit(NCB *ncb) {
    // clang-format off
    static constexpr HandlerRow<Handler> kRows[] = {
        {NCBCALL, &SessionService::Call},
        {NCBLISTEN, &SessionService::Listen},
        {NCBHANGUP, &SessionService::Hangup},
        {NCBSEND, &SessionService::Send},
        {NCBRECV, &SessionService::Receive},
        {NCBSSTAT, &SessionService::Status},
        // Over TCP nothing is acknowledged at the NetBIOS level, so the
        // no-acknowledgement sends are the plain ones.
        {NCBSENDNA, &SessionService::Send},
        {NCBCHAINSEND, &SessionService::Send},
        {NCBCHAINSENDNA, &SessionService::Send},
        {NCBUNLINK, &SessionService::Unlink},
        {NCBRECVANY, &SessionService::ReceiveAny},
    };
    // clang-format on
    static constexpr auto kHandlers = HandlersFor(Service::kSession, kRows);
    (this->*kHandlers[CommandCode(ncb->ncb_command)])(ncb);
}

UCHAR SessionService::CheckLocalName(const NCB *ncb) const {
    const NetbiosName name = NameFromField(ncb->ncb_name);
    if (IsWildcardOrEmpty(name)) return NRC_NOWILD;
    const auto held = links_.names->Find(name);
    if (!held || !MayUse(node_->ClientOf(ncb), held->client)) return NRC_NOWILD;
    switch (NameState(held->flags)) {
        case REGISTERED:
            return NRC_GOODRET;
        case DUPLICATE:
        case DUPLICATE_DEREG:
            return NRC_NAMCONF;
        default:
            return NRC_NOWILD;  // still registering, or on its way out
    }
}

std::shared_ptr<Session> SessionService::Open(NCB *ncb) {
    if (const UCHAR rc = CheckLocalName(ncb)) {
        node_->Complete(ncb, rc);
        return nullptr;
    }
    if (const ClientId client = node_->ClientOf(ncb); client != kProcessClient) {
        const auto open = std::count_if(sessions_.begin(), sessions_.end(), [client](const auto &entry) {
            return entry.second->client() == client;
        });
        if (const UCHAR rc = node_->ClientRoom(client, Node::ClientLimit::kSessions,
                                               static_cast<std::size_t>(open), NRC_LOCTFUL)) {
            node_->Complete(ncb, rc);
            return nullptr;
        }
    }
    const auto lsn = numbers_.Allocate();
    if (!lsn) {
        node_->Complete(ncb, NRC_LOCTFUL);
        return nullptr;
    }
    auto session = std::make_shared<Session>(node_, this, *lsn, ncb);
    sessions_[*lsn] = session;
    return session;
}

void SessionService::Listen(NCB *ncb) {
    if (auto session = Open(ncb)) listens_.push_back({session, false});
}

void SessionService::Call(NCB *ncb) {
    const NetbiosName callname = NameFromField(ncb->ncb_callname);
    if (IsWildcardOrEmpty(callname)) return void(node_->Complete(ncb, NRC_NOWILD));
    auto session = Open(ncb);
    if (!session) return;
    const std::uint16_t port = node_->session_port();
    links_.names->Lookup(callname, [session, port](std::optional<HeldNames::Resolved> found) {
        if (session->phase() != SessionPhase::kCalling) return;  // hung up or reset meanwhile
        // A session joins two nodes: a group name cannot be called.
        if (!found || found->group) return session->EndOpener(NRC_NOCALL);
        std::vector<asio::ip::tcp::endpoint> targets{{found->address, port}};
        for (const auto &other : found->others) targets.emplace_back(other, port);
        session->Connect(std::move(targets));
    });
}

// A remote-boot command of the token-ring days: accepted, nothing to undo.
void SessionService::Unlink(NCB *ncb) {
    node_->Complete(ncb, NRC_GOODRET);
}

std::shared_ptr<Session> SessionService::Lookup(NCB *ncb) {
    const auto it = sessions_.find(ncb->ncb_lsn);
    if (it == sessions_.end() || !MayUse(node_->ClientOf(ncb), it->second->client())) {
        node_->Complete(ncb, NRC_SNUMOUT);
        return nullptr;
    }
    return it->second;
}

void SessionService::Hangup(NCB *ncb) {
    if (auto session = Lookup(ncb)) session->Hangup(ncb);
}

void SessionService::Send(NCB *ncb) {
    auto session = Lookup(ncb);
    if (!session) return;
    if (NameInConflict(*session)) return void(node_->Complete(ncb, NRC_NAMCONF));
    session->Send(ncb);
}

void SessionService::Receive(NCB *ncb) {
    auto session = Lookup(ncb);
    if (!session) return;
    if (NameInConflict(*session)) return void(node_->Complete(ncb, NRC_NAMCONF));
    session->Receive(ncb);
}

bool SessionService::NameInConflict(const Session &session) const {
    // A close not yet reported is reported first; it also frees the number.
    if (session.phase() != SessionPhase::kEstablished) return false;
    const auto held = links_.names->Find(session.local());
    return held && (NameState(held->flags) == DUPLICATE || NameState(held->flags) == DUPLICATE_DEREG);
}

void SessionService::Status(NCB *ncb) {
    if (ncb->ncb_length < sizeof(SESSION_HEADER)) return void(node_->Complete(ncb, NRC_BUFLEN));
    if (!ncb->ncb_buffer) return void(node_->Complete(ncb, NRC_BADDR));
    const NetbiosName name = NameFromField(ncb->ncb_name);
    const bool all = name[0] == '*';
    const ClientId client = node_->ClientOf(ncb);
    UCHAR sess_name = 0xFF;
    if (!all) {
        const auto held = links_.names->Find(name);
        if (!held || name[0] == 0 || !MayUse(client, held->client))
            return void(node_->Complete(ncb, NRC_NOWILD));
        sess_name = held->number;
    }
    std::vector<SessionStatusEntry> entries;
    for (const auto &[lsn, session] : sessions_) {
        if (!all && session->local() != name) continue;
        if (!MayUse(client, session->client())) continue;
        SessionStatusEntry entry;
        entry.lsn = lsn;
        entry.state = session->StatusState();
        entry.local = session->local();
        entry.remote = session->remote();
        entry.receives = static_cast<UCHAR>(std::min<std::size_t>(session->pending_receives(), 255));
        entry.sends = static_cast<UCHAR>(std::min<std::size_t>(session->pending_sends(), 255));
        entries.push_back(entry);
    }
    const auto fill = FillSessionStatus(sess_name, entries, ncb->ncb_buffer, ncb->ncb_length);
    if (fill.length >= sizeof(SESSION_HEADER) && links_.datagrams) {
        auto *header = reinterpret_cast<SESSION_HEADER *>(ncb->ncb_buffer);
        header->rcv_dg_outstanding = static_cast<UCHAR>(
            std::min<std::size_t>(links_.datagrams->PendingDatagramReceives(sess_name, client), 255));
        header->rcv_any_outstanding =
            static_cast<UCHAR>(std::min<std::size_t>(PendingReceiveAny(sess_name, client), 255));
    }
    ncb->ncb_length = fill.length;
    node_->Complete(ncb, fill.rc);
}

void SessionService::OnAccept(asio::ip::tcp::socket socket) {
    if (!open_) return;
    // A flood of connections that say nothing must neither take every
    // descriptor nor shut out real callers: one source gets its share and
    // no more, and a full pool makes room by dropping the connection that
    // has waited longest, long before its 10 s are up.
    asio::error_code ec;
    const auto source = socket.remote_endpoint(ec).address();
    if (ec) return;  // gone already
    std::size_t waiting = 0, from_source = 0;
    std::shared_ptr<SessionAnswer> oldest;
    for (const auto &answer : answers_) {
        if (!answer->AwaitingRequest()) continue;
        if (!oldest) oldest = answer;
        ++waiting;
        if (answer->source() == source) ++from_source;
    }
    if (from_source >= kMaxUnansweredPerSource) {
        NodeCounters::CountUpTo16Bits(node_->counters().recv_buff_unavail);
        return TurnAway(socket);
    }
    if (waiting >= kMaxUnansweredConnections) {
        NodeCounters::CountUpTo16Bits(node_->counters().recv_buff_unavail);
        oldest->Evict();
    }
    auto answer = std::make_shared<SessionAnswer>(node_, this, std::move(socket));
    answers_.push_back(answer);
    answer->Start();
}

void SessionService::AnswerDone(SessionAnswer *answer) {
    std::erase_if(answers_, [answer](const auto &a) { return a.get() == answer; });
}

std::shared_ptr<Session> SessionService::MatchListen(const NetbiosName &called, const NetbiosName &calling,
                                                     const std::string &scope, std::uint8_t *refusal) {
    std::erase_if(listens_,
                  [](const PendingListen &l) { return l.session->phase() != SessionPhase::kListening; });
    const auto held = links_.names->Find(called);
    const bool usable = held && NameState(held->flags) == REGISTERED && scope == node_->settings().scope;

    std::vector<ListenView> views;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < listens_.size(); ++i) {
        if (listens_[i].taken) continue;
        views.push_back({&listens_[i].session->local(), &listens_[i].session->remote()});
        index.push_back(i);
    }
    const Pairing pairing = PairSessionRequest(called, calling, usable, views);
    if (!pairing.listen) {
        *refusal = static_cast<std::uint8_t>(pairing.refusal);
        return nullptr;
    }
    PendingListen &chosen = listens_[index[*pairing.listen]];
    chosen.taken = true;
    return chosen.session;
}

void SessionService::ReturnListen(const std::shared_ptr<Session> &session) {
    for (auto &listen : listens_)
        if (listen.session == session) listen.taken = false;
}

void SessionService::Release(Session &session) {
    const auto it = sessions_.find(session.lsn());
    if (it == sessions_.end() || it->second.get() != &session) return;
    const NetbiosName name = session.local();
    auto keep = it->second;  // the caller may be running inside it
    sessions_.erase(it);
    numbers_.Release(session.lsn());
    std::erase_if(listens_, [&session](const PendingListen &l) { return l.session.get() == &session; });
    DeleteIfUnused(name);
    if (on_release_) on_release_(session.lsn());
}

void SessionService::Ended(const Session &session) {
    DeleteIfUnused(session.local());
}

void SessionService::DeleteIfUnused(const NetbiosName &name) {
    if (!open_ || HasSessions(name)) return;
    const auto held = links_.names->Find(name);
    if (held && (NameState(held->flags) == DEREGISTERED || NameState(held->flags) == DUPLICATE_DEREG))
        links_.names->OnSessionsClosed(name);
}

void SessionService::Draining(const std::shared_ptr<Session> &session) {
    std::erase_if(draining_, [](const std::weak_ptr<Session> &s) {
        auto locked = s.lock();
        return !locked || locked->phase() != SessionPhase::kDraining;
    });
    draining_.push_back(session);
}

bool SessionService::HasSessions(const NetbiosName &name) const {
    return std::any_of(sessions_.begin(), sessions_.end(), [&name](const auto &entry) {
        return entry.second->HoldsName() && entry.second->local() == name;
    });
}

std::size_t SessionService::SessionCount() const {
    return sessions_.size();
}

void SessionService::OnNameDeleted(const NetbiosName &name) {
    std::vector<std::shared_ptr<Session>> ended;
    for (const auto &listen : listens_)
        if (listen.session->local() == name && listen.session->phase() == SessionPhase::kListening)
            ended.push_back(listen.session);
    for (const auto &session : ended) session->EndOpener(NRC_NAMERR);
}

void SessionService::OnNameConflict(const NetbiosName &name) {
    std::vector<std::shared_ptr<Session>> affected;
    std::vector<ClientId> handed_to;
    for (const auto &[lsn, session] : sessions_) {
        if (session->local() != name) continue;
        affected.push_back(session);
        if (session->phase() == SessionPhase::kHanded &&
            std::find(handed_to.begin(), handed_to.end(), session->client()) == handed_to.end())
            handed_to.push_back(session->client());
    }
    for (const auto &session : affected) session->NameInConflict();
    if (on_handed_conflict_)
        for (const ClientId client : handed_to) on_handed_conflict_(client, name);
}

void SessionService::DropClient(ClientId client) {
    if (!open_) return;
    std::vector<std::shared_ptr<Session>> dropped;
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (it->second->client() != client) {
            ++it;
            continue;
        }
        dropped.push_back(it->second);
        numbers_.Release(it->first);
        it = sessions_.erase(it);
    }
    std::erase_if(listens_, [client](const PendingListen &l) { return l.session->client() == client; });
    for (const auto &session : dropped) session->Drop();
}

void SessionService::LeaveAddress() {
    if (!open_) return;
    std::vector<std::shared_ptr<Session>> sessions;
    for (const auto &[lsn, session] : sessions_) sessions.push_back(session);
    for (const auto &session : sessions) session->LeaveAddress();
    const auto answers = answers_;  // each one's end takes it off the list
    for (const auto &answer : answers) answer->Evict();
    for (auto &weak : draining_)
        if (auto session = weak.lock()) session->Detach();
    draining_.clear();
}

void SessionService::Shutdown() {
    if (!open_) return;
    open_ = false;
    auto sessions = std::move(sessions_);
    sessions_.clear();
    listens_.clear();
    for (auto &[lsn, session] : sessions) session->Detach();
    auto answers = std::move(answers_);
    answers_.clear();
    for (auto &answer : answers) answer->Stop();
    for (auto &weak : draining_)
        if (auto session = weak.lock()) session->Detach();
    draining_.clear();
}

}  // namespace nbt
