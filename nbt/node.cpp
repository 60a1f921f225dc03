// SPDX-License-Identifier: MIT
#include "node.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "bind_report.h"
#include "datagram_port.h"
#include "datagram_service.h"
#include "io_thread.h"
#include "name_service.h"
#include "session_service.h"

namespace nbt {
namespace {

constexpr std::size_t kMaxDatagram = 65536;
// Datagrams one recvmmsg() takes from the unicast name socket: fewer back
// says it is empty, so a lone request costs one read, not a second one that
// finds nothing.
constexpr unsigned kNameReadsAtOnce = 2;
constexpr auto kRetryDelay = std::chrono::milliseconds(100);
// Datagrams waiting for room in a full send buffer. A burst of answers fits;
// past that, more would only grow memory while the network is jammed.
constexpr std::size_t kMaxQueuedDatagrams = 64;

// Ties a socket to the LANA's interface so broadcasts of other interfaces
// with the same broadcast address stay out.
asio::error_code BindToDevice(int fd, const std::string &interface_name) {
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface_name.c_str(),
                   static_cast<socklen_t>(interface_name.size())) == 0)
        return {};
    return {errno, asio::error::get_system_category()};
}

std::size_t Slot(Service service) {
    return static_cast<std::size_t>(service);
}

bool Transient(const asio::error_code &ec) {
    return ec != asio::error::operation_aborted && ec != asio::error::bad_descriptor;
}

}  // namespace

Node::Node(const Lana &lana, const Limits &limits, const Settings &settings, std::shared_ptr<HostNames> host)
    : io_(IoThread::Get().executor()),
      lana_(lana),
      limits_(limits),
      settings_(settings.ForAdapter(lana.interface_name)),
      host_(std::move(host)),
      unicast_(io_),
      broadcast_(io_),
      limited_broadcast_(io_),
      listener_(io_),
      unicast_buffer_(kNameReadsAtOnce * kMaxDatagram),
      broadcast_buffer_(kMaxDatagram),
      limited_buffer_(kMaxDatagram),
      datagram_socket_(std::make_shared<DatagramPort>(io_)) {}

Node::~Node() {
    CloseNameSocket();
    asio::error_code ignored;
    unicast_.close(ignored);
    broadcast_.close(ignored);
    limited_broadcast_.close(ignored);
    listener_.close(ignored);
    datagram_socket_->Close();
}

std::shared_ptr<Node> Node::Open(const Lana &lana, const Limits &limits, const Settings &settings,
                                 std::shared_ptr<HostNames> host, std::uint8_t preferred_host, UCHAR *rc) {
    auto node = std::make_shared<Node>(lana, limits, settings, std::move(host));
    *rc = node->Bind(preferred_host);
    if (*rc != NRC_GOODRET) return nullptr;
    node->StartServices();
    return node;
}

