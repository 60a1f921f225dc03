// Established sessions: one SESSION MESSAGE per NCBSEND, exactly one message
// per NCBRECV (in pieces, with NRC_INCOMP, when the buffer is smaller), and
// keep-alives skipped.
#include <sys/socket.h>
#include <sys/uio.h>

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
    const ChainedBuffer chained = ChainedBufferOf(*ncb);
    std::array<asio::const_buffer, 3> buffers{asio::buffer(header),
                                              asio::buffer(ncb->ncb_buffer, ncb->ncb_length),
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
    phase_ = SessionPhase::kEstablished;
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (NCB *ncb = opener_) {
        opener_ = nullptr;
        if (node_->IsPending(ncb)) {
            ncb->ncb_lsn = lsn_;
            if ((ncb->ncb_command & ~ASYNCH) == NCBLISTEN) NameToField(remote_, ncb->ncb_callname);
            Finish(ncb, NRC_GOODRET);
        }
    }
    ArmKeepAlive();
    if (phase_ == SessionPhase::kEstablished && !reading_) ReadHeader();
}

void Session::Receive(NCB *ncb) {
    UCHAR rc = NRC_GOODRET;
    if (phase_ == SessionPhase::kClosed || phase_ == SessionPhase::kAborted) return ReportClose(ncb);
    if (RefuseData(phase_, &rc)) return Finish(ncb, rc);
    if (BadBuffer(ncb)) return Finish(ncb, NRC_BUFLEN);
    if (message_ready_ && receives_.empty()) {
        // Taken at once: no timer to arm.
        receives_.push_back({ncb});
        return DeliverMessage();
    }
    receives_.push_back({ncb, Deadline(rto_)});
    if (message_ready_) DeliverMessage();
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
    if (!writing_ && sends_.empty()) {
        io.sent = WriteNow(io);
        if (io.sent == MessageSize(MessageBuffers(ncb, io.header, 0))) {
            ++node_->counters().xmit_success;
            carried_data_ = active_since_keep_alive_ = true;
            return Finish(ncb, NRC_GOODRET);
        }
    }
    // The rest goes out from the network thread as the socket takes it.
    io.deadline = Deadline(sto_);
    sends_.push_back(std::move(io));
    if (!writing_) WriteFront();
}

