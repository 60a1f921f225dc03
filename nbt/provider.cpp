// SPDX-License-Identifier: MIT
#include "provider.h"

#include <algorithm>
#include <mutex>

#include "command_table.h"
#include "host_names.h"
#include "io_thread.h"
#include "name_service.h"
#include "nbt_event.h"
#include "node.h"
#include "settings_file.h"
#include "state_lock.h"

namespace nbt {

Limits LimitsFromReset(const NCB &ncb, const Settings &settings) {
    auto pick = [](UCHAR asked, std::uint8_t fallback) -> std::uint8_t {
        const int value = asked == 0 ? fallback : asked;
        return static_cast<std::uint8_t>(std::clamp(value, 1, 254));
    };
    Limits limits;
    limits.sessions = pick(ncb.ncb_callname[0], settings.default_sessions);
    limits.ncbs = pick(ncb.ncb_callname[1], settings.default_ncbs);
    limits.names = pick(ncb.ncb_callname[2], settings.default_names);
    limits.reserve_name_number_1 = ncb.ncb_callname[3] != 0;
    return limits;
}

namespace {

// Every Provider of the process, for fork().
struct Registry {
    std::mutex mutex;
    std::vector<Provider *> providers;
};

Registry &Providers() {
    static auto *registry = new Registry;
    return *registry;
}

}  // namespace

Provider::Provider(Settings settings, std::shared_ptr<LanaNumbering> numbering)
    : settings_(std::move(settings)),
      numbering_(std::move(numbering)),
      host_names_(std::make_shared<HostNames>()) {
    IoThread::Get();  // the network thread and the fork handlers, before any node
    RefreshLanas();
    auto &registry = Providers();
    std::lock_guard lock(registry.mutex);
    registry.providers.push_back(this);
}

Provider::~Provider() {
    {
        auto &registry = Providers();
        std::lock_guard lock(registry.mutex);
        std::erase(registry.providers, this);
    }
    IoThread::Get().RunAndWait([this] {
        for (auto &[lana, node] : nodes_) node->Shutdown();
        nodes_.clear();
        // Blocks a completion routine submits from here on find no provider.
        alive_.reset();
    });
}

Provider &Provider::Default() {
    // At exit, what is still pending is left alone (completion.h) before
    // the nodes are shut down.
    static struct AtExit {
        Provider provider{DefaultProviderSettings()};
        ~AtExit() { LeavePendingBlocksAtExit(); }
    } instance;
    return instance.provider;
}

void Provider::LockAllForFork() {
    auto &registry = Providers();
    registry.mutex.lock();
    for (Provider *provider : registry.providers) provider->mutex_.lock();
}

void Provider::UnlockAllInParent() {
    auto &registry = Providers();
    for (Provider *provider : registry.providers) provider->mutex_.unlock();
    registry.mutex.unlock();
}

void Provider::ForgetAllInChild() {
    auto &registry = Providers();
    // The parent's nodes are kept where nothing uses them: no destructor of
    // their sockets may run here.
    static auto *left_behind = new std::vector<std::map<UCHAR, std::shared_ptr<Node>>>;
    for (Provider *provider : registry.providers) {
        left_behind->push_back(std::move(provider->nodes_));
        provider->nodes_.clear();
        provider->reset_.assign(LanaBits::Words{});
        provider->host_names_ = std::make_shared<HostNames>();
        provider->alive_ = std::make_shared<Alive>();
        provider->mutex_.unlock();
    }
    registry.mutex.unlock();
}

UCHAR Provider::Validate(const NCB *ncb) {
    const Command &command = CommandOf(ncb->ncb_command);
    if ((ncb->ncb_command & ASYNCH) && ncb->ncb_post && ncb->ncb_event) return NRC_ILLCMD;
    if (command.service == Service::kNone) return NRC_ILLCMD;
    if (command.lana == LanaNeed::kNone) return NRC_GOODRET;
    if (!enumerated_.test(ncb->ncb_lana_num)) {
        // An interface may have come up since the table was last read; only
        // a command that may reset it looks again.
        if (command.lana != LanaNeed::kEnumerated) return NRC_BRIDGE;
        RefreshLanas();
        if (!enumerated_.test(ncb->ncb_lana_num)) return NRC_BRIDGE;
    }
    if (command.lana == LanaNeed::kReset && !reset_.test(ncb->ncb_lana_num)) return NRC_ENVNOTDEF;
    return NRC_GOODRET;
}

UCHAR Provider::Netbios(NCB *ncb) {
    return Netbios(ncb, kProcessClient);
}

UCHAR Provider::Netbios(NCB *ncb, ClientId client) {
    return Start(ncb, client, /*at_once=*/false);
}

UCHAR Provider::NetbiosAtOnce(NCB *ncb, ClientId client) {
    return Start(ncb, client, /*at_once=*/true);
}

UCHAR Provider::Start(NCB *ncb, ClientId client, bool at_once) {
    if (!ncb) return NRC_INVADDRESS;
    // A block still in progress is not touched at all, not even its return
    // code: that would corrupt the command it carries.
    if (!BeginInFlight(ncb)) return NRC_IFBUSY;

    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    UCHAR rc = Validate(ncb);
    // The network thread cannot wait for itself: a completion routine may
    // only submit the asynchronous forms.
    // Nor may a thread that holds the state lock (one running handlers).
    auto &io = IoThread::Get();
    if (rc == NRC_GOODRET && !async && (io.IsCurrent() || StateGuard::Held())) rc = NRC_IFBUSY;
    if (rc != NRC_GOODRET) {
        Deliver(ncb, nullptr, rc, Delivery::kRefused);
        return rc;
    }

    ncb->ncb_retcode = NRC_PENDING;
    ncb->ncb_cmd_cplt = NRC_PENDING;
    if (async && ncb->ncb_event) ncb->ncb_event->Reset();
    if (io.IsCurrent() && !at_once) {
        // From a completion routine, amid a completion: queued behind it, so
        // the service that called the routine is not re-entered.
        asio::post(io.executor(), [this, alive = std::weak_ptr<Alive>(alive_), ncb, client] {
            if (alive.expired())
                Deliver(ncb, nullptr, NRC_ENVNOTDEF);
            else
                Dispatch(ncb, nullptr, client);
        });
        return NRC_GOODRET;
    }

    // The caller's thread carries the command itself, holding the state
    // lock: what can finish at once (a send the socket takes, a message
    // already here, a local status) finishes without a trip to the network
    // thread, and blocks of one caller keep the order they were given in.
    SyncWaiter waiter;
    {
        StateGuard guard;
        Dispatch(ncb, async ? nullptr : &waiter, client);
    }
    if (async) return NRC_GOODRET;
    waiter.Wait();
    return ncb->ncb_retcode;
}

void Provider::DropClient(ClientId client) {
    if (client == kProcessClient) return;
    StateGuard guard;
    for (auto &[lana, node] : nodes_) node->FreeClient(client);
}

std::vector<NameOwner> Provider::NameOwners(UCHAR lana) const {
    StateGuard guard;
    std::vector<NameOwner> owners;
    const auto node = nodes_.find(lana);
    if (node == nodes_.end() || !node->second->name_service()) return owners;
    for (const auto &[name, client] : node->second->name_service()->Owners()) {
        NameOwner owner;
        std::copy(name.begin(), name.end(), owner.name.begin());
        owner.client = client;
        owners.push_back(owner);
    }
    return owners;
}

void Provider::Dispatch(NCB *ncb, SyncWaiter *waiter, ClientId client) {
    const Command &command = CommandOf(ncb->ncb_command);
    auto node = nodes_.find(ncb->ncb_lana_num);
    // A client has a LANA reset once it has reset it itself.
    if (command.lana == LanaNeed::kReset && client != kProcessClient &&
        (node == nodes_.end() || !node->second->HasClient(client))) {
        Deliver(ncb, waiter, NRC_ENVNOTDEF);
        return;
    }
    if (command.service == Service::kProvider) {
        static constexpr HandlerRow<Handler> kRows[] = {
            {NCBENUM, &Provider::Enumerate},
            {NCBRESET, &Provider::Reset},
            {NCBCANCEL, &Provider::Cancel},
        };
        static constexpr auto kHandlers = HandlersFor(Service::kProvider, kRows);
        UCHAR rc;
        try {
            rc = (this->*kHandlers[CommandCode(ncb->ncb_command)])(ncb, client);
        } catch (const std::bad_alloc &) {
            rc = NRC_NORES;
        } catch (...) {
            rc = NRC_SYSTEM;
        }
        Deliver(ncb, waiter, rc);
        return;
    }
    if (node == nodes_.end()) {
        // Freed by a reset that ran after this block was accepted.
        Deliver(ncb, waiter, NRC_ENVNOTDEF);
        return;
    }
    node->second->Submit(ncb, waiter, client);
}

void Provider::RefreshLanas() {
    const auto interfaces =
        settings_.host_interfaces ? ReadHostInterfaces() : std::vector<InterfaceAddress>{};
    std::lock_guard lock(mutex_);
    SetLanas(Number(interfaces));
}

std::vector<Lana> Provider::Number(const std::vector<InterfaceAddress> &interfaces) {
    if (numbering_ && settings_.host_interfaces) return numbering_->Number(interfaces);
    return NumberLanas(interfaces, settings_.host_interfaces);
}

LanaChanges Provider::FollowInterfaces() {
    std::vector<Lana> before;
    {
        std::lock_guard lock(mutex_);
        before = lanas_;
    }
    const std::vector<Lana> after = Lanas();
    auto find = [](const std::vector<Lana> &table, UCHAR number) -> const Lana * {
        for (const Lana &lana : table)
            if (lana.number == number) return &lana;
        return nullptr;
    };
    LanaChanges changes;
    const auto now_time = std::chrono::steady_clock::now();
    for (const Lana &lana : after)
        if (!find(before, lana.number)) changes.added.push_back(lana);
    for (const Lana &lana : before)
        if (!find(after, lana.number)) changes.removed.push_back(lana);

    for (auto it = nodes_.begin(); it != nodes_.end();) {
        const Node &node = *it->second;
        const Lana *now = find(after, it->first);
        if (node.is_loopback() ||
            (now && now->address == node.address() && now->interface_index == node.interface_index())) {
            addressless_.erase(it->first);
            ++it;
            continue;
        }
        if (now && now->interface_index == node.interface_index() && it->second->Readdress(*now)) {
            addressless_.erase(it->first);
            changes.readdressed.push_back(it->first);
            ++it;
            continue;
        }
        if (!now && InterfaceUp(node.interface_name(), node.interface_index())) {
            const auto since = addressless_.try_emplace(it->first, now_time).first->second;
            if (now_time - since < kAddressGrace) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(since + kAddressGrace - now_time);
                if (changes.look_again.count() == 0 || left < changes.look_again) changes.look_again = left;
                ++it;
                continue;
            }
        }
        addressless_.erase(it->first);
        it->second->Lose(NRC_BRIDGE);
        changes.lost.push_back(it->first);
        {
            std::lock_guard lock(mutex_);
            reset_.reset(it->first);
        }
        it = nodes_.erase(it);
    }
    return changes;
}