UCHAR Node::Bind(std::uint8_t preferred_host) {
    asio::error_code ec;
    name_port_ = lana_.loopback ? settings_.loopback_name_port : settings_.name_port;
    session_port_ = lana_.loopback ? settings_.loopback_session_port : settings_.session_port;
    datagram_port_number_ = lana_.loopback ? settings_.loopback_datagram_port : settings_.datagram_port;
    BindFailure why{.lana = lana_.number,
                    .interface_name = lana_.loopback ? std::string() : lana_.interface_name,
                    .step = "bind",
                    .address = lana_.broadcast,
                    .port = name_port_,
                    .tcp = false,
                    .error = {}};
    // The operator learns why a reset fails; the caller only sees the code.
    auto refused = [&why](const char *step, asio::error_code error, UCHAR rc) {
        why.step = step;
        why.error = error;
        ReportBindFailure(why);
        return rc;
    };

    // Every node on the segment shares the broadcast address's port.
    broadcast_.open(asio::ip::udp::v4(), ec);
    if (ec) return refused("open a socket for", ec, NRC_OSRESNOTAV);
    broadcast_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!lana_.loopback) {
        ec = BindToDevice(broadcast_.native_handle(), lana_.interface_name);
        if (ec) return refused(kTieStep, ec, NRC_OPENERR);
    }
    broadcast_.bind({lana_.broadcast, name_port_}, ec);
    if (ec) return refused("bind", ec, NRC_OPENERR);
    if (!lana_.loopback) BindLimitedBroadcast();
    ec = datagram_socket_->BindBroadcast(lana_.broadcast, datagram_port_number_,
                                         lana_.loopback ? std::string() : lana_.interface_name);
    if (ec) {
        why.port = datagram_port_number_;
        return refused("bind", ec, NRC_OPENERR);
    }

    if (!lana_.loopback) {
        mac_ = lana_.mac;
        if (BindAt(lana_.address, &why)) return NRC_GOODRET;
        ReportBindFailure(why);
        return NRC_OPENERR;
    }

    // LANA 0: the first 127.0.0.N whose unicast ports are free. The unicast
    // socket takes no SO_REUSEADDR, so a second process (or Provider) finds
    // the address taken and moves on to the next N.
    std::vector<std::uint8_t> candidates;
    if (preferred_host >= settings_.loopback_first && preferred_host <= settings_.loopback_last)
        candidates.push_back(preferred_host);
    for (int n = settings_.loopback_first; n <= settings_.loopback_last && n >= 1 && n <= 254; ++n)
        if (n != preferred_host) candidates.push_back(static_cast<std::uint8_t>(n));
    for (std::uint8_t n : candidates) {
        if (BindAt(asio::ip::address_v4((127u << 24) | n), &why)) {
            host_number_ = n;
            mac_ = {0x02, 0x00, 0x7F, 0x00, 0x00, n};
            return NRC_GOODRET;
        }
    }
    // Every address refused: the last one's reason stands for all.
    if (!candidates.empty()) ReportBindFailure(why);
    return NRC_OPENERR;
}

bool Node::BindAt(const asio::ip::address_v4 &address, BindFailure *why) {
    asio::error_code ec;
    auto give_up = [this, why, &address](const char *step, std::uint16_t port, bool tcp,
                                         asio::error_code error) {
        why->step = step;
        why->address = address;
        why->port = port;
        why->tcp = tcp;
        why->error = error;
        asio::error_code ignored;
        unicast_.close(ignored);
        listener_.close(ignored);
        datagram_socket_->CloseUnicast();
        return false;
    };

    unicast_.open(asio::ip::udp::v4(), ec);
    if (ec) return give_up("open a socket for", name_port_, false, ec);
    unicast_.set_option(asio::socket_base::broadcast(true), ec);
    if (ec) return give_up("open a socket for", name_port_, false, ec);
    if (!lana_.loopback) {
        ec = BindToDevice(unicast_.native_handle(), lana_.interface_name);
        if (ec) return give_up(kTieStep, name_port_, false, ec);
    }
    unicast_.bind({address, name_port_}, ec);
    if (ec) return give_up("bind", name_port_, false, ec);
    unicast_.non_blocking(true, ec);
    if (ec) return give_up("open a socket for", name_port_, false, ec);

    listener_.open(asio::ip::tcp::v4(), ec);
    if (ec) return give_up("open a socket for", session_port_, true, ec);
    // Lets a reset rebind while old connections sit in TIME_WAIT; a second
    // listener on the same address and port is still refused.
    listener_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!lana_.loopback) {
        ec = BindToDevice(listener_.native_handle(), lana_.interface_name);
        if (ec) return give_up(kTieStep, session_port_, true, ec);
    }
    listener_.bind({address, session_port_}, ec);
    if (ec) return give_up("bind", session_port_, true, ec);
    listener_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return give_up("listen on", session_port_, true, ec);
    ec = datagram_socket_->BindUnicast(address, datagram_port_number_,
                                       lana_.loopback ? std::string() : lana_.interface_name);
    if (ec) return give_up("bind", datagram_port_number_, false, ec);

    address_ = address;
    return true;
}

