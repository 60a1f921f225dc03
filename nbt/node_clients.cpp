// SPDX-License-Identifier: MIT
// The clients other than the process that share a node: each resets it for
// itself, and what it frees or is capped at is its own alone.
#include "name_service.h"
#include "node.h"
#include "session_service.h"

namespace nbt {

Limits SharedLimits() {
    return Limits{.sessions = 254, .ncbs = 254, .names = 254, .reserve_name_number_1 = false, .shared = true};
}

bool Node::HasClient(ClientId client) const {
    return client == kProcessClient || clients_.contains(client);
}

void Node::ResetClient(ClientId client, const Limits &limits) {
    if (client == kProcessClient) return;
    FreeClient(client);
    clients_[client] = limits;
}

void Node::FreeClient(ClientId client) {
    if (client == kProcessClient || !clients_.erase(client) || !open_) return;
    auto self = shared_from_this();
    // As a reset: callers first, then the sessions, then the names, which
    // the sessions no longer hold.
    pending_.CompleteAllOf(client, NRC_CMDCAN);
    if (session_service_) session_service_->DropClient(client);
    if (name_service_) name_service_->DropClient(client);
}

UCHAR Node::ClientRoom(ClientId client, ClientLimit what, std::size_t in_use, UCHAR full) const {
    if (client == kProcessClient) return NRC_GOODRET;
    const auto it = clients_.find(client);
    if (it == clients_.end()) return NRC_ENVNOTDEF;
    const Limits &own = it->second;
    std::size_t cap = 0, asked = 0;
    switch (what) {
        case ClientLimit::kNcbs:
            cap = settings_.client_max_ncbs;
            asked = own.ncbs;
            break;
        case ClientLimit::kNames:
            cap = settings_.client_max_names;
            asked = own.names;
            break;
        case ClientLimit::kSessions:
            cap = settings_.client_max_sessions;
            asked = own.sessions;
            break;
    }
    if (in_use >= cap) return NRC_NORES;
    if (in_use >= asked) return full;
    return NRC_GOODRET;
}

}  // namespace nbt
