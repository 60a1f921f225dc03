// SPDX-License-Identifier: MIT
#include "session_channel.h"

#include <algorithm>
#include <cstring>

namespace cli {
namespace {

constexpr std::size_t kMaxMessage = 65535;  // one NCBSEND

}  // namespace

SessionChannel::SessionChannel(LocalNode &node, UCHAR lsn, WORD piece_size)
    : lsn_(lsn),
      receive_(node.NewBlock(NCBRECV)),
      receive_buffer_(node.NewBuffer(piece_size)),
      send_(node.NewBlock(NCBSEND)),
      send_buffer_(node.NewBuffer(kMaxMessage)) {}

Received SessionChannel::Receive(Deadline deadline) {
    Received received;
    for (;;) {
        if (!receive_pending_) {
            receive_.ncb_command = NCBRECV;
            receive_.ncb_lsn = lsn_;
            receive_.ncb_buffer = receive_buffer_.data();
            receive_.ncb_length = static_cast<WORD>(receive_buffer_.size());
            receive_.ncb_rto = 0;  // the deadline is ours, so the session is left as it is
            if (UCHAR rc = Submit(receive_); rc != NRC_GOODRET) {
                received.rc = rc;
                return received;
            }
            receive_pending_ = true;
        }
        if (WaitFor(receive_, deadline) != Wait::kCompleted) return received;
        receive_pending_ = false;
        received.rc = receive_.ncb_retcode;
        received.pieces.emplace_back(receive_.ncb_retcode, receive_.ncb_length);
        if (received.rc != NRC_GOODRET && received.rc != NRC_INCOMP) return received;
        received.data.insert(received.data.end(), receive_buffer_.begin(),
                             receive_buffer_.begin() + receive_.ncb_length);
        if (received.rc == NRC_GOODRET) return received;
    }
}

UCHAR SessionChannel::Send(std::span<const UCHAR> data) {
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(kMaxMessage, data.size() - at);
        if (length > 0) std::memcpy(send_buffer_.data(), data.data() + at, length);
        send_.ncb_command = NCBSEND;
        send_.ncb_lsn = lsn_;
        send_.ncb_buffer = send_buffer_.data();
        send_.ncb_length = static_cast<WORD>(length);
        const UCHAR rc = SubmitAndWait(send_, std::nullopt);
        if (rc != NRC_GOODRET) return rc;
        at += length;
    } while (at < data.size());
    return NRC_GOODRET;
}

}  // namespace cli
