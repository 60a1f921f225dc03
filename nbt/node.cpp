#include "node.h"

#include <sys/socket.h>

#include <cstring>

#include "io_thread.h"
#include "name_service.h"
#include "session_service.h"

namespace nbt {
namespace {

constexpr std::size_t kMaxDatagram = 65536;
constexpr auto kRetryDelay = std::chrono::milliseconds(100);

// Ties a socket to the LANA's interface so broadcasts of other interfaces
// with the same broadcast address stay out.
bool BindToDevice(int fd, const std::string &interface_name) {
    return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface_name.c_str(),
                      static_cast<socklen_t>(interface_name.size())) == 0;
}

std::size_t Slot(Service service) {
    return static_cast<std::size_t>(service);
}

bool Transient(const asio::error_code &ec) {
    return ec != asio::error::operation_aborted && ec != asio::error::bad_descriptor;
}

}  // namespace

Node::Node(const Lana &lana, const Limits &limits, const Settings &settings)
    : io_(IoThread::Get().context()),
      lana_(lana),
      limits_(limits),
      settings_(settings),
      unicast_(io_),
      broadcast_(io_),
      listener_(io_),
      unicast_buffer_(kMaxDatagram),
      broadcast_buffer_(kMaxDatagram) {}

Node::~Node() {
    asio::error_code ignored;
    unicast_.close(ignored);
    broadcast_.close(ignored);
    listener_.close(ignored);
}

std::shared_ptr<Node> Node::Open(const Lana &lana, const Limits &limits, const Settings &settings,
                                 std::uint8_t preferred_host, UCHAR *rc) {
    auto node = std::make_shared<Node>(lana, limits, settings);
    *rc = node->Bind(preferred_host);
    if (*rc != NRC_GOODRET) return nullptr;
    node->StartServices();
    return node;
}

UCHAR Node::Bind(std::uint8_t preferred_host) {
    asio::error_code ec;
    name_port_ = lana_.loopback ? settings_.loopback_name_port : settings_.name_port;
    session_port_ = lana_.loopback ? settings_.loopback_session_port : settings_.session_port;

    // Every node on the segment shares the broadcast address's port.
    broadcast_.open(asio::ip::udp::v4(), ec);
    if (ec) return NRC_OSRESNOTAV;
    broadcast_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!lana_.loopback && !BindToDevice(broadcast_.native_handle(), lana_.interface_name))
        return NRC_OPENERR;
    broadcast_.bind({lana_.broadcast, name_port_}, ec);
    if (ec) return NRC_OPENERR;

    if (!lana_.loopback) {
        mac_ = lana_.mac;
        return BindAt(lana_.address) ? NRC_GOODRET : NRC_OPENERR;
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
        if (BindAt(asio::ip::address_v4((127u << 24) | n))) {
            host_number_ = n;
            mac_ = {0x02, 0x00, 0x7F, 0x00, 0x00, n};
            return NRC_GOODRET;
        }
    }
    return NRC_OPENERR;
}

bool Node::BindAt(const asio::ip::address_v4 &address) {
    asio::error_code ec;
    auto give_up = [this] {
        asio::error_code ignored;
        unicast_.close(ignored);
        listener_.close(ignored);
        return false;
    };

    unicast_.open(asio::ip::udp::v4(), ec);
    if (ec) return give_up();
    unicast_.set_option(asio::socket_base::broadcast(true), ec);
    if (ec) return give_up();
    if (!lana_.loopback && !BindToDevice(unicast_.native_handle(), lana_.interface_name)) return give_up();
    unicast_.bind({address, name_port_}, ec);
    if (ec) return give_up();
    unicast_.non_blocking(true, ec);
    if (ec) return give_up();

    listener_.open(asio::ip::tcp::v4(), ec);
    if (ec) return give_up();
    // Lets a reset rebind while old connections sit in TIME_WAIT; a second
    // listener on the same address and port is still refused.
    listener_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!lana_.loopback && !BindToDevice(listener_.native_handle(), lana_.interface_name)) return give_up();
    listener_.bind({address, session_port_}, ec);
    if (ec) return give_up();
    listener_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return give_up();

    address_ = address;
    return true;
}

