// SPDX-License-Identifier: MIT
// Sending and receiving on one session, with blocks and buffers the node
// owns, so a receive still pending when the command ends (idle timeout,
// Ctrl-C) stays valid until the hang-up completes it.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "local_node.h"
#include "ncb_wait.h"

namespace cli {

// What one message brought: the pieces NCBRECV returned (NRC_INCOMP for
// each one that filled the buffer) and the data of all of them.
struct Received {
    UCHAR rc = NRC_PENDING;  // of the last piece; NRC_PENDING: the wait ended first
    std::vector<UCHAR> data;
    std::vector<std::pair<UCHAR, WORD>> pieces;
};

class SessionChannel {
public:
    // piece_size: the receive buffer, at most 65535 bytes.
    SessionChannel(LocalNode &node, UCHAR lsn, WORD piece_size = 65535);

    // Receives one message, whatever its size, until `deadline`.
    Received Receive(Deadline deadline);
    // Sends the data as messages of at most 65535 bytes (one for empty
    // data). NRC_PENDING when an interrupt ended the wait.
    UCHAR Send(std::span<const UCHAR> data);

    UCHAR lsn() const { return lsn_; }

private:
    UCHAR lsn_;
    NCB &receive_;
    std::vector<UCHAR> &receive_buffer_;
    bool receive_pending_ = false;
    NCB &send_;
    std::vector<UCHAR> &send_buffer_;
};

}  // namespace cli
