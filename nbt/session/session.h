// SPDX-License-Identifier: MIT
// One local session table entry: from the LISTEN or CALL that reserves its
// number, through the established TCP connection, to the close that is
// reported once. Used only holding the state lock; every async handler holds
// a shared_ptr to it, so a handler that runs after a reset finds it detached.
#pragma once

#include <sys/types.h>

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "client_id.h"
#include "completion.h"
#include "nb30.h"
#include "netbios_name.h"
#include "session_packet.h"
#include "socket_poller.h"

namespace nbt {

class Node;
class SessionService;

enum class SessionPhase {
    kListening,    // LISTEN pending, no connection yet
    kCalling,      // CALL in progress: resolve, connect, request
    kEstablished,  // data flows
    kHangingUp,    // HANGUP waits for the sends in flight
    kClosed,       // peer closed (FIN); reported once by the next command
    kAborted,      // connection failed (RST, bad packet, send timeout); same
    kDraining,     // hung up: our FIN sent, the peer's awaited; out of the table
    kGone,         // released or detached; nothing left to do
    kHanded,       // korveld: its client carries it; the number and a copy of the socket stay here
};

class Session final : public std::enable_shared_from_this<Session>, public CallerWork, public PolledSocket {
public:
    // opener: the LISTEN or CALL NCB, whose ncb_rto and ncb_sto (500 ms
    // units, 0 = none) become the session's receive and send time-outs.
    Session(std::shared_ptr<Node> node, SessionService *service, UCHAR lsn, NCB *opener);
    ~Session();

    UCHAR lsn() const { return lsn_; }
    // Who opened it: only that client may use its number.
    ClientId client() const { return client_; }
    const NetbiosName &local() const { return local_; }
    const NetbiosName &remote() const { return remote_; }
    SessionPhase phase() const { return phase_; }
    NCB *opener() const { return opener_; }
    // The SESSION_BUFFER state byte.
    UCHAR StatusState() const;
    std::size_t pending_receives() const { return receives_.size(); }
    std::size_t pending_sends() const {
        return sends_.size() - static_cast<std::size_t>(!sends_.empty() && !sends_.front().ncb);
    }
    // Holds its local name for a session (a pending LISTEN does not).
    bool HoldsName() const;

    // A listen matched: the connection and the caller's name. Completes the LISTEN.
    void Accept(asio::ip::tcp::socket socket, const NetbiosName &caller);
    // A call's name was resolved to these session endpoints (tried in order).
    void Connect(std::vector<asio::ip::tcp::endpoint> targets);

    void Send(NCB *ncb);
    void Receive(NCB *ncb);
    void Hangup(NCB *ncb);
    // Ends the LISTEN or CALL still pending with rc, and releases the number.
    void EndOpener(UCHAR rc);
    // The local name went into conflict: a pending LISTEN or CALL ends, and
    // so do the RECEIVEs waiting, all with NRC_NAMCONF. An established
    // session stays up; sends under way finish.
    void NameInConflict();

    // A message or an unreported close waiting with no NCBRECV for it goes
    // to an NCBRECVANY of the service, if one waits.
    void OfferToReceiveAny();
    // NCBCANCEL of this session's LISTEN or CALL, a receive or a send: the
    // NCB ends with NRC_CMDCAN; a send cannot be taken back from the
    // stream, so the session is aborted too.
    void Cancel(NCB *ncb);

    // korveld: an established session whose socket goes to the client that
    // opened it. Returns a duplicate of the socket, and in *unread what was
    // read of the stream and not delivered; -1 (and the session goes on
    // here) when it is not established, or has NCBs of its own. From then on
    // nothing here reads or writes the socket: the session only holds its
    // number and name until the client ends it (HandedBack) or is reset or
    // dropped (Detach, which then ends the connection itself).
    int HandOver(std::vector<std::uint8_t> *unread);
    // The client has ended the handed session: its copy of the socket
    // closes, and the number is free.
    void HandedBack();
    // The client's side: an established session's socket, and what the
    // service had read of its stream, taken over by a session opened on the
    // client's CALL or LISTEN. False when the socket cannot be watched.
    bool Adopt(int fd, std::span<const std::uint8_t> unread);

