// SPDX-License-Identifier: MIT
#include "name_exchanges.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <span>
#include <vector>

namespace nbt {
namespace {

// Fills `bytes` from getrandom(2); should the call be refused (a kernel
// without it, a seccomp filter), from std::random_device instead.
void FillRandom(std::span<std::uint8_t> bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            std::random_device device;
            for (; filled < bytes.size(); ++filled) bytes[filled] = static_cast<std::uint8_t>(device());
        }
    }
}

}  // namespace

struct NameExchanges::Exchange {
    std::uint16_t id = 0;
    Request request;
    ReplyHandler on_reply;
    ExpiryHandler on_expiry;
    int sent = 0;
    bool finished = false;
    Clock::time_point due;
    Clock::time_point wack_deadline;  // no WACK holds it past this
};

NameExchanges::NameExchanges(const asio::any_io_executor &io, Sender sender)
    : sender_(std::move(sender)), timer_(io) {}

NameExchanges::~NameExchanges() {
    CancelAll();
}

std::uint16_t NameExchanges::NewId() {
    std::uint16_t id;
    do {
        if (random_used_ + 2 > random_.size()) {
            FillRandom(random_);
            random_used_ = 0;
        }
        id = static_cast<std::uint16_t>(random_[random_used_] << 8 | random_[random_used_ + 1]);
        random_used_ += 2;
    } while (id == 0 || exchanges_.contains(id));
    return id;
}

void NameExchanges::Start(std::uint16_t id, Request request, ReplyHandler on_reply, ExpiryHandler on_expiry) {
    auto exchange = std::make_shared<Exchange>();
    exchange->id = id;
    exchange->request = std::move(request);
    exchange->on_reply = std::move(on_reply);
    exchange->on_expiry = std::move(on_expiry);
    if (exchange->request.count < 1) exchange->request.count = 1;
    exchanges_[id] = exchange;
    exchange->sent = 1;
    const auto now = Clock::now();
    exchange->due = now + exchange->request.interval;
    exchange->wack_deadline = now + exchange->request.wack_limit;
    Schedule(exchange->due);
    // Last: a caller that waits for the answer should be asleep when it
    // comes, not still busy here.
    sender_(exchange->request.bytes, exchange->request.to);
}

void NameExchanges::Schedule(Clock::time_point due) {
    if (armed_ && *armed_ <= due) return;
    armed_ = due;
    const std::uint64_t generation = ++generation_;
    timer_.expires_at(due);
    timer_.async_wait([this, generation, alive = std::weak_ptr<int>(alive_)](const asio::error_code &ec) {
        if (ec || alive.expired() || generation != generation_) return;
        armed_.reset();
        OnTimer();
    });
}

void NameExchanges::OnTimer() {
    const auto now = Clock::now();
    std::vector<std::shared_ptr<Exchange>> due;
    for (const auto &[id, exchange] : exchanges_)
        if (exchange->due <= now) due.push_back(exchange);
    for (const auto &exchange : due) {
        if (exchange->finished) continue;  // a handler of an earlier one ended it
        if (exchange->sent < exchange->request.count) {
            sender_(exchange->request.bytes, exchange->request.to);
            ++exchange->sent;
            exchange->due = now + exchange->request.interval;
            continue;
        }
        ++expired_;
        auto on_expiry = std::move(exchange->on_expiry);
        Finish(exchange->id);
        if (on_expiry) on_expiry();
    }
    for (const auto &[id, exchange] : exchanges_) Schedule(exchange->due);
}

bool NameExchanges::Deliver(const codec::NamePacket &packet, const asio::ip::udp::endpoint &from) {
    auto it = exchanges_.find(packet.header.trn_id);
    if (it == exchanges_.end()) return false;
    auto exchange = it->second;
    const auto &request = exchange->request;
    if (!packet.header.IsResponse()) return false;
    if (request.peer && from.address() != asio::ip::address(*request.peer)) return false;
    if (request.peer_port && from.port() != request.peer_port) return false;
    const codec::NameOpcode opcode = packet.header.Opcode();
    if (request.wack_name && opcode == codec::NameOpcode::kWack) {
        if (packet.answers.empty() || packet.answers[0].name != *request.wack_name) return false;
        // The server is asking around: wait as long as it says, asking no
        // more, up to the limit. A later WACK may lengthen the wait, not
        // cut short one the server asked for.
        const auto now = Clock::now();
        const auto ttl = std::chrono::seconds(std::max<std::uint32_t>(packet.answers[0].ttl, 1));
        const auto until = ttl < exchange->wack_deadline - now ? now + ttl : exchange->wack_deadline;
        exchange->sent = request.count;
        exchange->due = std::max(exchange->due, until);
        return true;
    }
    if (opcode != request.opcode && opcode != request.also_opcode) return false;
    if (exchange->on_reply(packet, from) && !exchange->finished) Finish(exchange->id);
    return true;
}

void NameExchanges::Finish(std::uint16_t id) {
    auto it = exchanges_.find(id);
    if (it == exchanges_.end()) return;
    it->second->finished = true;
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
        exchange->on_reply = nullptr;
        exchange->on_expiry = nullptr;
    }
    ++generation_;
    armed_.reset();
    asio::error_code ignored;
    timer_.cancel(ignored);
}

}  // namespace nbt
