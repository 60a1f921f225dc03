// SPDX-License-Identifier: MIT
// The session machine of a live node fed byte chunks in each phase of a
// connection: before its SESSION REQUEST has been answered, established,
// and while the node hangs up. A LISTEN waits on a registered name; an
// established session always has receives posted (each is posted again as it
// completes), so the node never stops reading for want of one.
//
// Input: [options] then three phases, each chunks of [length][bytes] ended by
// a zero length or by the end of the input.
//   Phase 1 goes down a fresh connection, followed by our FIN.
//   Phases 2 and 3 go down a second one the harness has set up with a valid
//   request: phase 2 once established, phase 3 after an NCBHANGUP.
//   options, bits 0-1: the receive buffer size; bit 2: the LISTEN takes only
//   FUZZPEER (else anyone); bit 3: a send is still being written when the
//   hangup comes (the node then waits for it before its FIN); bit 4: two
//   receives pending instead of one.
// The connections are socket pairs handed to the node as if its listener
// had accepted them; nothing reaches the network. Each input ends with every
// session gone but the pending LISTEN, which is hung up.
#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "live_node.h"
#include "loopback_settings.h"
#include "ncb_helpers.h"
#include "session_packet.h"

namespace {

using namespace nbt;
using fuzzing::LiveNode;
using fuzzing::TrackedNcb;

const auto kLocal = testing::Padded("FUZZSESSION");
const auto kPeer = testing::Padded("FUZZPEER");
constexpr std::array<WORD, 4> kReceiveSizes = {17, 256, 4096, 65535};
// Far more than a socket pair with the node's send buffer at its minimum
// holds: the send is still being written when the hangup comes.
constexpr std::size_t kHeldSend = 32768;

[[noreturn]] void Fail(const char *what) {
    std::fprintf(stderr, "fuzz_session_phases: %s\n", what);
    std::abort();
}

Settings QuickRegistration() {
    Settings settings = testing::LoopbackSettings();
    settings.bcast_retry_count = 1;
    settings.bcast_retry_timeout = std::chrono::milliseconds(1);
    return settings;
}

struct Phases {
    std::uint8_t options = 0;
    std::array<std::vector<std::span<const std::uint8_t>>, 3> chunks;

    Phases(const std::uint8_t *data, std::size_t size) {
        if (size == 0) return;
        options = data[0];
        std::size_t at = 1;
        for (auto &phase : chunks) {
            while (at < size) {
                const std::size_t asked = data[at++];
                const std::size_t length = std::min(asked, size - at);
                if (length == 0) break;
                phase.push_back({data + at, length});
                at += length;
            }
        }
    }
};

// Our end of a connection the node takes as accepted.
class Connection {
public:
    Connection(LiveNode &node, bool small_send_buffer) {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) Fail("socketpair");
        fd_ = fds[0];
        node_fd_ = fds[1];
        if (small_send_buffer) {
            const int tiny = 1;  // the kernel's minimum
            ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny);
        }
        asio::ip::tcp::socket socket(node.node().io());
        asio::error_code ec;
        socket.assign(asio::ip::tcp::v4(), fds[1], ec);
        if (ec) Fail("cannot hand the connection over");
        node.node().OnConnection(std::move(socket));
    }
    ~Connection() { Close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // A write to a node that has closed its end fails quietly. A node that
    // has stopped reading (it holds a message no receive has taken) would
    // read on only when one of its timers runs out: the rest is dropped
    // rather than spent waiting for that.
    void Write(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EAGAIN) {
                if (LiveNode::Settle() == 0) return;
                continue;
            }
            if (n <= 0) return;
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        }
    }
    void Write(const std::vector<std::span<const std::uint8_t>> &chunks) {
        for (const auto &chunk : chunks) Write(chunk);
    }
    void Finish() { ::shutdown(fd_, SHUT_WR); }
    // Reads what the node writes, running its handlers while there is
    // nothing to read; false at its end of the stream.
    bool Read(std::uint8_t *out, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::recv(fd_, out, size, MSG_DONTWAIT);
            if (n < 0 && errno == EAGAIN) {
                LiveNode::Poll();
                continue;
            }
            if (n <= 0) return false;
            out += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    // Until the node closes its end (or resets it).
    void ReadToEnd() {
        std::uint8_t scratch[8192];
        while (Read(scratch, sizeof scratch)) {
        }
    }
    // Bytes written that the node has not read yet.
    int Unread() const {
        int queued = 0;
        ::ioctl(fd_, SIOCOUTQ, &queued);
        return queued;
    }

    // Our end closed, the node's handlers run: it must have closed its end
    // too. (Checked before anything else can take the descriptor's number.)
    void CloseAndCheck() {
        Close();
        LiveNode::Settle();
        if (::fcntl(node_fd_, F_GETFD) != -1) Fail("the node holds a connection both sides have closed");
    }

private:
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    int node_fd_ = -1;
};

class Harness {
public:
    Harness() : node_(QuickRegistration(), 8, 32, 4) {
        if (node_.AddName(std::string(kLocal.begin(), kLocal.end() - 1)) != NRC_GOODRET)
            Fail("cannot add the name");
        listen_.on_done = &Harness::Listened;
        listen_.context = this;
        for (auto &receive : receives_) {
            receive.on_done = &Harness::Received;
            receive.context = this;
        }
        held_send_.fill(0x5A);
    }