std::size_t Session::WriteNow(const PendingIo &io) {
    const auto buffers = MessageBuffers(io.ncb, io.header, 0);
    iovec parts[3];
    for (std::size_t i = 0; i < buffers.size(); ++i)
        parts[i] = {const_cast<void *>(buffers[i].data()), buffers[i].size()};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    const ssize_t n = ::sendmsg(socket_.native_handle(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    // A full buffer or a failure: the queued write finds out which.
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Reads a few messages in place, on whichever thread holds the lock, when
// their bytes are already here: a hop to the network thread saved each.
// Bounded, so a peer's stream of keep-alives cannot nest calls without end.
constexpr int kInlineReads = 8;

void Session::ReadHeader() {
    reading_ = true;
    std::size_t already = 0;
    if (inline_reads_ < kInlineReads && phase_ == SessionPhase::kEstablished) {
        const ssize_t n = ::recv(socket_.native_handle(), in_header_.data(), in_header_.size(), MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(in_header_.size())) {
            ++inline_reads_;
            OnHeader({}, in_header_.size());
            --inline_reads_;
            return;
        }
        // The end of the stream, or a failure: reported as the queued read would.
        if (n == 0) return OnHeader(asio::error::eof, 0);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return OnHeader(asio::error_code(errno, asio::error::get_system_category()), 0);
        if (n > 0) already = static_cast<std::size_t>(n);
    }
    asio::async_read(socket_, asio::buffer(in_header_.data() + already, in_header_.size() - already),
                     [self = shared_from_this(), already](const asio::error_code &ec, std::size_t bytes) {
                         self->OnHeader(ec, already + bytes);
                     });
}

void Session::OnHeader(const asio::error_code &ec, std::size_t bytes) {
    reading_ = false;
    if (phase_ == SessionPhase::kDraining) return ec ? EndDrain() : Drain();
    if (phase_ != SessionPhase::kEstablished && phase_ != SessionPhase::kHangingUp) return;
    if (ec) {
        // A clean end between messages is the peer hanging up; anything
        // else (reset, end inside a header) is an abort.
        if (ec == asio::error::eof && bytes == 0) return PeerClosed();
        return Abort(false);
    }
    const auto decoded = codec::DecodeSessionHeader(in_header_);
    if (decoded.error != codec::HeaderError::kOk) return Abort(true);
    switch (decoded.header.type) {
        case codec::SessionType::kKeepAlive:
            return ReadHeader();
        case codec::SessionType::kMessage:
            break;
        default:
            return Abort(true);  // setup packets have no place in a session
    }
    body_length_ = decoded.header.length;
    body_offset_ = 0;
    if (body_length_ == 0) {
        message_ready_ = true;
        carried_data_ = active_since_keep_alive_ = true;
        return DeliverMessage();
    }
    bool delivered = false;
    std::size_t already = ReadBodyDirect(&delivered);
    if (delivered) return;
    if (body_capacity_ < body_length_) {
        // Grows to the largest message seen, never past 131071 bytes.
        body_ = std::make_unique_for_overwrite<std::uint8_t[]>(body_length_);
        body_capacity_ = body_length_;
    }
    if (already == 0 && inline_reads_ < kInlineReads) {
        // Nobody waits for it: read ahead into our buffer, in place if it is here.
        const ssize_t n = ::recv(socket_.native_handle(), body_.get(), body_length_, MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(body_length_)) return OnBody({});
        if (n > 0) already = static_cast<std::size_t>(n);  // failures: the queued read reports them
    }
    reading_ = true;
    asio::async_read(socket_, asio::buffer(body_.get() + already, body_length_ - already),
                     [self = shared_from_this()](const asio::error_code &error, std::size_t) {
                         self->reading_ = false;
                         self->OnBody(error);
                     });
}

void Session::OnBody(const asio::error_code &ec) {
    if (phase_ == SessionPhase::kDraining) return ec ? EndDrain() : Drain();
    if (phase_ != SessionPhase::kEstablished && phase_ != SessionPhase::kHangingUp) return;
    if (ec) return Abort(false);  // the message was cut off
    message_ready_ = true;
    carried_data_ = active_since_keep_alive_ = true;
    DeliverMessage();
}

std::size_t Session::ReadBodyDirect(bool *delivered) {
    *delivered = false;
    if (receives_.empty() || phase_ != SessionPhase::kEstablished) return 0;
    NCB *ncb = receives_.front().ncb;
    if (!node_->IsPending(ncb) || ncb->ncb_length < body_length_) return 0;
    // No read is in progress on the socket here, so reading it past asio is safe.
    const ssize_t n = ::recv(socket_.native_handle(), ncb->ncb_buffer, body_length_, MSG_DONTWAIT);
    if (n <= 0) return 0;  // nothing here yet, or a failure the queued read will report
    const auto got = static_cast<std::size_t>(n);
    if (got < body_length_) {
        // Only part of it: the rest comes the usual way, so the part moves too.
        if (body_capacity_ < body_length_) {
            body_ = std::make_unique_for_overwrite<std::uint8_t[]>(body_length_);
            body_capacity_ = body_length_;
        }
        std::memcpy(body_.get(), ncb->ncb_buffer, got);
        return got;
    }
    *delivered = true;
    receives_.pop_front();
    carried_data_ = active_since_keep_alive_ = true;
    ncb->ncb_length = static_cast<WORD>(body_length_);
    ++node_->counters().recv_success;
    auto self = shared_from_this();
    Finish(ncb, NRC_GOODRET);
    if (!reading_ && phase_ == SessionPhase::kEstablished) ReadHeader();
    return got;
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
        Finish(ncb, NRC_GOODRET);
    }
    if (!message_ready_ && !reading_ && phase_ == SessionPhase::kEstablished) ReadHeader();
}

void Session::WriteFront() {
    if (sends_.empty() || (phase_ != SessionPhase::kEstablished && phase_ != SessionPhase::kHangingUp))
        return;
    PendingIo &io = sends_.front();
    NCB *ncb = io.ncb;
    const auto buffers = MessageBuffers(ncb, io.header, io.sent);
    writing_ = true;
    asio::async_write(socket_, buffers,
                      [self = shared_from_this(), ncb](const asio::error_code &ec, std::size_t) {
                          self->writing_ = false;
                          self->OnWritten(ncb, ec);
                      });
}

void Session::OnWritten(NCB *ncb, const asio::error_code &ec) {
    if (phase_ != SessionPhase::kEstablished && phase_ != SessionPhase::kHangingUp) return;
    if (sends_.empty() || sends_.front().ncb != ncb) return;  // timed out meanwhile
    if (ec) {
        ++node_->counters().xmit_aborts;
        return Abort(false);  // EPIPE, ECONNRESET: the peer is gone
    }
    sends_.pop_front();
    ++node_->counters().xmit_success;
    carried_data_ = active_since_keep_alive_ = true;
    auto self = shared_from_this();
    Finish(ncb, NRC_GOODRET);
    if (!sends_.empty()) return WriteFront();
    if (phase_ == SessionPhase::kHangingUp) FinishHangup();
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
    if (!carried_data_ || !quiet || writing_) return ArmKeepAlive();
    static const auto keep_alive = codec::EncodeKeepAlive();
    writing_ = true;
    asio::async_write(socket_, asio::buffer(keep_alive),
                      [self = shared_from_this()](const asio::error_code &ec, std::size_t) {
                          self->writing_ = false;
                          if (self->phase_ != SessionPhase::kEstablished) return;
                          if (ec) return self->Abort(false);
                          self->ArmKeepAlive();
                          if (!self->sends_.empty()) self->WriteFront();
                      });
}

}  // namespace nbt
