// SPDX-License-Identifier: MIT
// Established sessions: one SESSION MESSAGE per NCBSEND, exactly one message
// per NCBRECV (in pieces, with NRC_INCOMP, when the buffer is smaller), and
// keep-alives skipped.
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "node.h"
#include "session.h"
#include "session_chain.h"
#include "session_service.h"

namespace nbt {
namespace {

// Any command that finds the session not (or no longer) carrying data.
bool RefuseData(SessionPhase phase, UCHAR *rc) {
    switch (phase) {
        case SessionPhase::kEstablished:
            return false;
        case SessionPhase::kHangingUp:
            *rc = NRC_SCLOSED;
            return true;
        default:
            *rc = NRC_SNUMOUT;  // a LISTEN or CALL has not handed this number out yet
            return true;
    }
}

// The message of a send: its header, its buffer, its chained buffer.
std::array<asio::const_buffer, 3> MessageBuffers(
    const NCB *ncb, const std::array<std::uint8_t, codec::kSessionHeaderSize> &header, std::size_t skip) {
    const ChainedBuffer chained = ncb ? ChainedBufferOf(*ncb) : ChainedBuffer{};
    std::array<asio::const_buffer, 3> buffers{
        asio::buffer(header), ncb ? asio::buffer(ncb->ncb_buffer, ncb->ncb_length) : asio::const_buffer(),
        asio::buffer(chained.data, chained.length)};
    for (auto &buffer : buffers) {
        const std::size_t n = std::min(skip, buffer.size());
        buffer += n;
        skip -= n;
    }
    return buffers;
}

std::size_t MessageSize(const std::array<asio::const_buffer, 3> &buffers) {
    return buffers[0].size() + buffers[1].size() + buffers[2].size();
}

bool BadBuffer(const NCB *ncb) {
    const ChainedBuffer chained = ChainedBufferOf(*ncb);
    return (ncb->ncb_length > 0 && ncb->ncb_buffer == nullptr) ||
           (chained.length > 0 && chained.data == nullptr);
}

}  // namespace

void Session::Accept(asio::ip::tcp::socket socket, const NetbiosName &caller) {
    if (phase_ != SessionPhase::kListening) {
        // Hung up or reset while the answer was on its way.
        asio::error_code ignored;
        socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
        return;
    }
    socket_ = std::move(socket);
    remote_ = caller;
    Establish();
}

void Session::Establish() {
    auto self = shared_from_this();
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    // From here on the connection is watched through the poller, which wakes
    // the network thread only when it is armed for it.
    if (!conn_.Attach(socket_.release(ignored), std::weak_ptr<PolledSocket>(self)))
        return EndOpener(NRC_NORES);  // no room to watch one more socket
    phase_ = SessionPhase::kEstablished;
    if (NCB *ncb = opener_) {
        opener_ = nullptr;
        if (node_->IsPending(ncb)) {
            ncb->ncb_lsn = lsn_;
            if ((ncb->ncb_command & ~ASYNCH) == NCBLISTEN) NameToField(remote_, ncb->ncb_callname);
            Finish(ncb, NRC_GOODRET);
        }
    }
    if (phase_ != SessionPhase::kEstablished) return;  // handed to korveld's client by its completion
    ArmKeepAlive();
    PumpInput();
}

void Session::Receive(NCB *ncb) {
    UCHAR rc = NRC_GOODRET;
    if (phase_ == SessionPhase::kClosed || phase_ == SessionPhase::kAborted) return ReportClose(ncb);
    if (RefuseData(phase_, &rc)) return Finish(ncb, rc);
    if (BadBuffer(ncb)) return Finish(ncb, NRC_BUFLEN);
    auto self = shared_from_this();
    if (message_ready_ && receives_.empty()) {
        // Taken at once: no timer to arm.
        receives_.push_back({ncb});
        return DeliverMessage();
    }
    receives_.push_back({ncb, Deadline(rto_)});
    if (message_ready_) DeliverMessage();
    if (!node_->IsPending(ncb)) return;
    // A synchronous caller waits on the socket and reads what is there or
    // comes; the network thread need not wake for it.
    bool caller = WantsInput() && node_->HasCaller(ncb);
    if (caller && (read_first_ || Ahead()) && !(conn_.watched() & EPOLLIN)) {
        // Counted as a caller reading: finding nothing must not arm the
        // network thread's watch only for the poll below to disarm it.
        ++input_drivers_;
        ReadOneMessage();
        read_first_ = !node_->IsPending(ncb);
        if (read_first_) return Leave(POLLIN);  // as a caller that has read its message
        --input_drivers_;
        caller = WantsInput() && node_->HasCaller(ncb);
    }
    // Never to wait on the socket for bytes already read ahead.
    if (caller && !Ahead() &&
        node_->HandToCaller(ncb, std::static_pointer_cast<CallerWork>(self), conn_.fd(), POLLIN)) {
        ++input_drivers_;
        return UpdateWatch();
    }
    // Once the network thread watches the socket, what came since wakes it;
    // before that, what is there is read now.
    if (!(conn_.watched() & EPOLLIN)) PumpInput();
}

void Session::Send(NCB *ncb) {
    UCHAR rc = NRC_GOODRET;
    if (phase_ == SessionPhase::kClosed || phase_ == SessionPhase::kAborted) return ReportClose(ncb);
    if (RefuseData(phase_, &rc)) return Finish(ncb, rc);
    if (BadBuffer(ncb)) return Finish(ncb, NRC_BUFLEN);
    PendingIo io{ncb};
    // Two 16-bit lengths at most: a chain send may need the extension bit.
    io.header = *codec::EncodeSessionHeader(codec::SessionType::kMessage,
                                            std::uint32_t{ncb->ncb_length} + ChainedBufferOf(*ncb).length);
    if (!WriterBusy() && sends_.empty()) {
        io.sent = WriteNow(io);
        if (io.sent == MessageSize(MessageBuffers(ncb, io.header, 0))) {
            ++node_->counters().xmit_success;
            carried_data_ = active_since_keep_alive_ = true;
            return Finish(ncb, NRC_GOODRET);
        }
    }
    io.deadline = Deadline(sto_);
    sends_.push_back(std::move(io));
    if (WriterBusy()) return;
    // The rest goes out as the socket takes it: written by a synchronous
    // caller itself, else from the network thread.
    if (sends_.size() == 1 &&
        node_->HandToCaller(ncb, std::static_pointer_cast<CallerWork>(shared_from_this()), conn_.fd(),
                            POLLOUT)) {
        send_driven_ = true;
        return;
    }
    writing_ = true;
    UpdateWatch();
}

std::size_t Session::WriteNow(const PendingIo &io, bool *failed) {
    const auto buffers = MessageBuffers(io.ncb, io.header, io.sent);
    iovec parts[3];
    for (std::size_t i = 0; i < buffers.size(); ++i)
        parts[i] = {const_cast<void *>(buffers[i].data()), buffers[i].size()};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    const ssize_t n = ::sendmsg(conn_.fd(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && failed) *failed = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

short Session::Step(short events, bool at_once) {
    auto self = shared_from_this();
    if (events & POLLOUT) {
        ContinueDrivenSend();
        return send_driven_ ? POLLOUT : 0;
    }
    ReadOneMessage();
    read_first_ = at_once && delivered_;
    return WantsInput() ? POLLIN : 0;
}

void Session::ReadOneMessage() {
    // One message at a time: the caller's is likely it, and what comes after
    // is the network thread's to read once the caller has left.
    delivered_ = false;
    stop_at_delivery_ = true;
    PumpInput();
    stop_at_delivery_ = false;
}

void Session::Leave(short events) {
    auto self = shared_from_this();
    if (events & POLLOUT) {
        // Its send ended some other way (a time-out, an abort): nothing is
        // left to hand over unless it is still the first.
        if (send_driven_) {
            send_driven_ = false;
            WriteSome();
        }
        return;
    }
    if (--input_drivers_ > 0) return;
    // Watched at once, without a read first: arming has the kernel look at
    // the socket again, so bytes already there wake the network thread.
    // Bytes read ahead wake nobody: they are looked at again a little later.
    input_blocked_ = true;
    if (AheadUnread()) return conn_.RecheckLater();
    UpdateWatch(/*later=*/true);
}

void Session::Recheck() {
    auto self = shared_from_this();
    if (AheadUnread()) return PumpInput();
    UpdateWatch();
}

void Session::OnReady(std::uint32_t events) {
    auto self = shared_from_this();
    conn_.Fired();
    if (!conn_.open()) return;
    if (writing_ && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) WriteSome();
    if (conn_.open() && (events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP))) PumpInput();
    UpdateWatch();
}

void Session::UpdateWatch(bool later) {
    std::uint32_t want = 0;
    if (input_blocked_ && !Ahead() && input_drivers_ == 0 && WantsInput()) want |= EPOLLIN | EPOLLRDHUP;
    if (writing_) want |= EPOLLOUT;
    conn_.Watch(want, later);
}

void Session::ContinueDrivenSend() {
    if (!send_driven_) return;
    if (sends_.empty() || (phase_ != SessionPhase::kEstablished && phase_ != SessionPhase::kHangingUp)) {
        send_driven_ = false;
        return;
    }
    PendingIo &io = sends_.front();
    const std::size_t size = MessageSize(MessageBuffers(io.ncb, io.header, 0));
    bool failed = false;
    io.sent += WriteNow(io, &failed);
    if (failed) {
        send_driven_ = false;
        ++node_->counters().xmit_aborts;
        return Abort(false);  // EPIPE, ECONNRESET: the peer is gone
    }
    if (io.sent < size) return;
    NCB *ncb = io.ncb;
    send_driven_ = false;
    sends_.pop_front();
    ++node_->counters().xmit_success;
    carried_data_ = active_since_keep_alive_ = true;
    Finish(ncb, NRC_GOODRET);
    WriteSome();  // those queued behind it, or the hangup waiting for it
}

bool Session::WantsInput() const {
    if (phase_ == SessionPhase::kDraining) return true;
    return (phase_ == SessionPhase::kEstablished || phase_ == SessionPhase::kHangingUp) && !message_ready_;
}

// Messages read in one go before the rest is left to a later turn of the
// network thread: a peer's stream cannot keep one caller here for ever.
constexpr int kPumpRounds = 32;

void Session::PumpInput() {
    if (pumping_) {
        pump_again_ = true;  // called back from a completion: the loop below goes on
        return;
    }
    auto self = shared_from_this();
    pumping_ = true;
    for (int round = 0;; ++round) {
        pump_again_ = false;
        const Input step = ReadSome();
        if (step == Input::kProgress) {
            // A caller reading for itself takes one message, and whatever
            // else it read ahead: nobody would be woken for that.
            if (stop_at_delivery_ && delivered_ && !Ahead()) break;
            if (round < kPumpRounds) continue;
            asio::post(node_->io(), [self] { self->PumpInput(); });
            break;
        }
        if (step == Input::kBlocked) {
            UpdateWatch();
            break;
        }
        if (!pump_again_) break;
    }
    pumping_ = false;
}

Session::Input Session::ReadSome() {
    Input step = Input::kStopped;
    if (phase_ == SessionPhase::kDraining)
        step = DrainSome();
    else if (WantsInput())
        step = in_body_ ? ReadBodyBytes() : ReadHeaderBytes();
    input_blocked_ = step == Input::kBlocked;
    return step;
}

namespace {

// A recv() that never waits: the bytes read, 0 at the end of the stream, -1
// when nothing is there yet, -2 on a failure.
ssize_t RecvNow(int fd, void *into, std::size_t size) {
    const ssize_t n = ::recv(fd, into, size, MSG_DONTWAIT);
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

}  // namespace

ssize_t Session::Take(void *into, std::size_t size) {
    if (!Ahead()) return RecvNow(conn_.fd(), into, size);
    const std::size_t n = std::min(size, ahead_.size() - ahead_at_);
    std::memcpy(into, ahead_.data() + ahead_at_, n);
    ahead_at_ += n;
    if (!Ahead()) DropAhead();
    return static_cast<ssize_t>(n);
}

void Session::DropAhead() {
    ahead_.clear();
    ahead_at_ = 0;
}

Session::Along Session::ReadAlongInto() const {
    if (Ahead() || phase_ != SessionPhase::kEstablished) return {};
    if (receives_.empty()) return {body_.get(), body_capacity_, nullptr};
    NCB *ncb = receives_.front().ncb;
    if (!node_->IsPending(ncb)) return {};
    return {ncb->ncb_buffer, ncb->ncb_length, ncb};
}

Session::Input Session::ReadHeaderBytes() {
    // The header and, in the same read, as much as the buffer its body is
    // likely to go to holds: a message whose body fits costs one read.
    const std::size_t missing = in_header_.size() - header_got_;
    const Along along = ReadAlongInto();
    ssize_t n;
    std::size_t past = 0;  // bytes read after the header, into along
    if (along.size > 0) {
        iovec parts[2] = {{in_header_.data() + header_got_, missing}, {along.data, along.size}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        n = ::recvmsg(conn_.fd(), &message, MSG_DONTWAIT);
        if (n < 0) n = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
        if (n > static_cast<ssize_t>(missing)) {
            past = static_cast<std::size_t>(n) - missing;
            n = static_cast<ssize_t>(missing);
        }
    } else {
        n = Take(in_header_.data() + header_got_, missing);
    }
    if (n == -1) return Input::kBlocked;
    if (n <= 0) {
        // A clean end between messages is the peer hanging up; anything
        // else (reset, end inside a header) is an abort.
        if (n == 0 && header_got_ == 0)
            PeerClosed();
        else
            Abort(false);
        return Input::kStopped;
    }
    header_got_ += static_cast<std::size_t>(n);
    if (header_got_ < in_header_.size()) return Input::kProgress;
    header_got_ = 0;
    const auto decoded = codec::DecodeSessionHeader(in_header_);
    // What came after the header stays in along only as the start of a body
    // it takes whole; the rest is the next reads', kept before anything can
    // end along's receive.
    std::size_t in_place = 0;
    if (past > 0) {
        const auto &header = decoded.header;
        if (decoded.error == codec::HeaderError::kOk && header.type == codec::SessionType::kMessage &&
            header.length <= along.size)
            in_place = std::min<std::size_t>(past, header.length);
        ahead_.assign(along.data + in_place, along.data + past);
        ahead_at_ = 0;
    }
    if (decoded.error != codec::HeaderError::kOk) {
        Abort(true);
        return Input::kStopped;
    }
    switch (decoded.header.type) {
        case codec::SessionType::kKeepAlive:
            return Input::kProgress;
        case codec::SessionType::kMessage:
            break;
        default:
            Abort(true);  // setup packets have no place in a session
            return Input::kStopped;
    }
    body_length_ = decoded.header.length;
    body_got_ = 0;
    body_offset_ = 0;
    if (body_length_ == 0) {
        message_ready_ = true;
        carried_data_ = active_since_keep_alive_ = true;
        DeliverMessage();
        return Input::kProgress;
    }
    in_body_ = true;
    // Straight into the waiting receive's buffer if it fits: no second copy.
    // Bytes already read are in along: that receive's, or the session's own.
    direct_ = nullptr;
    if (in_place > 0) {
        direct_ = along.ncb;
        return BodyBytesIn(in_place);
    }
    if (!receives_.empty() && phase_ == SessionPhase::kEstablished) {
        NCB *ncb = receives_.front().ncb;
        if (node_->IsPending(ncb) && ncb->ncb_length >= body_length_) direct_ = ncb;
    }
    if (!direct_) EnsureBodyRoom();
    return Input::kProgress;
}

Session::Input Session::ReadBodyBytes() {
    std::uint8_t *into = direct_ ? direct_->ncb_buffer : body_.get();
    const ssize_t n = Take(into + body_got_, body_length_ - body_got_);
    if (n == -1) return Input::kBlocked;
    if (n <= 0) {
        Abort(false);  // the message was cut off
        return Input::kStopped;
    }
    return BodyBytesIn(static_cast<std::size_t>(n));
}

Session::Input Session::BodyBytesIn(std::size_t n) {
    body_got_ += n;
    if (body_got_ < body_length_) return Input::kProgress;
    in_body_ = false;
    carried_data_ = active_since_keep_alive_ = true;
    if (NCB *ncb = direct_) {
        direct_ = nullptr;
        receives_.pop_front();  // the direct receive is always the first
        ncb->ncb_length = static_cast<WORD>(body_length_);
        ++node_->counters().recv_success;
        delivered_ = true;
        Finish(ncb, NRC_GOODRET);
        return Input::kProgress;
    }
    message_ready_ = true;
    DeliverMessage();
    return Input::kProgress;
}

void Session::EnsureBodyRoom() {
    if (body_capacity_ >= body_length_) return;
    // Grows to the largest message seen, never past 131071 bytes.
    body_ = std::make_unique_for_overwrite<std::uint8_t[]>(body_length_);
    body_capacity_ = body_length_;
}

void Session::MoveDirectToBody() {
    // Called before the receive ends: its buffer is still ours to read.
    EnsureBodyRoom();
    if (body_got_ > 0) std::memcpy(body_.get(), direct_->ncb_buffer, body_got_);
    direct_ = nullptr;
}

void Session::DeliverMessage() {
    auto self = shared_from_this();
    while (message_ready_ && phase_ == SessionPhase::kEstablished) {
        if (receives_.empty() && !TakeReceiveAny()) break;
        NCB *ncb = receives_.front().ncb;
        receives_.pop_front();
        if (!node_->IsPending(ncb)) continue;
        const std::size_t left = body_length_ - body_offset_;
        const std::size_t take = std::min<std::size_t>(left, ncb->ncb_length);
        if (take > 0) std::memcpy(ncb->ncb_buffer, body_.get() + body_offset_, take);
        ncb->ncb_length = static_cast<WORD>(take);
        body_offset_ += take;
        if (body_offset_ < body_length_) {
            Finish(ncb, NRC_INCOMP);  // the rest waits for the next receive
            continue;
        }
        message_ready_ = false;
        ++node_->counters().recv_success;
        delivered_ = true;
        Finish(ncb, NRC_GOODRET);
    }
    if (!message_ready_) PumpInput();
}

void Session::WriteSome() {
    auto self = shared_from_this();
    while (!sends_.empty() && (phase_ == SessionPhase::kEstablished || phase_ == SessionPhase::kHangingUp)) {
        PendingIo &io = sends_.front();
        bool failed = false;
        io.sent += WriteNow(io, &failed);
        if (failed) {
            writing_ = false;
            if (io.ncb) ++node_->counters().xmit_aborts;
            return Abort(false);  // EPIPE, ECONNRESET: the peer is gone
        }
        if (io.sent < MessageSize(MessageBuffers(io.ncb, io.header, 0))) {
            writing_ = true;
            return UpdateWatch();
        }
        NCB *ncb = io.ncb;
        sends_.pop_front();
        if (!ncb) continue;  // a keep-alive
        ++node_->counters().xmit_success;
        carried_data_ = active_since_keep_alive_ = true;
        Finish(ncb, NRC_GOODRET);
    }
    writing_ = false;
    UpdateWatch();
    if (sends_.empty() && phase_ == SessionPhase::kHangingUp) FinishHangup();
}

void Session::ArmKeepAlive() {
    const auto interval = node_->settings().ssn_keep_alive;
    if (interval.count() <= 0) return;
    if (!keep_alive_timer_) keep_alive_timer_ = std::make_unique<asio::steady_timer>(node_->io());
    keep_alive_timer_->expires_after(interval);
    keep_alive_timer_->async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (!ec) self->OnKeepAliveDue();
    });
}

void Session::OnKeepAliveDue() {
    if (phase_ != SessionPhase::kEstablished) return;
    const bool quiet = !active_since_keep_alive_;
    active_since_keep_alive_ = false;
    // Never between the parts of a message being written, never first.
    if (!carried_data_ || !quiet || WriterBusy()) return ArmKeepAlive();
    static const auto keep_alive = codec::EncodeKeepAlive();
    PendingIo io{nullptr};
    std::copy(keep_alive.begin(), keep_alive.end(), io.header.begin());
    bool failed = false;
    io.sent = WriteNow(io, &failed);
    if (failed) return Abort(false);
    if (io.sent < io.header.size()) {
        // Only part of it: the rest goes before any message.
        sends_.push_back(io);
        writing_ = true;
        UpdateWatch();
    }
    ArmKeepAlive();
}

}  // namespace nbt