void Node::StartServices() {
    open_ = true;
    counters_ = NodeCounters{};
    name_service_ = std::make_shared<NameService>(shared_from_this(), links_);
    session_service_ = std::make_shared<SessionService>(shared_from_this(), links_);
    datagram_service_ = std::make_shared<DatagramService>(shared_from_this(), links_);
    links_ = {name_service_.get(), session_service_.get(), datagram_service_.get()};
    targets_[Slot(Service::kName)] = name_service_.get();
    targets_[Slot(Service::kSession)] = session_service_.get();
    targets_[Slot(Service::kDatagram)] = datagram_service_.get();
    asio::error_code ignored;
    name_socket_.Attach(unicast_.release(ignored), weak_from_this(), /*level=*/true);
    StartReceiving();
}

void Node::StartReceiving() {
    datagram_socket_->Start([service = datagram_service_.get()](
                                std::span<const std::uint8_t> bytes, const asio::ip::udp::endpoint &from,
                                bool unicast) { service->OnPacket(bytes, from, unicast); });
    ReadNameSocket();
    ReceiveBroadcasts();
    Accept();
}

bool Node::Readdress(const Lana &lana) {
    if (!open_ || lana_.loopback || lana.loopback || lana.number != lana_.number) return false;
    // The old sockets go first: the new broadcast ones may take their
    // address and port. A fresh datagram port, so that none of the old
    // one's handlers reads into the new one.
    ++sockets_generation_;
    datagram_socket_->Close();
    datagram_socket_ = std::make_shared<DatagramPort>(io_);
    asio::error_code ignored;
    broadcast_.close(ignored);
    limited_broadcast_.close(ignored);
    listener_.close(ignored);
    unicast_backlog_.clear();  // sent from the old address, about it
    lana_ = lana;
    if (Bind(0) != NRC_GOODRET) return false;
    if (!name_socket_.Replace(unicast_.release(ignored), weak_from_this())) return false;
    unicast_drained_ = false;
    StartReceiving();
    session_service_->LeaveAddress();
    name_service_->Readdressed();
    return true;
}

void Node::BindLimitedBroadcast() {
    const auto limited = asio::ip::address_v4::broadcast();
    if (lana_.broadcast == limited) return;  // the subnet's socket has it already
    // Best effort: the subnet's broadcasts are what RFC peers send, so a
    // socket this adapter cannot have costs the reset nothing.
    asio::error_code ec;
    limited_broadcast_.open(asio::ip::udp::v4(), ec);
    if (!ec) limited_broadcast_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) ec = BindToDevice(limited_broadcast_.native_handle(), lana_.interface_name);
    if (!ec) limited_broadcast_.bind({limited, name_port_}, ec);
    if (ec) limited_broadcast_.close(ec);
}

void Node::ReceiveBroadcasts() {
    ReceiveBroadcasts(broadcast_, broadcast_buffer_, broadcast_from_);
    if (limited_broadcast_.is_open()) ReceiveBroadcasts(limited_broadcast_, limited_buffer_, limited_from_);
}

void Node::ReceiveBroadcasts(asio::ip::udp::socket &socket, std::vector<std::uint8_t> &buffer,
                             asio::ip::udp::endpoint &from) {
    socket.async_receive_from(asio::buffer(buffer), from,
                              [self = shared_from_this(), generation = sockets_generation_, &socket, &buffer,
                               &from](const asio::error_code &ec, std::size_t size) {
                                  if (!self->open_ || generation != self->sockets_generation_) return;
                                  if (ec) {
                                      if (Transient(ec))
                                          self->RetryLater([self, generation, &socket, &buffer, &from] {
                                              if (generation == self->sockets_generation_)
                                                  self->ReceiveBroadcasts(socket, buffer, from);
                                          });
                                      return;
                                  }
                                  // Our own broadcasts come back to us on the broadcast socket.
                                  if (from != self->name_endpoint())
                                      self->HandleNameDatagram(
                                          std::span<const std::uint8_t>(buffer.data(), size), from);
                                  if (self->open_) self->ReceiveBroadcasts(socket, buffer, from);
                              });
}

