// SPDX-License-Identifier: MIT
#include "service_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "command_table.h"
#include "io_thread.h"
#include "lana_table.h"
#include "nbt_event.h"
#include "service_link.h"
#include "service_request.h"
#include "settings_file.h"
#include "state_lock.h"

namespace nbt {
namespace {

// How long a synchronous caller looks for its reply before it sleeps.
constexpr std::chrono::microseconds kReplySpin{40};

service::SubmitRequest SubmitOf(const NCB &ncb) {
    service::SubmitRequest submit;
    submit.command = ncb.ncb_command;
    submit.lsn = ncb.ncb_lsn;
    submit.num = ncb.ncb_num;
    submit.lana = ncb.ncb_lana_num;
    submit.length = ncb.ncb_length;
    submit.rto = ncb.ncb_rto;
    submit.sto = ncb.ncb_sto;
    std::copy(std::begin(ncb.ncb_callname), std::end(ncb.ncb_callname), submit.callname.begin());
    std::copy(std::begin(ncb.ncb_name), std::end(ncb.ncb_name), submit.name.begin());
    if (!ncb.ncb_buffer) submit.flags |= service::kNoBuffer;
    if (service::SendsData(ncb.ncb_command) && ncb.ncb_buffer) submit.data = {ncb.ncb_buffer, ncb.ncb_length};
    if (service::IsChainSend(ncb.ncb_command)) {
        const WORD length = service::ChainedLength(ncb.ncb_callname);
        const UCHAR *chained = nullptr;
        std::memcpy(&chained, ncb.ncb_callname + sizeof length, sizeof chained);
        if (chained)
            submit.chained = {chained, length};
        else
            submit.flags |= service::kNoChained;
    }
    return submit;
}

}  // namespace

ProcessSlot<ServiceClient> &ServiceClient::Slot() {
    static auto *slot = new ProcessSlot<ServiceClient>;
    return *slot;
}

ServiceClient &ServiceClient::Get() {
    return Slot().Get([] {
        IoThread::Get();  // the network thread and the fork handlers first
        // Never destroyed: its socket is the network thread's, stopped at
        // exit. What the service still carries then is left alone.
        static const struct LeaveAtExit {
            ~LeaveAtExit() { LeavePendingBlocksAtExit(); }
        } leave_at_exit;
        return new ServiceClient;
    });
}

ServiceClient::ServiceClient()
    : choice_(ChosenProvider()), path_(ServiceSocketPath()), settings_(DefaultProviderSettings()) {}

bool ServiceClient::Serves() {
    if (decided_.load(std::memory_order_acquire)) return serves_;
    std::lock_guard lock(decide_mutex_);
    if (!decided_.load(std::memory_order_relaxed)) {
        serves_ = choice_ == ProviderChoice::kService || (choice_ == ProviderChoice::kAuto && Connected());
        decided_.store(true, std::memory_order_release);
    }
    return serves_;
}

void ServiceClient::CloseInChild() {
    // Not out of the poller: the child's epoll set is the parent's too.
    if (link_) ::close(link_->fd);
}

std::shared_ptr<ServiceClient::Link> ServiceClient::Connected() {
    {
        StateGuard guard;
        if (link_ && !link_->lost) return link_;
    }
    std::string why;
    const int fd = ConnectToService(path_, &why);
    StateGuard guard;
    if (fd < 0) {
        if (choice_ == ProviderChoice::kService && !said_gone_) {
            said_gone_ = true;
            std::fprintf(stderr,
                         "%s: the NetBIOS service does not answer at %s (%s): LANAs 1 and up are unavailable "
                         "(NRC_BRIDGE)\n",
                         program_invocation_short_name, path_.c_str(), why.c_str());
        }
        return nullptr;
    }
    if (link_ && !link_->lost) {
        ::close(fd);  // another thread connected meanwhile
        return link_;
    }
    auto link = std::make_shared<Link>(*this, fd);
    if (!link->Register()) return nullptr;  // closes fd
    said_gone_ = false;
    link_ = std::move(link);
    link_->Watch();
    return link_;
}

bool ServiceClient::Send(const std::shared_ptr<Link> &link, const std::vector<std::uint8_t> &message) {
    return SendMessage(link->fd, message);
}

void ServiceClient::ReadOwnReply(const std::shared_ptr<Link> &link, SyncWaiter *waiter) {
    // korveld often answers within the time a sleeping caller takes to wake
    // (tens of microseconds on an idle virtual machine): look a little first.
    if (waiter && waiter->WorkOn(std::static_pointer_cast<CallerWork>(link), link->fd, POLLIN, kReplySpin))
        ++link->readers;
    link->Watch();
}

UCHAR ServiceClient::FinishHere(NCB *ncb, UCHAR rc) {
    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    auto &io = IoThread::Get();
    SyncWaiter waiter;
    {
        StateGuard guard;
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
        if (async && ncb->ncb_event) ncb->ncb_event->Reset();
        if (async && io.IsCurrent())
            // Not in the middle of the post routine that submitted it.
            asio::post(io.executor(), [ncb, rc] { Deliver(ncb, nullptr, rc); });
        else
            Deliver(ncb, async ? nullptr : &waiter, rc);
    }
    if (async) return NRC_GOODRET;
    waiter.Wait();
    return ncb->ncb_retcode;
}

UCHAR ServiceClient::Enumerate(NCB *ncb) {
    std::vector<Lana> lanas(1);  // LANA 0, the process's own
    const auto served = Lanas();
    for (const auto &entry : served.value_or(std::vector<service::LanaEntry>{})) {
        if (entry.number == 0) continue;
        lanas.emplace_back().number = entry.number;
    }
    return FillLanaEnum(lanas, ncb->ncb_buffer, ncb->ncb_length);
}

UCHAR ServiceClient::Netbios(NCB *ncb) {
    if (!BeginInFlight(ncb)) return NRC_IFBUSY;
    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    const bool on_network_thread = IoThread::Get().IsCurrent();
    UCHAR rc = NRC_GOODRET;
    if (async && ncb->ncb_post && ncb->ncb_event)
        rc = NRC_ILLCMD;
    else if (!async && (on_network_thread || StateGuard::Held()))
        rc = NRC_IFBUSY;  // it would wait for the thread that brings its answer
    if (rc != NRC_GOODRET) {
        Deliver(ncb, nullptr, rc, Delivery::kRefused);
        return rc;
    }
    if (CommandCode(ncb->ncb_command) == NCBENUM) return FinishHere(ncb, Enumerate(ncb));

    // A handed session's command runs here, as in-process.
    if (on_network_thread) {
        StateGuard guard;
        if (CarriedHere(ncb)) {
            ncb->ncb_retcode = NRC_PENDING;
            ncb->ncb_cmd_cplt = NRC_PENDING;
            if (ncb->ncb_event) ncb->ncb_event->Reset();
            // Not in the middle of the post routine that submitted it.
            asio::post(IoThread::Get().executor(), [this, ncb] {
                if (!CarryHere(ncb, nullptr)) Deliver(ncb, nullptr, NRC_SNUMOUT);
            });
            return NRC_GOODRET;
        }
    } else {
        SyncWaiter waiter;
        bool here;
        {
            StateGuard guard;
            here = CarryHere(ncb, async ? nullptr : &waiter);
        }
        if (here) {
            if (async) return NRC_GOODRET;
            waiter.Wait();
            return ncb->ncb_retcode;
        }
    }
    if (CommandCode(ncb->ncb_command) == NCBRESET) {
        // Its reset ends its sessions here too, before the service frees their numbers.
        StateGuard guard;
        EndHanded(ncb->ncb_lana_num, NRC_CMDCAN);
    }

    const auto link = Connected();
    if (!link) {
        Deliver(ncb, nullptr, NRC_BRIDGE, Delivery::kRefused);
        return NRC_BRIDGE;
    }
    // From a post routine the answer could come only through this very
    // thread: a refusal then comes as the block's completion.
    const bool wants_answer = async && !on_network_thread;
    service::SubmitRequest submit = SubmitOf(*ncb);
    if (wants_answer) submit.flags |= service::kWantsAnswer;
    SyncWaiter waiter, answer_waiter;
    UCHAR answer = NRC_PENDING;
    bool movable = false;  // a session handed meanwhile may take it (MoveReceiveAnys)
    std::vector<std::uint8_t> message;
    {
        StateGuard guard;
        if (link->lost) {
            Deliver(ncb, nullptr, NRC_SYSTEM, Delivery::kRefused);
            return NRC_SYSTEM;
        }
        submit.id = next_id_++;
        if (CommandCode(ncb->ncb_command) == NCBCANCEL && ncb->ncb_buffer) {
            const NCB *target = reinterpret_cast<const NCB *>(ncb->ncb_buffer);
            submit.cancel_command = target->ncb_command;
            for (const auto &[id, block] : outstanding_)
                if (block.ncb == target) submit.cancel_target = id;
        }
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
        if (async && ncb->ncb_event) ncb->ncb_event->Reset();
        outstanding_[submit.id] = {ncb, async ? nullptr : &waiter, ncb->ncb_length,
                                   wants_answer ? &answer_waiter : nullptr, &answer};
        // The caller waiting reads its reply itself.
        ReadOwnReply(link, async ? (wants_answer ? &answer_waiter : nullptr) : &waiter);
        movable = CommandCode(submit.command) == NCBRECVANY;
        // Encoded here: from now on the block may complete and be reused.
        service::EncodeSubmit(submit, message);
    }
    if (!Send(link, message)) {
        StateGuard guard;
        Lose(link, "it takes no more requests");
    } else if (movable) {
        StateGuard guard;
        NoteSent(submit.id);
    }
    if (!async) {
        waiter.Wait();
        return ncb->ncb_retcode;
    }
    if (!wants_answer) return NRC_GOODRET;
    answer_waiter.Wait();
    return answer;
}

std::optional<service::Reply> ServiceClient::Ask(const std::vector<std::uint8_t> &request, std::uint64_t id) {
    if (IoThread::Get().IsCurrent()) return std::nullopt;
    std::optional<service::Reply> reply;
    SyncWaiter waiter;
    {
        std::lock_guard lock(ask_mutex_);
        const auto link = Connected();
        if (!link) return std::nullopt;
        {
            StateGuard guard;
            if (link->lost) return std::nullopt;
            asked_.push_back({&waiter, &reply, id});
            ReadOwnReply(link, &waiter);
        }
        if (!Send(link, request)) {
            StateGuard guard;
            Lose(link, "it takes no more requests");
        }
    }
    waiter.Wait();
    return reply;
}

std::optional<std::vector<service::LanaEntry>> ServiceClient::Lanas() {
    if (IoThread::Get().IsCurrent()) {
        StateGuard guard;
        return last_lanas_;
    }
    std::vector<std::uint8_t> request;
    service::EncodeLanasRequest(request);
    auto reply = Ask(request);
    if (!reply) return std::nullopt;
    return std::move(reply->lanas);
}

std::optional<std::vector<service::OwnerEntry>> ServiceClient::NameOwners(UCHAR lana) {
    std::vector<std::uint8_t> request;
    service::EncodeNameOwnersRequest(lana, request);
    auto reply = Ask(request);
    if (!reply) return std::nullopt;
    return std::move(reply->owners);
}

NameCacheView ServiceClient::ViewNames(UCHAR lana, const NamesToView &names, std::chrono::milliseconds wait) {
    NameCacheView view;
    // One request per batch of names the request carries, at least one.
    std::size_t from = 0;
    do {
        service::NameCacheRequest request;
        request.lana = lana;
        request.wait_ms = static_cast<std::uint32_t>(std::clamp<std::int64_t>(wait.count(), 0, 0xFFFFFFFF));
        const std::size_t to = std::min(names.size(), from + service::kMaxCacheRequestNames);
        request.names.assign(names.begin() + static_cast<std::ptrdiff_t>(from),
                             names.begin() + static_cast<std::ptrdiff_t>(to));
        {
            StateGuard guard;
            request.id = next_id_++;
        }
        std::vector<std::uint8_t> message;
        service::EncodeNameCacheRequest(request, message);
        const auto reply = Ask(message, request.id);
        if (!reply) return NameCacheView{};
        NameCacheView part = ViewOf(reply->name_cache);
        part.asked.insert(part.asked.begin(), view.asked.begin(), view.asked.end());
        view = std::move(part);
        from = to;
    } while (from < names.size());
    return view;
}

}  // namespace nbt