    // Reset: RST to the peer (a plain close once hung up), timers stopped,
    // no NCB touched (the node has already ended them). The session never
    // calls its service again.
    void Detach();
    // A client's reset: as Detach(), but what is still pending on the
    // session (the process may use any client's sessions) ends with
    // NRC_SABORT instead of being left to a reset that is not coming.
    void Drop();
    // The node moved to another address: a connection of the old one is
    // dead. An open session is aborted (its NCBs end with NRC_SABORT), a
    // call already connecting ends with NRC_SABORT; a LISTEN, or a call
    // still looking its name up, carries on.
    void LeaveAddress();

    // A synchronous RECV's caller reads the socket itself (POLLIN); one whose
    // SEND the socket did not take at once writes the rest itself (POLLOUT).
    short Step(short events, bool at_once) override;
    void Leave(short events) override;
    // The network thread: the established connection is ready.
    void OnReady(std::uint32_t events) override;
    void Recheck() override;

private:
    using Clock = std::chrono::steady_clock;
    struct PendingIo {
        NCB *ncb;  // null: a keep-alive the socket did not take at once
        Clock::time_point deadline = Clock::time_point::max();  // max: no time-out
        std::array<std::uint8_t, codec::kSessionHeaderSize> header{};
        std::size_t sent = 0;  // of header and buffers
    };

    bool Live() const { return phase_ != SessionPhase::kGone; }
    // Ends an NCB of this session. A receive whose buffer a message is being
    // read into gives that message's bytes back to the session first.
    void Finish(NCB *ncb, UCHAR rc);
    void Release();
    // When a receive or send given now runs out (units of 500 ms, 0: never);
    // the session's one time-out timer is armed for it if it is the first.
    Clock::time_point Deadline(UCHAR units);
    void ArmTimeouts(Clock::time_point due);
    void OnTimeouts(Clock::time_point due);
    void OnTimeout(NCB *ncb, bool send);

    // Call setup (session_call.cpp).
    void ConnectNext();
    void OnConnected(const asio::error_code &ec);
    void OnCallReply(const asio::error_code &ec);
    void OnCallReplyBody(const asio::error_code &ec);
    void FailCall(UCHAR rc);
    void ArmSetupTimer();

    // Data (session_data.cpp).
    void Establish();
    // Reads what the socket holds, without waiting, until it would block or
    // a message waits for a receive; then the network thread waits for more.
    // Whoever holds the state lock reads: a caller's thread or the network
    // thread, which only waits for the socket to become readable.
    void PumpInput();
    // Reads until a message has gone to a receive, or nothing more is there.
    void ReadOneMessage();
    enum class Input { kProgress, kBlocked, kStopped };
    Input ReadSome();
    Input ReadHeaderBytes();
    Input ReadBodyBytes();
    // n more bytes of the body are in; completes the message once all are.
    Input BodyBytesIn(std::size_t n);
    // Up to `size` bytes for the message being read: those read ahead
    // first, then the socket's, without waiting (RecvNow's results).
    ssize_t Take(void *into, std::size_t size);
    // Where a header read may go on past the header, if nothing is read
    // ahead: the first receive's buffer (ncb), or with none waiting, the
    // session's own (ncb null). A message that fits then costs one read.
    struct Along {
        std::uint8_t *data = nullptr;
        std::size_t size = 0;
        NCB *ncb = nullptr;
    };
    Along ReadAlongInto() const;
    bool Ahead() const { return ahead_at_ < ahead_.size(); }
    // Read ahead, with no caller reading and a receive or the next message
    // waiting for it: the socket may have nothing more to wake anyone.
    bool AheadUnread() const { return Ahead() && input_drivers_ == 0 && WantsInput(); }
    void DropAhead();
    Input DrainSome();
    // Arms or disarms the network thread's watch on the connection for what
    // it has to do there: read, when the socket said it had nothing and no
    // caller reads it; write, when a send waits for room and no caller
    // writes it.
    // later: a socket to arm is left to a recheck a little later instead.
    void UpdateWatch(bool later = false);
    void EnsureBodyRoom();
    void MoveDirectToBody();
    bool WantsInput() const;
    void DeliverMessage();
    // Writes what the socket takes now of a send's message, from io.sent;
    // returns how much that was. A full buffer is no failure; with nobody
    // to tell (failed null), the queued write finds out which it was.
    std::size_t WriteNow(const PendingIo &io, bool *failed = nullptr);
    // The caller's own send, once the socket takes more.
    void ContinueDrivenSend();
    bool WriterBusy() const { return writing_ || send_driven_; }
    // The network thread's sends: as much as the socket takes, then a watch.
    void WriteSome();
    void ArmKeepAlive();
    // Moves the NCBRECVANY of the service that this session's next message
    // or close goes to into receives_ (session_receive_any.cpp).
    bool TakeReceiveAny();
    void OnKeepAliveDue();

