// SPDX-License-Identifier: MIT
// The NCBs a node has accepted and not yet finished. A reset finishes every
// one of them, so no caller stays blocked across it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "client_id.h"
#include "completion.h"
#include "nb30.h"

namespace nbt {

class PendingTable {
public:
    // False (and nothing added) when `limit` NCBs are already pending.
    bool Add(NCB *ncb, SyncWaiter *waiter, ClientId client, std::size_t limit);
    bool Contains(const NCB *ncb) const;
    // The client a pending NCB was submitted for (the process when none is).
    ClientId ClientOf(const NCB *ncb) const;
    std::size_t CountOf(ClientId client) const;
    // The synchronous caller waiting for a pending NCB, if one does.
    SyncWaiter *WaiterOf(const NCB *ncb) const;
    // Finishes a pending NCB with rc; false if it was not pending (already
    // finished or cancelled), in which case nothing is touched.
    bool Complete(NCB *ncb, UCHAR rc);
    // Finishes every pending NCB with rc, oldest first.
    void CompleteAll(UCHAR rc);
    // The same for the NCBs of one client.
    void CompleteAllOf(ClientId client, UCHAR rc);
    // Finishes an NCB the node would not take (it is shut, or full) with rc.
    void Refuse(NCB *ncb, SyncWaiter *waiter, UCHAR rc) { Deliver(ncb, waiter, rc); }
    // Hands the wait for `events` on `fd` to the synchronous caller of a
    // pending NCB (SyncWaiter::WorkOn); false when none waits or it cannot.
    bool HandToCaller(const NCB *ncb, std::weak_ptr<CallerWork> work, int fd, short events);
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        NCB *ncb;
        SyncWaiter *waiter;
        ClientId client;
    };
    std::vector<Entry> entries_;  // in submission order
};

}  // namespace nbt