    void Run(const std::uint8_t *data, std::size_t size) {
        const Phases phases(data, size);
        receive_size_ = kReceiveSizes[phases.options & 3];
        receive_count_ = phases.options & 0x10 ? 2 : 1;
        for (auto &buffer : receive_buffers_) buffer.assign(receive_size_, 0);
        listen_only_peer_ = phases.options & 0x04;

        // Before the request: whatever phase 1 holds, then our FIN.
        PostListen();
        {
            Connection connection(node_, false);
            connection.Write(phases.chunks[0]);
            connection.Finish();
            connection.ReadToEnd();
            WaitForReceives();
            connection.CloseAndCheck();
        }

        // Established, then hanging up.
        PostListen();
        {
            Connection connection(node_, true);
            const auto request = codec::EncodeSessionRequest(kLocal, kPeer);
            connection.Write(*request);
            std::array<std::uint8_t, codec::kSessionHeaderSize> answer{};
            if (!connection.Read(answer.data(), answer.size()) || answer != codec::EncodePositiveResponse())
                Fail("a request for a pending LISTEN was not accepted");
            LiveNode::Wait(listen_);
            if (listen_.ncb.ncb_retcode != NRC_GOODRET) Fail("the LISTEN did not complete");
            const UCHAR lsn = listen_.ncb.ncb_lsn;

            connection.Write(phases.chunks[1]);
            // Phase 3 finds phase 2 read and handled, as far as the node reads.
            while (connection.Unread() > 0 && LiveNode::Settle() > 0) {
            }
            LiveNode::Settle();

            if (phases.options & 0x08) {
                LiveNode::Prepare(send_, NCBSEND);
                send_.ncb.ncb_lsn = lsn;
                send_.ncb.ncb_buffer = held_send_.data();
                send_.ncb.ncb_length = static_cast<WORD>(held_send_.size());
                node_.Submit(send_);
                LiveNode::Settle();
            }
            LiveNode::Prepare(hangup_, NCBHANGUP);
            hangup_.ncb.ncb_lsn = lsn;
            node_.Submit(hangup_);
            LiveNode::Settle();

            connection.Write(phases.chunks[2]);
            connection.ReadToEnd();  // the held send, then the node's FIN
            connection.Finish();
            LiveNode::WaitUntil([&] { return !send_.busy && !hangup_.busy && !ReceivesBusy(); });
            connection.CloseAndCheck();
        }
        EndListens();
    }

private:
    void PostListen() {
        if (listen_.busy) return;
        LiveNode::Prepare(listen_, NCBLISTEN);
        std::memcpy(listen_.ncb.ncb_name, kLocal.data(), 16);
        if (listen_only_peer_)
            std::memcpy(listen_.ncb.ncb_callname, kPeer.data(), 16);
        else
            listen_.ncb.ncb_callname[0] = '*';
        if (!node_.Submit(listen_)) Fail("LISTEN refused");
    }

    bool ReceivesBusy() const { return receives_[0].busy || receives_[1].busy; }
    void WaitForReceives() {
        LiveNode::WaitUntil([&] { return !ReceivesBusy(); });
    }

    // Network thread: a session is up; keep receives posted on it.
    static bool Listened(TrackedNcb &listen, void *context) {
        auto &self = *static_cast<Harness *>(context);
        if (listen.ncb.ncb_retcode != NRC_GOODRET) return false;
        for (int i = 0; i < self.receive_count_; ++i) self.PostReceive(i, listen.ncb.ncb_lsn);
        return false;
    }

    bool PostReceive(int index, UCHAR lsn) {
        TrackedNcb &receive = receives_[index];
        LiveNode::Prepare(receive, NCBRECV);
        receive.ncb.ncb_lsn = lsn;
        receive.ncb.ncb_buffer = receive_buffers_[index].data();
        receive.ncb.ncb_length = receive_size_;
        return node_.Submit(receive);
    }

    // Network thread: posted again until the session has ended.
    static bool Received(TrackedNcb &receive, void *context) {
        auto &self = *static_cast<Harness *>(context);
        const UCHAR rc = receive.ncb.ncb_retcode;
        if (receive.ncb.ncb_length > self.receive_size_) Fail("a receive reports more than its buffer");
        if (rc != NRC_GOODRET && rc != NRC_INCOMP) return false;
        const int index = &receive == &self.receives_[0] ? 0 : 1;
        return self.PostReceive(index, receive.ncb.ncb_lsn);
    }

    // Every session has ended but the LISTEN that waits still; hang it up.
    void EndListens() {
        std::vector<UCHAR> buffer(sizeof(SESSION_HEADER) + 8 * sizeof(SESSION_BUFFER));
        TrackedNcb status;
        LiveNode::Prepare(status, NCBSSTAT);
        status.ncb.ncb_name[0] = '*';
        status.ncb.ncb_buffer = buffer.data();
        status.ncb.ncb_length = static_cast<WORD>(buffer.size());
        if (node_.Run(status) != NRC_GOODRET) Fail("NCBSSTAT failed");
        SESSION_HEADER header;
        std::memcpy(&header, buffer.data(), sizeof header);
        for (UCHAR i = 0; i < header.num_sess; ++i) {
            SESSION_BUFFER session;
            std::memcpy(&session, buffer.data() + sizeof header + i * sizeof session, sizeof session);
            if (session.state != LISTEN_OUTSTANDING) Fail("a session outlived its connection");
            TrackedNcb hangup;
            LiveNode::Prepare(hangup, NCBHANGUP);
            hangup.ncb.ncb_lsn = session.lsn;
            node_.Run(hangup);
        }
        LiveNode::Wait(listen_);
    }

    LiveNode node_;
    TrackedNcb listen_, send_, hangup_;
    std::array<TrackedNcb, 2> receives_;
    std::array<std::vector<UCHAR>, 2> receive_buffers_;
    std::array<UCHAR, kHeldSend> held_send_;
    WORD receive_size_ = 0;
    int receive_count_ = 1;
    bool listen_only_peer_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    LiveNode::OnNetworkThread([&] {
        static Harness harness;
        harness.Run(data, size);
    });
    return 0;
}
