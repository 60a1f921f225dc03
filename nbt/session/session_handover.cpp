// SPDX-License-Identifier: MIT
// korveld hands an established session's socket to the program that opened
// it, so its messages never cross the service: the service keeps the number
// (and the session in its status) until the program says it is over, and the
// program carries the session in a node of its own that has no sockets.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "node.h"
#include "session.h"
#include "session_service.h"

namespace nbt {

int SessionService::HandOver(UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread,
                             UCHAR *name_number) {
    const auto it = sessions_.find(lsn);
    if (!open_ || it == sessions_.end() || it->second->client() != client || client == kProcessClient)
        return -1;
    const auto held = links_.names ? links_.names->Find(it->second->local()) : std::nullopt;
    if (!held) return -1;
    *name_number = held->number;
    return it->second->HandOver(unread);
}

bool SessionService::HandedBack(UCHAR lsn, ClientId client) {
    const auto it = sessions_.find(lsn);
    if (it == sessions_.end() || it->second->client() != client ||
        it->second->phase() != SessionPhase::kHanded)
        return false;
    it->second->HandedBack();
    return true;
}

bool SessionService::Adopt(NCB *opener, int fd, std::span<const std::uint8_t> unread) {
    const UCHAR lsn = opener->ncb_lsn;
    if (!open_) {
        ::close(fd);
        return false;
    }
    // A number still here is of a session the service has ended since:
    // ours is the one it means now.
    if (const auto stale = sessions_.find(lsn); stale != sessions_.end()) {
        auto old = stale->second;
        sessions_.erase(stale);
        numbers_.Release(lsn);
        old->Drop();
    }
    if (!numbers_.Take(lsn)) {
        ::close(fd);
        return false;
    }
    auto session = std::make_shared<Session>(node_, this, lsn, opener);
    sessions_[lsn] = session;
    if (session->Adopt(fd, unread)) return true;
    sessions_.erase(lsn);
    numbers_.Release(lsn);
    return false;
}

// ---- Session -------------------------------------------------------------------

int Session::HandOver(std::vector<std::uint8_t> *unread) {
    if (phase_ != SessionPhase::kEstablished || !conn_.open() || !receives_.empty() || !sends_.empty() ||
        WriterBusy() || input_drivers_ > 0 || direct_)
        return -1;
    const int copy = ::fcntl(conn_.fd(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return -1;
    auto self = shared_from_this();
    // The stream as it came, from the first byte not delivered: the message
    // being read (or the part of a header), then what was read past it.
    unread->clear();
    if (message_ready_ || in_body_) {
        const auto header = codec::EncodeSessionHeader(codec::SessionType::kMessage,
                                                       static_cast<std::uint32_t>(body_length_));
        unread->assign(header->begin(), header->end());
        const std::size_t got = message_ready_ ? body_length_ : body_got_;
        if (got > 0) unread->insert(unread->end(), body_.get(), body_.get() + got);
    } else {
        unread->assign(in_header_.begin(), in_header_.begin() + static_cast<std::ptrdiff_t>(header_got_));
    }
    if (Ahead())
        unread->insert(unread->end(), ahead_.begin() + static_cast<std::ptrdiff_t>(ahead_at_), ahead_.end());
    phase_ = SessionPhase::kHanded;
    message_ready_ = in_body_ = false;
    header_got_ = body_got_ = body_length_ = 0;
    DropAhead();
    keep_alive_timer_.reset();
    if (timeouts_) timeouts_->cancel();
    UpdateWatch();  // wants nothing now: disarmed
    return copy;
}

bool Session::Adopt(int fd, std::span<const std::uint8_t> unread) {
    auto self = shared_from_this();
    opener_ = nullptr;
    if (!conn_.Attach(fd, std::weak_ptr<PolledSocket>(self))) return false;
    ahead_.assign(unread.begin(), unread.end());
    ahead_at_ = 0;
    phase_ = SessionPhase::kEstablished;
    ArmKeepAlive();
    PumpInput();
    return true;
}

void Session::ResetHanded() {
    // Reset whoever else holds it: the client's next read finds it reset.
    if (conn_.open()) CloseSocket(/*reset_peer=*/true);
}

void Session::HandedBack() {
    if (phase_ != SessionPhase::kHanded) return;
    auto self = shared_from_this();
    // The client has done with the connection what it meant to (a FIN, an
    // RST, a close it reported): our copy goes quietly.
    conn_.Close();
    Release();
}

void SessionService::AddPendingCounts(std::span<UCHAR> reply) const {
    SESSION_HEADER header;
    if (reply.size() < sizeof header) return;
    std::memcpy(&header, reply.data(), sizeof header);
    const std::size_t records =
        std::min<std::size_t>(header.num_sess, (reply.size() - sizeof header) / sizeof(SESSION_BUFFER));
    for (std::size_t i = 0; i < records; ++i) {
        UCHAR *at = reply.data() + sizeof header + i * sizeof(SESSION_BUFFER);
        SESSION_BUFFER record;
        std::memcpy(&record, at, sizeof record);
        const auto it = sessions_.find(record.lsn);
        if (it == sessions_.end()) continue;
        record.rcvs_outstanding =
            static_cast<UCHAR>(std::min<std::size_t>(it->second->pending_receives(), 255));
        record.sends_outstanding =
            static_cast<UCHAR>(std::min<std::size_t>(it->second->pending_sends(), 255));
        std::memcpy(at, &record, sizeof record);
    }
    const std::size_t any = header.rcv_any_outstanding + PendingReceiveAny(header.sess_name, kProcessClient);
    header.rcv_any_outstanding = static_cast<UCHAR>(std::min<std::size_t>(any, 255));
    std::memcpy(reply.data(), &header, sizeof header);
}

}  // namespace nbt
