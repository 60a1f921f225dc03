// SPDX-License-Identifier: MIT
#include "pending_table.h"

#include <algorithm>

namespace nbt {

bool PendingTable::Add(NCB *ncb, SyncWaiter *waiter, ClientId client, std::size_t limit) {
    if (entries_.size() >= limit) return false;
    entries_.push_back({ncb, waiter, client});
    return true;
}

ClientId PendingTable::ClientOf(const NCB *ncb) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [ncb](const Entry &e) { return e.ncb == ncb; });
    return it == entries_.end() ? kProcessClient : it->client;
}

std::size_t PendingTable::CountOf(ClientId client) const {
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                  [client](const Entry &e) { return e.client == client; }));
}

bool PendingTable::Contains(const NCB *ncb) const {
    return std::any_of(entries_.begin(), entries_.end(), [ncb](const Entry &e) { return e.ncb == ncb; });
}

SyncWaiter *PendingTable::WaiterOf(const NCB *ncb) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [ncb](const Entry &e) { return e.ncb == ncb; });
    return it == entries_.end() ? nullptr : it->waiter;
}

bool PendingTable::HandToCaller(const NCB *ncb, std::weak_ptr<CallerWork> work, int fd, short events) {
    SyncWaiter *waiter = WaiterOf(ncb);
    return waiter && waiter->WorkOn(std::move(work), fd, events);
}

bool PendingTable::Complete(NCB *ncb, UCHAR rc) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [ncb](const Entry &e) { return e.ncb == ncb; });
    if (it == entries_.end()) return false;
    Entry entry = *it;
    entries_.erase(it);
    Deliver(entry.ncb, entry.waiter, rc);
    return true;
}

void PendingTable::CompleteAll(UCHAR rc) {
    // A post routine may submit new commands while we finish these; take
    // the list first so those are not swept up here.
    std::vector<Entry> entries;
    entries.swap(entries_);
    for (const Entry &entry : entries) Deliver(entry.ncb, entry.waiter, rc);
}

void PendingTable::CompleteAllOf(ClientId client, UCHAR rc) {
    std::vector<Entry> ended;
    std::erase_if(entries_, [&](const Entry &e) {
        if (e.client != client) return false;
        ended.push_back(e);
        return true;
    });
    for (const Entry &entry : ended) Deliver(entry.ncb, entry.waiter, rc);
}

}  // namespace nbt