void Provider::SetLanas(std::vector<Lana> lanas) {
    LanaBits::Words numbers{};
    for (const Lana &lana : lanas) LanaBits::Add(numbers, lana.number);
    lanas_ = std::move(lanas);
    enumerated_.assign(numbers);
}

std::vector<Lana> Provider::Lanas() {
    RefreshLanas();
    std::lock_guard lock(mutex_);
    return lanas_;
}

UCHAR Provider::Enumerate(NCB *ncb, ClientId) {
    return FillLanaEnum(Lanas(), ncb->ncb_buffer, ncb->ncb_length);
}

UCHAR Provider::Reset(NCB *ncb, ClientId client) {
    const UCHAR number = ncb->ncb_lana_num;
    RefreshLanas();
    std::optional<Lana> lana;
    {
        std::lock_guard lock(mutex_);
        for (const Lana &l : lanas_)
            if (l.number == number) lana = l;
    }
    if (client != kProcessClient) {
        // The others' names and sessions stay, on the node they share.
        if (auto node = nodes_.find(number); node != nodes_.end()) node->second->FreeClient(client);
        if (!lana) return NRC_BRIDGE;
        if (ncb->ncb_lsn != 0) return NRC_GOODRET;  // free only
        return ResetClient(ncb, client, *lana);
    }

    if (auto old = nodes_.find(number); old != nodes_.end()) {
        if (old->second->is_loopback()) last_loopback_host_ = old->second->host_number();
        old->second->Shutdown();
        nodes_.erase(old);
        addressless_.erase(number);
        std::lock_guard lock(mutex_);
        reset_.reset(number);
    }
    if (!lana) return NRC_BRIDGE;               // the interface went away since Netbios() looked
    if (ncb->ncb_lsn != 0) return NRC_GOODRET;  // free only

    UCHAR rc = NRC_GOODRET;
    auto node = Node::Open(*lana, LimitsFromReset(*ncb, settings_), settings_, host_names_,
                           lana->loopback ? last_loopback_host_ : 0, &rc);
    if (!node) return rc;
    if (node->is_loopback()) last_loopback_host_ = node->host_number();
    TellOfHandedConflicts(*node, number);
    nodes_[number] = node;
    std::lock_guard lock(mutex_);
    reset_.set(number);
    return NRC_GOODRET;
}

