// SPDX-License-Identifier: MIT
// The network thread's side of the connection: replies read, checked
// against the blocks they answer, and delivered.
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "command_table.h"
#include "descriptor_passing.h"
#include "io_thread.h"
#include "service_client.h"
#include "service_link.h"
#include "state_lock.h"

namespace nbt {
namespace {

void SignalLater(SyncWaiter *waiter) {
    StateGuard::AfterUnlock([](void *w) { static_cast<SyncWaiter *>(w)->Signal(); }, waiter);
}

// Replies handled per wake-up before the other sockets get their turn.
constexpr int kRepliesPerTurn = 64;

}  // namespace

void ServiceClient::ReadReplies(const std::shared_ptr<Link> &link) {
    for (int turn = 0; turn < kRepliesPerTurn && ReadReply(link); ++turn) {
    }
}

bool ServiceClient::ReadReply(const std::shared_ptr<Link> &link) {
    for (;;) {
        if (link->lost) return false;
        iovec chunk{link->buffer.data(), link->buffer.size()};
        alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int))];
        msghdr header{};
        header.msg_iov = &chunk;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(link->fd, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return false;
        if (got < 0) return Lose(link, std::strerror(errno)), false;
        // A handed session's socket; closed below unless its reply takes it.
        int fd = TakeDescriptor(header);
        if (got == 0) {
            if (fd >= 0) ::close(fd);
            return Lose(link, "it closed the connection"), false;
        }
        const auto reply = (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC))
                               ? std::nullopt
                               : service::DecodeReply({link->buffer.data(), static_cast<std::size_t>(got)});
        const bool handled = reply && Handle(*reply, &fd);
        if (fd >= 0) ::close(fd);
        if (!handled) return Lose(link, "it sent a reply that does not fit"), false;
        return true;
    }
}

bool ServiceClient::Handle(const service::Reply &reply, int *fd) {
    if (*fd >= 0 && reply.type != service::ReplyType::kSessionHanded) return false;
    switch (reply.type) {
        case service::ReplyType::kSessionHanded:
            return *fd >= 0 && CompleteHanded(reply.completion, fd);
        case service::ReplyType::kAccepted:
        case service::ReplyType::kRefused: {
            // A moved block's completion is still to come, unless it was refused.
            if (dropped_.count(reply.id)) {
                if (reply.type == service::ReplyType::kRefused) dropped_.erase(reply.id);
                return true;
            }
            const auto it = outstanding_.find(reply.id);
            if (it == outstanding_.end() || !it->second.answer_waiter) return false;
            Outstanding &block = it->second;
            SyncWaiter *waiter = std::exchange(block.answer_waiter, nullptr);
            *block.answer = reply.type == service::ReplyType::kAccepted ? NRC_GOODRET : reply.rc;
            if (reply.type == service::ReplyType::kRefused) {
                Deliver(block.ncb, nullptr, reply.rc, Delivery::kRefused);
                outstanding_.erase(it);
            }
            SignalLater(waiter);
            return true;
        }
        case service::ReplyType::kCompleted:
            return Complete(reply.completion);
        case service::ReplyType::kLanaList:
        case service::ReplyType::kOwnerList:
        case service::ReplyType::kNameCacheView: {
            const std::uint64_t id =
                reply.type == service::ReplyType::kNameCacheView ? reply.name_cache.id : 0;
            // Without an id: the oldest request without one.
            const auto it = std::find_if(asked_.begin(), asked_.end(),
                                         [id](const Asked &asked) { return asked.id == id; });
            if (it == asked_.end()) return false;
            const Asked asked = *it;
            asked_.erase(it);
            if (reply.type == service::ReplyType::kLanaList) last_lanas_ = reply.lanas;
            *asked.reply = reply;
            SignalLater(asked.waiter);
            return true;
        }
        case service::ReplyType::kNameConflict:
            HandedNameConflict(reply.conflict);
            return true;
        case service::ReplyType::kResolved:
            break;  // this client never asks for one
    }
    return false;
}

bool ServiceClient::Complete(const service::Completion &done) {
    if (dropped_.erase(done.id)) return true;
    const auto it = outstanding_.find(done.id);
    if (it == outstanding_.end() || it->second.answer_waiter) return false;
    const Outstanding block = it->second;
    NCB *ncb = block.ncb;
    // Never more than the block's buffer held when it was sent.
    if (service::ReturnsData(ncb->ncb_command)) {
        if (done.data.size() > block.capacity || done.length > block.capacity) return false;
        if (!done.data.empty() && !ncb->ncb_buffer) return false;
        if (!done.data.empty()) std::memcpy(ncb->ncb_buffer, done.data.data(), done.data.size());
    } else if (!done.data.empty()) {
        return false;
    }
    ncb->ncb_lsn = done.lsn;
    ncb->ncb_num = done.num;
    ncb->ncb_length = done.length;
    // A chain send's callname holds its second buffer, the program's own.
    if (!service::IsChainSend(ncb->ncb_command))
        std::copy(done.callname.begin(), done.callname.end(), ncb->ncb_callname);
    std::copy(done.name.begin(), done.name.end(), ncb->ncb_name);
    outstanding_.erase(it);
    if (CommandCode(ncb->ncb_command) == NCBSSTAT) AddHandedCounts(*ncb, done);
    Deliver(ncb, block.waiter, done.rc);
    return true;
}

void ServiceClient::Lose(const std::shared_ptr<Link> &link, const char *why) {
    if (link->lost) return;
    link->lost = true;
    ::shutdown(link->fd, SHUT_RDWR);
    link->Unregister();
    if (link_ == link) link_.reset();
    if (!outstanding_.empty())
        std::fprintf(
            stderr, "%s: lost the NetBIOS service at %s (%s): its %zu pending commands end with NRC_SYSTEM\n",
            program_invocation_short_name, path_.c_str(), why, outstanding_.size());
    auto blocks = std::move(outstanding_);
    outstanding_.clear();
    for (auto &[id, block] : blocks) {
        if (block.answer_waiter) {
            *block.answer = NRC_SYSTEM;
            Deliver(block.ncb, nullptr, NRC_SYSTEM, Delivery::kRefused);
            SignalLater(block.answer_waiter);
        } else {
            Deliver(block.ncb, block.waiter, NRC_SYSTEM);
        }
    }
    auto asked = std::move(asked_);
    asked_.clear();
    for (const Asked &waiting : asked) SignalLater(waiting.waiter);
    // The numbers of the sessions handed to us are no longer reserved anywhere.
    EndAllHanded(NRC_SYSTEM);
}

}  // namespace nbt
