#include "name_exchanges.h"

namespace nbt {

struct NameExchanges::Exchange {
    std::uint16_t id = 0;
    Request request;
    ReplyHandler on_reply;
    ExpiryHandler on_expiry;
    int sent = 0;
    bool finished = false;
    asio::steady_timer timer;

    explicit Exchange(asio::io_context &io) : timer(io) {}
};

NameExchanges::NameExchanges(asio::io_context &io, Sender sender)
    : io_(io), sender_(std::move(sender)), random_(std::random_device{}()) {}

NameExchanges::~NameExchanges() {
    CancelAll();
}

std::uint16_t NameExchanges::NewId() {
    std::uniform_int_distribution<unsigned> pick(1, 0xFFFF);
    std::uint16_t id;
    do {
        id = static_cast<std::uint16_t>(pick(random_));
    } while (exchanges_.contains(id));
    return id;
}

void NameExchanges::Start(std::uint16_t id, Request request, ReplyHandler on_reply, ExpiryHandler on_expiry) {
    auto exchange = std::make_shared<Exchange>(io_);
    exchange->id = id;
    exchange->request = std::move(request);
    exchange->on_reply = std::move(on_reply);
    exchange->on_expiry = std::move(on_expiry);
    if (exchange->request.count < 1) exchange->request.count = 1;
    exchanges_[id] = exchange;
    sender_(exchange->request.bytes, exchange->request.to);
    exchange->sent = 1;
    Arm(exchange);
}

void NameExchanges::Arm(const std::shared_ptr<Exchange> &exchange) {
    exchange->timer.expires_after(exchange->request.interval);
    exchange->timer.async_wait(
        [this, exchange, alive = std::weak_ptr<int>(alive_)](const asio::error_code &ec) {
            if (ec || alive.expired() || exchange->finished) return;
            if (exchange->sent < exchange->request.count) {
                sender_(exchange->request.bytes, exchange->request.to);
                ++exchange->sent;
                Arm(exchange);
                return;
            }
            ++expired_;
            auto on_expiry = std::move(exchange->on_expiry);
            Finish(exchange->id);
            if (on_expiry) on_expiry();
        });
}

bool NameExchanges::Deliver(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    auto it = exchanges_.find(packet.header.trn_id);
    if (it == exchanges_.end()) return false;
    auto exchange = it->second;
    const auto &request = exchange->request;
    if (!packet.header.IsResponse() || packet.header.Opcode() != request.opcode) return false;
    if (request.peer && from.address() != asio::ip::address(*request.peer)) return false;
    if (exchange->on_reply(packet, from) && !exchange->finished) Finish(exchange->id);
    return true;
}

void NameExchanges::Finish(std::uint16_t id) {
    auto it = exchanges_.find(id);
    if (it == exchanges_.end()) return;
    it->second->finished = true;
    it->second->timer.cancel();
    exchanges_.erase(it);
}

void NameExchanges::Cancel(std::uint16_t id) {
    auto it = exchanges_.find(id);
    if (it == exchanges_.end()) return;
    auto exchange = it->second;
    Finish(id);
    exchange->on_reply = nullptr;
    exchange->on_expiry = nullptr;
}

void NameExchanges::CancelAll() {
    auto all = std::move(exchanges_);
    exchanges_.clear();
    for (auto &[id, exchange] : all) {
        exchange->finished = true;
        exchange->timer.cancel();
        exchange->on_reply = nullptr;
        exchange->on_expiry = nullptr;
    }
}

}  // namespace nbt
