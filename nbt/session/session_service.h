// SPDX-License-Identifier: MIT
// The session service of one reset LANA: the NCBs that open, use and close
// sessions (the commands the command table gives it) and the connections the
// node's session listener accepts. It sees the node's names only through
// HeldNames (service_links.h). Network thread only.
#pragma once

#include <asio.hpp>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "command_table.h"
#include "nb30.h"
#include "netbios_name.h"
#include "service_links.h"
#include "session_numbers.h"

namespace nbt {

class Node;
class Session;
class SessionAnswer;

class SessionService final : public std::enable_shared_from_this<SessionService>,
                             public CommandTarget,
                             public OpenSessions {
public:
    // links.names is followed only while this service is open.
    SessionService(std::shared_ptr<Node> node, const ServiceLinks &links);
    ~SessionService();
    SessionService(const SessionService &) = delete;
    SessionService &operator=(const SessionService &) = delete;

    void Submit(NCB *ncb) override;
    // A connection on the node's session port.
    void OnAccept(asio::ip::tcp::socket socket);
    // Reset: every session ends with an RST, half-open connections close.
    // The node has already ended the pending NCBs.
    void Shutdown();
    // A client's reset (Node::FreeClient): its sessions are hung up as
    // Shutdown() hangs them up and their numbers are free. Its own NCBs
    // have already ended; the process's still on them end (Session::Drop).
    void DropClient(ClientId client);
    // The node moved to another address (Session::LeaveAddress); answers
    // to incoming connections under way are dropped.
    void LeaveAddress();

    // ---- handing sessions over (session_handover.cpp) -------------------
    // korveld: the session `lsn` of `client`, just established, goes to
    // that client: a duplicate of its socket, and in *unread what was read
    // of its stream and not delivered, in *name_number its local name's
    // number. -1 when it stays here.
    int HandOver(UCHAR lsn, ClientId client, std::vector<std::uint8_t> *unread, UCHAR *name_number);
    // The client has ended a session handed to it; false if it has none
    // handed under that number.
    bool HandedBack(UCHAR lsn, ClientId client);
    // The client's side, in a node that carries only handed sessions: the
    // established session `opener` (its CALL or LISTEN, as completed)
    // opened, on socket fd (owned from here on). False when it cannot be.
    bool Adopt(NCB *opener, int fd, std::span<const std::uint8_t> unread);
    bool Carries(UCHAR lsn) const { return sessions_.contains(lsn); }
    // An NCBSSTAT reply the service made (header and whole records): what
    // is pending here on the sessions it lists, and the receive-anys for
    // its name, added in, as the service cannot see them.
    void AddPendingCounts(std::span<UCHAR> reply) const;
    // Called with each session's number once it is free here.
    void OnRelease(std::function<void(UCHAR lsn)> released) { on_release_ = std::move(released); }
    // korveld: called when the local name of sessions handed to a client
    // goes into conflict, once per client.
    void OnHandedConflict(std::function<void(ClientId, const NetbiosName &)> notice) {
        on_handed_conflict_ = std::move(notice);
    }

    // ---- OpenSessions, for the name service -----------------------------
    bool HasSessions(const NetbiosName &name) const override;
    std::size_t SessionCount() const override;
    // Its pending LISTENs end with NRC_NAMERR.
    void OnNameDeleted(const NetbiosName &name) override;
    void OnNameConflict(const NetbiosName &name) override;

    // ---- for Session and SessionAnswer ------------------------------------
    // The session's number is free again; ends the name's last session if so.
    void Release(Session &session);
    // The session's connection has ended but its number waits for the close
    // to be reported; a deregistered name need not wait for that.
    void Ended(const Session &session);
    // A session hung up and now waits for the peer's FIN outside the table.
    void Draining(const std::shared_ptr<Session> &session);
    // An incoming SESSION REQUEST: the LISTEN it completes (now marked as
    // taken), or null and the negative response code in *refusal.
    std::shared_ptr<Session> MatchListen(const NetbiosName &called, const NetbiosName &calling,
                                         const std::string &scope, std::uint8_t *refusal);
    // Puts back a listen taken by MatchListen whose answer could not be sent.
    void ReturnListen(const std::shared_ptr<Session> &session);
    void AnswerDone(SessionAnswer *answer);
    // No address of a call's target accepted the connection.
    void Unreachable(const NetbiosName &remote) const { links_.names->ForgetAddress(remote); }
    // The NCBRECVANY a message or close of a session of `client` on `local`
    // goes to, now taken off the list; null when none waits
    // (session_receive_any.cpp).
    NCB *TakeReceiveAny(const NetbiosName &local, ClientId client);
    // NCBRECVANYs of `client` pending for a name number (0xFF ones
    // included); 0xFF: all.
    std::size_t PendingReceiveAny(UCHAR number, ClientId client) const;
    // NCBCANCEL of a pending command of this service: it ends with
    // NRC_CMDCAN; a cancelled send takes its session down with it.
    void Cancel(NCB *ncb);

private:
    using Handler = void (SessionService::*)(NCB *);

    void Listen(NCB *ncb);
    void Call(NCB *ncb);
    void Hangup(NCB *ncb);
    void Send(NCB *ncb);
    void Receive(NCB *ncb);
    void Status(NCB *ncb);
    void Unlink(NCB *ncb);
    void ReceiveAny(NCB *ncb);
    // The entry for ncb_lsn, or null after ending the NCB with NRC_SNUMOUT
    // (also when it is another client's).
    std::shared_ptr<Session> Lookup(NCB *ncb);
    // Checks ncb_name for LISTEN and CALL; 0 when it may open a session.
    UCHAR CheckLocalName(const NCB *ncb) const;
    // A session's data commands end with NRC_NAMCONF while its name is in conflict.
    bool NameInConflict(const Session &session) const;
    std::shared_ptr<Session> Open(NCB *ncb);
    // Deletes a deregistered name once nothing holds it any more.
    void DeleteIfUnused(const NetbiosName &name);

    std::shared_ptr<Node> node_;
    const ServiceLinks &links_;
    bool open_ = true;
    SessionNumbers numbers_;
    std::map<UCHAR, std::shared_ptr<Session>> sessions_;
    // Pending LISTENs in the order they were posted. A taken one waits for
    // its positive answer to go out; entries whose session has moved on are
    // dropped as the list is next searched.
    struct PendingListen {
        std::shared_ptr<Session> session;
        bool taken = false;
    };
    std::vector<PendingListen> listens_;
    std::vector<std::shared_ptr<SessionAnswer>> answers_;
    std::vector<std::weak_ptr<Session>> draining_;
    std::vector<NCB *> receive_any_;  // NCBRECVANY, oldest first
    std::function<void(UCHAR lsn)> on_release_;
    std::function<void(ClientId, const NetbiosName &)> on_handed_conflict_;
};

}  // namespace nbt