void Node::HandleNameDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from) {
    ++counters_.recv_success;
    // One bad datagram must not stop the receive loop.
    try {
        name_service_->OnDatagram(datagram, from);
    } catch (...) {
    }
}

void Node::Accept() {
    listener_.async_accept([self = shared_from_this(), generation = sockets_generation_](
                               const asio::error_code &ec, asio::ip::tcp::socket socket) {
        if (!self->open_ || generation != self->sockets_generation_) return;
        if (ec) {
            // Out of descriptors and the like: try again shortly, not at once.
            if (Transient(ec))
                self->RetryLater([self, generation] {
                    if (generation == self->sockets_generation_) self->Accept();
                });
            return;
        }
        try {
            self->session_service_->OnAccept(std::move(socket));
        } catch (...) {
        }
        if (self->open_) self->Accept();
    });
}

void Node::OnDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &from) {
    if (open_) name_service_->OnDatagram(datagram, from);
}

void Node::OnConnection(asio::ip::tcp::socket socket) {
    if (open_) session_service_->OnAccept(std::move(socket));
}

void Node::RetryLater(std::function<void()> again) {
    auto timer = std::make_shared<asio::steady_timer>(io_, kRetryDelay);
    timer->async_wait([self = shared_from_this(), timer, again = std::move(again)](const asio::error_code &) {
        if (self->open_) again();
    });
}

bool Node::IsPeerAddress(const asio::ip::address_v4 &address) const {
    if (address.is_unspecified() || address.is_multicast()) return false;
    if (address == asio::ip::address_v4::broadcast() || address == lana_.broadcast) return false;
    // 127.0.0.N are the nodes of the loopback LANA; on a LAN they would be us.
    return lana_.loopback || !address.is_loopback();
}

bool Node::OnSubnet(const asio::ip::address_v4 &address) const {
    // LANA 0's address is chosen at reset, but it is somewhere in 127/8.
    const std::uint32_t own = lana_.loopback ? 0x7F000000u : lana_.address.to_uint();
    return ((address.to_uint() ^ own) & lana_.netmask.to_uint()) == 0;
}

void Node::SendDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &to) {
    if (!name_socket_.open()) return;
    if (holding_sends_) {
        held_sends_.emplace_back(std::vector<std::uint8_t>(datagram.begin(), datagram.end()), to);
        return;
    }
    if (unicast_backlog_.empty()) {
        const auto address = to.data();
        const ssize_t n = ::sendto(name_socket_.fd(), datagram.data(), datagram.size(),
                                   MSG_DONTWAIT | MSG_NOSIGNAL, address, static_cast<socklen_t>(to.size()));
        if (n >= 0) {
            ++counters_.xmit_success;
            return;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) {
            ++counters_.xmit_aborts;
            return;
        }
    }
    // Send buffer full: queue a copy, if the queue has room.
    if (unicast_backlog_.size() >= kMaxQueuedDatagrams) {
        NodeCounters::CountUpTo16Bits(counters_.xmit_buf_unavail);
        return;
    }
    unicast_backlog_.emplace_back(std::vector<std::uint8_t>(datagram.begin(), datagram.end()), to);
    WatchNameSocket();
}

void Node::FlushNameBacklog() {
    while (!unicast_backlog_.empty() && name_socket_.open()) {
        const auto &[bytes, to] = unicast_backlog_.front();
        const ssize_t n = ::sendto(name_socket_.fd(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                   to.data(), static_cast<socklen_t>(to.size()));
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) return;
        if (n >= 0)
            ++counters_.xmit_success;
        else
            ++counters_.xmit_aborts;
        unicast_backlog_.pop_front();
    }
}