void Node::StartServices() {
    open_ = true;
    counters_ = NodeCounters{};
    name_service_ = std::make_shared<NameService>(shared_from_this(), links_);
    session_service_ = std::make_shared<SessionService>(shared_from_this(), links_);
    links_ = {name_service_.get(), session_service_.get()};
    targets_[Slot(Service::kName)] = name_service_.get();
    targets_[Slot(Service::kSession)] = session_service_.get();
    ReceiveOn(unicast_, unicast_buffer_, unicast_from_, false);
    ReceiveOn(broadcast_, broadcast_buffer_, broadcast_from_, true);
    Accept();
}

void Node::ReceiveOn(asio::ip::udp::socket &socket, std::vector<std::uint8_t> &buffer,
                     asio::ip::udp::endpoint &from, bool broadcast_socket) {
    socket.async_receive_from(asio::buffer(buffer), from,
                              [self = shared_from_this(), &socket, &buffer, &from, broadcast_socket](
                                  const asio::error_code &ec, std::size_t size) {
                                  if (!self->open_) return;
                                  if (ec) {
                                      if (Transient(ec))
                                          self->RetryLater([self, &socket, &buffer, &from, broadcast_socket] {
                                              self->ReceiveOn(socket, buffer, from, broadcast_socket);
                                          });
                                      return;
                                  }
                                  // Our own broadcasts come back to us on the broadcast socket.
                                  const bool own = broadcast_socket && from == self->name_endpoint();
                                  if (!own) {
                                      ++self->counters_.recv_success;
                                      // One bad datagram must not stop the receive loop.
                                      try {
                                          self->name_service_->OnDatagram(
                                              std::span<const std::uint8_t>(buffer.data(), size), from);
                                      } catch (...) {
                                      }
                                  }
                                  if (self->open_) self->ReceiveOn(socket, buffer, from, broadcast_socket);
                              });
}

void Node::Accept() {
    listener_.async_accept(
        [self = shared_from_this()](const asio::error_code &ec, asio::ip::tcp::socket socket) {
            if (!self->open_) return;
            if (ec) {
                // Out of descriptors and the like: try again shortly, not at once.
                if (Transient(ec)) self->RetryLater([self] { self->Accept(); });
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

void Node::SendDatagram(std::span<const std::uint8_t> datagram, const asio::ip::udp::endpoint &to) {
    if (!unicast_.is_open()) return;
    asio::error_code ec;
    unicast_.send_to(asio::buffer(datagram.data(), datagram.size()), to, 0, ec);
    if (!ec) {
        ++counters_.xmit_success;
        return;
    }
    if (ec != asio::error::would_block && ec != asio::error::try_again) {
        ++counters_.xmit_aborts;
        return;
    }
    // Send buffer full: queue a copy.
    auto copy = std::make_shared<std::vector<std::uint8_t>>(datagram.begin(), datagram.end());
    unicast_.async_send_to(asio::buffer(*copy), to,
                           [self = shared_from_this(), copy](const asio::error_code &error, std::size_t) {
                               if (error)
                                   ++self->counters_.xmit_aborts;
                               else
                                   ++self->counters_.xmit_success;
                           });
}

bool Node::Complete(NCB *ncb, UCHAR rc) {
    return pending_.Complete(ncb, rc);
}

void Node::Submit(NCB *ncb, SyncWaiter *waiter) {
    if (!open_) {
        Deliver(ncb, waiter, NRC_ENVNOTDEF);
        return;
    }
    if (!pending_.Add(ncb, waiter, limits_.ncbs)) {
        Deliver(ncb, waiter, NRC_TOOMANY);
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
    if (!open_) return;
    open_ = false;
    // Callers first: nothing stays blocked, whatever the services do next.
    pending_.CompleteAll(NRC_CMDCAN);
    // The services may still send (name releases) while the sockets are
    // open. A failure in one must not keep the other running.
    try {
        if (name_service_) name_service_->Shutdown();
    } catch (...) {
    }
    try {
        if (session_service_) session_service_->Shutdown();
    } catch (...) {
    }
    asio::error_code ignored;
    unicast_.close(ignored);
    broadcast_.close(ignored);
    listener_.close(ignored);
    targets_ = {};
    links_ = {};
    name_service_.reset();
    session_service_.reset();
}

}  // namespace nbt
