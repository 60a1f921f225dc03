// One local session table entry: from the LISTEN or CALL that reserves its
// number, through the established TCP connection, to the close that is
// reported once. Lives on the network thread; every async handler holds a
// shared_ptr to it, so a handler that runs after a reset finds it detached.
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "nb30.h"
#include "netbios_name.h"
#include "session_packet.h"

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
};

class Session : public std::enable_shared_from_this<Session> {
public:
    // rto/sto in 500 ms units, 0 = none. opener: the LISTEN or CALL NCB.
    Session(std::shared_ptr<Node> node, SessionService *service, UCHAR lsn, NCB *opener);
    ~Session();

    UCHAR lsn() const { return lsn_; }
    const NetbiosName &local() const { return local_; }
    const NetbiosName &remote() const { return remote_; }
    SessionPhase phase() const { return phase_; }
    NCB *opener() const { return opener_; }
    // The SESSION_BUFFER state byte.
    UCHAR StatusState() const;
    std::size_t pending_receives() const { return receives_.size(); }
    std::size_t pending_sends() const { return sends_.size(); }
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

    // Reset: RST to the peer (a plain close once hung up), timers stopped,
    // no NCB touched (the node has already ended them). The session never
    // calls its service again.
    void Detach();

private:
    using Clock = std::chrono::steady_clock;
    struct PendingIo {
        NCB *ncb;
        Clock::time_point deadline = Clock::time_point::max();  // max: no time-out
        std::array<std::uint8_t, codec::kSessionHeaderSize> header{};
        std::size_t sent = 0;  // of header and buffers, by a write made at submission
    };

    bool Live() const { return phase_ != SessionPhase::kGone; }
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
    void ReadHeader();
    void OnHeader(const asio::error_code &ec, std::size_t bytes);
    void OnBody(const asio::error_code &ec);
    void DeliverMessage();
    // Reads the body of a message just announced straight into the buffer of
    // the receive it goes to, if it fits; *delivered when all of it was
    // there. Returns the bytes read, moved to body_ when only part came.
    std::size_t ReadBodyDirect(bool *delivered);
    // Writes a send's message without waiting, when nothing is queued before
    // it; returns how much the socket took.
    std::size_t WriteNow(const PendingIo &io);
    void WriteFront();
    void OnWritten(NCB *ncb, const asio::error_code &ec);
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
    void Drain();
    void EndDrain();
    void CloseSocket(bool reset_peer);

    std::shared_ptr<Node> node_;
    SessionService *service_;
    UCHAR lsn_;
    NetbiosName local_;
    NetbiosName remote_;
    UCHAR rto_;
    UCHAR sto_;
    SessionPhase phase_;
    NCB *opener_;  // the LISTEN or CALL while it is pending
    UCHAR close_code_ = NRC_GOODRET;

    asio::ip::tcp::socket socket_;
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
    std::unique_ptr<std::uint8_t[]> body_;
    std::size_t body_capacity_ = 0;
    std::size_t body_length_ = 0;
    std::size_t body_offset_ = 0;
    bool message_ready_ = false;
    bool reading_ = false;
    int inline_reads_ = 0;  // headers being handled in place, nested
    std::deque<PendingIo> receives_;

    // Sending: one SESSION MESSAGE per NCB, written in order.
    std::deque<PendingIo> sends_;
    bool writing_ = false;

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
