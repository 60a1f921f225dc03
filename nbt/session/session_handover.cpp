// SPDX-License-Identifier: MIT
// korveld hands an established session's socket to the program that opened
// it, so its messages never cross the service: the service keeps the number
// (and the session in its status) until the program says it is over, and the
// program carries the session in a node of its own that has no sockets.
#include <unistd.h>

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

}  // namespace nbt
