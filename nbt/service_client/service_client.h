// SPDX-License-Identifier: MIT
// The program's side of korveld: NCBs for LANAs 1 and up go over the
// service's local socket, and their completions come back through the same
// doors as the in-process provider's (completion.h): BeginInFlight() when
// Netbios() takes a block, Deliver() on the network thread, holding the state
// lock, when its reply comes. So events, post routines, synchronous waits
// and NRC_IFBUSY behave as they do in-process.
//
// A session a CALL or LISTEN opens comes to the program with its socket
// (SCM_RIGHTS, with the completion): its sends, receives, hang-up, cancels,
// keep-alives and time-outs then run here, in a node that carries handed
// sessions alone (handed_sessions.cpp), and the service hears only that it
// is over, with the messages it carried for the adapter's counters.
//
// One connection per process, made on first use. A child after fork() never
// uses its parent's: it connects afresh, and what was pending in it ends
// with NRC_CMDCAN (completion.h). When the service goes away, the blocks it
// carried end with NRC_SYSTEM and the next command connects again; where
// nothing answers, LANAs 1 and up are not there (NRC_BRIDGE) and NCBENUM
// lists LANA 0 alone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "completion.h"
#include "name_cache_view.h"
#include "nb30.h"
#include "process_slot.h"
#include "provider_choice.h"
#include "service_reply.h"
#include "settings.h"

namespace nbt {

class Node;

class ServiceClient {
public:
    static ServiceClient &Get();
    static ProcessSlot<ServiceClient> &Slot();

    // Whether NCBs for LANAs 1 and up (and NCBENUM) go here: forced, or the
    // service answered the first time this process asked.
    bool Serves();
    UCHAR Netbios(NCB *ncb);

    // The service's LANAs, nullopt when it does not answer.
    std::optional<std::vector<service::LanaEntry>> Lanas();
    // Who holds each name of a LANA the service serves.
    std::optional<std::vector<service::OwnerEntry>> NameOwners(UCHAR lana);

    // korvel-nb names on a LANA the service serves: names resolved by its
    // node there, and its cache. Not reset when the service does not answer.
    NameCacheView ViewNames(UCHAR lana, const NamesToView &names, std::chrono::milliseconds wait);

    // In a child after fork(): drops its copy of the parent's connection.
    void CloseInChild();

    ServiceClient(const ServiceClient &) = delete;
    ServiceClient &operator=(const ServiceClient &) = delete;

private:
    ServiceClient();

    // A block the service carries, by the id it was sent with.
    struct Outstanding {
        NCB *ncb = nullptr;
        SyncWaiter *waiter = nullptr;  // the synchronous caller's
        WORD capacity = 0;             // ncb_length when it was sent: the most the reply may fill
        // The asynchronous caller waiting to hear whether it was accepted.
        SyncWaiter *answer_waiter = nullptr;
        UCHAR *answer = nullptr;
        bool sent = false;  // its request is on its way (so far only noted for NCBRECVANY)
    };
    // A diagnostic request waiting for its reply: those with no id are
    // answered in the order sent, the others by their id.
    struct Asked {
        SyncWaiter *waiter = nullptr;
        std::optional<service::Reply> *reply = nullptr;
        std::uint64_t id = 0;
    };
    struct Link;

    // State lock held: the live connection, made if there is none.
    std::shared_ptr<Link> Connected();
    bool Send(const std::shared_ptr<Link> &link, const std::vector<std::uint8_t> &message);
    std::optional<service::Reply> Ask(const std::vector<std::uint8_t> &request, std::uint64_t id = 0);
    // State lock held, before the request goes: a waiting caller (waiter,
    // if any) reads the replies itself, else the network thread watches.
    void ReadOwnReply(const std::shared_ptr<Link> &link, SyncWaiter *waiter);
    UCHAR Enumerate(NCB *ncb);
    UCHAR FinishHere(NCB *ncb, UCHAR rc);

    // State lock held, on the network thread or a caller's waiting for its
    // reply (service_client_replies.cpp). ReadReply: false when there was
    // none, or the link was lost.
    void ReadReplies(const std::shared_ptr<Link> &link);
    bool ReadReply(const std::shared_ptr<Link> &link);
    // *fd: a descriptor that came with the reply (-1: none), set to -1 once taken.
    bool Handle(const service::Reply &reply, int *fd);
    bool Complete(const service::Completion &done);
    void Lose(const std::shared_ptr<Link> &link, const char *why);

    // Handed sessions, state lock held (handed_sessions.cpp).
    // Carries the block here if it is a command of a handed session or a
    // cancel of a block pending here; false when it is the service's.
    bool CarryHere(NCB *ncb, SyncWaiter *waiter);
    // The same test alone.
    bool CarriedHere(const NCB *ncb) const;
    // A CALL or LISTEN completed with its session's socket.
    bool CompleteHanded(const service::Completion &done, int *fd);
    // Tells the service a handed session is over (lsn 0: none is; only the
    // messages carried since the last time).
    void SayOver(UCHAR lana, UCHAR lsn);
    // A name of handed sessions is in conflict: they end as the service's own do.
    void HandedNameConflict(const service::NameConflict &conflict);
    // An NCBSSTAT the service answered: what is pending on the handed
    // sessions it lists is only known here.
    void AddHandedCounts(NCB &ncb, const service::Completion &done);
    // NCBRECVANY blocks the service holds that a session handed since would
    // feed: the service never sees that session's messages, so they are
    // carried here from now on, and cancelled there.
    void MoveReceiveAnys(UCHAR lana);
    // State lock held, once the request of a block that may have moved is sent.
    void NoteSent(std::uint64_t id);
    void CancelInService(UCHAR lana, std::uint64_t target, UCHAR command);
    // Sends on the live link at once, holding the state lock, so that it goes
    // before any request sent after it; link_ must be live.
    void SendHoldingLock(const std::vector<std::uint8_t> &message);
    // Ends the handed sessions of a LANA the program resets (NRC_CMDCAN) or
    // of a service that is gone (NRC_SYSTEM), as a reset ends sessions.
    void EndHanded(UCHAR lana, UCHAR rc);
    void EndAllHanded(UCHAR rc);

    const ProviderChoice choice_;
    const std::string path_;
    std::atomic<bool> decided_{false};
    bool serves_ = false;  // written once, before decided_
    std::mutex decide_mutex_;

    // State lock held.
    std::shared_ptr<Link> link_;
    std::unordered_map<std::uint64_t, Outstanding> outstanding_;
    std::deque<Asked> asked_;
    std::uint64_t next_id_ = 1;
    std::vector<service::LanaEntry> last_lanas_;
    const Settings settings_;  // the handed sessions' (keep-alives, close time-out)
    // Nodes of handed sessions by LANA, and what their counters were when
    // the service last heard them.
    struct Handed {
        std::shared_ptr<Node> node;
        std::uint32_t said_sent = 0, said_received = 0;
        std::uint16_t said_failures = 0;
    };
    std::map<UCHAR, Handed> handed_;
    // Blocks moved here (and the cancels that followed them there): what the
    // service still says of them is dropped.
    std::unordered_set<std::uint64_t> dropped_;
    // Blocks moved before their request went: cancelled there once it has.
    struct Unsent {
        UCHAR lana = 0;
        UCHAR command = 0;
    };
    std::unordered_map<std::uint64_t, Unsent> cancel_once_sent_;
    std::mutex ask_mutex_;  // sends a diagnostic and queues its waiter as one step
    bool said_gone_ = false;
};

}  // namespace nbt