UCHAR Provider::ResetClient(NCB *ncb, ClientId client, const Lana &lana) {
    auto node = nodes_.find(lana.number);
    if (node == nodes_.end()) {
        UCHAR rc = NRC_GOODRET;
        auto opened = Node::Open(lana, SharedLimits(), settings_, host_names_,
                                 lana.loopback ? last_loopback_host_ : 0, &rc);
        if (!opened) return rc;
        if (opened->is_loopback()) last_loopback_host_ = opened->host_number();
        TellOfHandedConflicts(*opened, lana.number);
        node = nodes_.emplace(lana.number, opened).first;
        addressless_.erase(lana.number);
        std::lock_guard lock(mutex_);
        reset_.set(lana.number);
    }
    node->second->ResetClient(client, LimitsFromReset(*ncb, settings_));
    return NRC_GOODRET;
}

std::optional<asio::ip::address_v4> Provider::LanaAddress(UCHAR lana) const {
    std::optional<asio::ip::address_v4> address;
    WithNode(lana, [&](Node *node) {
        if (node) address = node->address();
    });
    return address;
}

void Provider::WithNode(UCHAR lana, const std::function<void(Node *)> &fn) const {
    IoThread::Get().RunAndWait([&] {
        auto it = nodes_.find(lana);
        fn(it == nodes_.end() ? nullptr : it->second.get());
    });
}

}  // namespace nbt