    // Closing (session_close.cpp).
    void PeerClosed();
    void Abort(bool reset_peer);
    void Closed(UCHAR code);
    void ReportClose(NCB *ncb);
    void FinishHangup();
    void EndDrain();
    void CloseSocket(bool reset_peer);
    // Ends a handed session's connection while its client may still hold
    // the socket (closing our copy alone would not): an RST to the peer.
    void ResetHanded();

    std::shared_ptr<Node> node_;
    SessionService *service_;
    UCHAR lsn_;
    ClientId client_;
    NetbiosName local_;
    NetbiosName remote_;
    UCHAR rto_;
    UCHAR sto_;
    SessionPhase phase_;
    NCB *opener_;  // the LISTEN or CALL while it is pending
    UCHAR close_code_ = NRC_GOODRET;

    // Asio's until the session is established (connect, session request),
    // then conn_, watched through the SocketPoller.
    asio::ip::tcp::socket socket_;
    PolledFd conn_;
    asio::steady_timer setup_timer_;

    // Call setup.
    std::vector<asio::ip::tcp::endpoint> targets_;
    std::size_t next_target_ = 0;
    int retargets_ = 0;
    unsigned setup_attempt_ = 0;  // the attempt the setup timer is armed for
    std::vector<std::uint8_t> request_;
    std::array<std::uint8_t, 6> reply_body_{};
    std::size_t reply_length_ = 0;

    // Receiving: at most one message is held ahead of the receives; reading
    // stops until it has been handed out, so TCP holds the sender back.
    std::array<std::uint8_t, codec::kSessionHeaderSize> in_header_{};
    std::size_t header_got_ = 0;
    bool in_body_ = false;  // the header is in; the body is coming
    std::size_t body_length_ = 0;
    std::size_t body_got_ = 0;
    // The receive the body is read straight into: the first one, waiting
    // when the header came, if the body fits. Otherwise body_ holds it.
    NCB *direct_ = nullptr;
    std::unique_ptr<std::uint8_t[]> body_;
    std::size_t body_capacity_ = 0;
    std::size_t body_offset_ = 0;  // handed out so far, in NRC_INCOMP pieces
    bool message_ready_ = false;
    // Bytes a read took past the message it was for, when it filled a
    // receive's buffer beyond its header: the next messages' start, taken
    // before the socket is read again. At most one receive buffer's worth.
    std::vector<std::uint8_t> ahead_;
    std::size_t ahead_at_ = 0;
    bool input_blocked_ = false;  // the last read found nothing, and none since
    int input_drivers_ = 0;       // callers reading the socket themselves
    bool stop_at_delivery_ = false;
    bool delivered_ = false;  // a message went to a receive since stop_at_delivery_ was set
    // The last synchronous receive found its message there before it had to
    // wait: the peer is ahead, so the next one reads before it polls.
    bool read_first_ = false;
    bool pumping_ = false;
    bool pump_again_ = false;
    std::deque<PendingIo> receives_;

    // Sending: one SESSION MESSAGE per NCB, written in order.
    std::deque<PendingIo> sends_;
    bool writing_ = false;      // the network thread writes the first send
    bool send_driven_ = false;  // the first send's caller writes the rest itself

    // Keep-alives, when the settings ask for them: only on a session that
    // has carried data (some servers drop a session whose first packet is
    // a keep-alive) and only after a quiet interval.
    std::unique_ptr<asio::steady_timer> keep_alive_timer_;
    bool carried_data_ = false;
    bool active_since_keep_alive_ = false;

    NCB *hangup_ = nullptr;
    std::unique_ptr<asio::steady_timer> hangup_timer_;

    // Time-outs of receives and sends: one timer for the earliest deadline,
    // left to run out rather than cancelled as blocks finish (a cancel costs
    // the network thread a wake-up); when it fires it ends what has run out
    // and is armed again for what is still pending.
    std::unique_ptr<asio::steady_timer> timeouts_;
    Clock::time_point timeouts_due_ = Clock::time_point::max();
};

}  // namespace nbt