// Datagrams read in one go before the rest is left to a later turn of the
// network thread.
constexpr int kNameReadBatch = 64;

// Answers to what ReadNameSocket() reads are sent once it is done: the
// sender then sleeps right after its last send, which is when the peer's
// answer to it may come. Busy past that, it makes the peer's wake-up dearer.
class Node::HeldSends {
public:
    explicit HeldSends(Node &node) : node_(node), outer_(node.holding_sends_) { node_.holding_sends_ = true; }
    ~HeldSends() {
        if (outer_) return;
        node_.holding_sends_ = false;
        auto held = std::move(node_.held_sends_);
        node_.held_sends_.clear();
        for (const auto &[bytes, to] : held) node_.SendDatagram(bytes, to);
    }
    HeldSends(const HeldSends &) = delete;
    HeldSends &operator=(const HeldSends &) = delete;

private:
    Node &node_;
    bool outer_;
};

void Node::ReadNameSocket() {
    auto self = shared_from_this();
    HeldSends held(*this);
    std::array<sockaddr_in, kNameReadsAtOnce> from{};
    std::array<iovec, kNameReadsAtOnce> into{};
    std::array<mmsghdr, kNameReadsAtOnce> reads{};
    for (unsigned i = 0; i < kNameReadsAtOnce; ++i) {
        into[i] = {unicast_buffer_.data() + i * kMaxDatagram, kMaxDatagram};
        reads[i].msg_hdr.msg_name = &from[i];
        reads[i].msg_hdr.msg_iov = &into[i];
        reads[i].msg_hdr.msg_iovlen = 1;
    }
    for (int taken = 0; taken < kNameReadBatch;) {
        if (!open_ || !name_socket_.open()) return;
        for (auto &read : reads) read.msg_hdr.msg_namelen = sizeof(sockaddr_in);
        const int n = ::recvmmsg(name_socket_.fd(), reads.data(), kNameReadsAtOnce, MSG_DONTWAIT, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                unicast_drained_ = true;
                return WatchNameSocket();
            }
            if (errno == ENOMEM || errno == ENOBUFS) {
                // Try again shortly, not at once.
                unicast_drained_ = false;
                WatchNameSocket();
                RetryLater([self] { self->ReadNameSocket(); });
                return;
            }
            ++taken;
            continue;  // an ICMP error for an earlier send, reported once: read on
        }
        unicast_drained_ = static_cast<unsigned>(n) < kNameReadsAtOnce;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) && open_ && name_socket_.open(); ++i) {
            if (from[i].sin_family != AF_INET) continue;
            const asio::ip::udp::endpoint sender(asio::ip::address_v4(ntohl(from[i].sin_addr.s_addr)),
                                                 ntohs(from[i].sin_port));
            HandleNameDatagram(std::span<const std::uint8_t>(
                                   static_cast<const std::uint8_t *>(into[i].iov_base), reads[i].msg_len),
                               sender);
        }
        taken += n;
        if (unicast_drained_) return WatchNameSocket();
    }
    // Not watched meanwhile: what is left is read by the turn posted here.
    unicast_drained_ = false;
    WatchNameSocket();
    asio::post(io_, [self] { self->ReadNameSocket(); });
}

void Node::WatchNameSocket(bool later) {
    std::uint32_t want = 0;
    if (unicast_drained_ && name_socket_readers_ == 0) want |= EPOLLIN;
    if (!unicast_backlog_.empty()) want |= EPOLLOUT;
    name_socket_.Watch(want, later);
}

void Node::OnReady(std::uint32_t events) {
    auto self = shared_from_this();
    name_socket_.Fired();
    if (!open_) return name_socket_.Watch(0);
    if (events & (EPOLLOUT | EPOLLERR)) FlushNameBacklog();
    if (events & (EPOLLIN | EPOLLERR)) return ReadNameSocket();
    WatchNameSocket();
}

bool Node::HandToCaller(const NCB *ncb, std::weak_ptr<CallerWork> work, int fd, short events) {
    return pending_.HandToCaller(ncb, std::move(work), fd, events);
}

void Node::LetCallerReadNameSocket(NCB *ncb) {
    if (!name_socket_.open() || !IsPending(ncb)) return;
    if (!HandToCaller(ncb, std::static_pointer_cast<CallerWork>(shared_from_this()), name_socket_.fd(),
                      POLLIN))
        return;
    ++name_socket_readers_;
    WatchNameSocket();  // the caller reads: the network thread need not wake for it
}

short Node::Step(short, bool) {
    ReadNameSocket();
    return open_ && name_socket_.open() ? POLLIN : 0;
}

void Node::Leave(short) {
    if (--name_socket_readers_ > 0) return;
    // Armed without a read first: arming looks at the socket again.
    unicast_drained_ = true;
    WatchNameSocket(/*later=*/true);
}

void Node::Recheck() {
    auto self = shared_from_this();
    WatchNameSocket();
}

void Node::CloseNameSocket() {
    name_socket_.Close();
    unicast_backlog_.clear();
}

void Node::SendDatagramPacket(std::span<const std::uint8_t> packet, const asio::ip::udp::endpoint &to) {
    switch (datagram_socket_->Send(packet, to)) {
        case DatagramPort::SendResult::kSent:
            ++counters_.xmit_success;
            break;
        case DatagramPort::SendResult::kQueueFull:
            NodeCounters::CountUpTo16Bits(counters_.xmit_buf_unavail);
            break;
        case DatagramPort::SendResult::kFailed:
            NodeCounters::CountUpTo16Bits(counters_.xmit_aborts);
            break;
    }
}

bool Node::Complete(NCB *ncb, UCHAR rc) {
    return pending_.Complete(ncb, rc);
}

void Node::Submit(NCB *ncb, SyncWaiter *waiter, ClientId client) {
    if (!open_) {
        pending_.Refuse(ncb, waiter, NRC_ENVNOTDEF);
        return;
    }
    if (client != kProcessClient) {
        if (const UCHAR rc = ClientRoom(client, ClientLimit::kNcbs, pending_.CountOf(client), NRC_TOOMANY)) {
            pending_.Refuse(ncb, waiter, rc);
            return;
        }
    }
    const std::size_t limit = limits_.shared ? SIZE_MAX : limits_.ncbs;
    if (!pending_.Add(ncb, waiter, client, limit)) {
        pending_.Refuse(ncb, waiter, NRC_TOOMANY);
        return;
    }
    if (settings_.hold_for_test && settings_.hold_for_test(*ncb)) return;
    try {
        targets_[Slot(CommandOf(ncb->ncb_command).service)]->Submit(ncb);
    } catch (const std::bad_alloc &) {
        Complete(ncb, NRC_NORES);
    } catch (...) {
        Complete(ncb, NRC_SYSTEM);
    }
}

void Node::Shutdown() {
    Close(NRC_CMDCAN, true);
}

void Node::Lose(UCHAR rc) {
    Close(rc, false);
}

void Node::Close(UCHAR pending_rc, bool release_names) {
    if (!open_) return;
    open_ = false;
    // Callers first: nothing stays blocked, whatever the services do next.
    pending_.CompleteAll(pending_rc);
    // The services may still send (name releases) while the sockets are
    // open. A failure in one must not keep the other running.
    try {
        if (name_service_) name_service_->Shutdown(release_names);
    } catch (...) {
    }
    try {
        if (session_service_) session_service_->Shutdown();
    } catch (...) {
    }
    if (datagram_service_) datagram_service_->Shutdown();
    datagram_socket_->Close();
    CloseNameSocket();
    asio::error_code ignored;
    unicast_.close(ignored);
    broadcast_.close(ignored);
    limited_broadcast_.close(ignored);
    listener_.close(ignored);
    targets_ = {};
    links_ = {};
    name_service_.reset();
    session_service_.reset();
    datagram_service_.reset();
}

}  // namespace nbt
