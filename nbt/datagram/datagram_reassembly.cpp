// SPDX-License-Identifier: MIT
#include "datagram_reassembly.h"

#include <algorithm>

namespace nbt {

std::optional<WholeDatagram> DatagramReassembly::Add(const codec::DatagramPacket &packet, DatagramSender from,
                                                     Clock::time_point now) {
    const auto &header = packet.header;
    // Unfragmented: the usual case, nothing to keep.
    if (packet.offset == 0 && !header.more())
        return WholeDatagram{
            header.type, packet.source, packet.destination, {packet.data.begin(), packet.data.end()}};

    const std::size_t end = std::size_t{packet.offset} + packet.data.size();
    if (end > 0xFFFF || packet.data.size() > bounds_.max_bytes) return std::nullopt;
    const Key key{from.address, from.port, header.source_ip, header.source_port, header.id};
    const auto found = index_.find(key);
    // A first piece not at the start cannot begin anything: refused before
    // it makes any other datagram room.
    if (found == index_.end() && header.first() && packet.offset != 0) {
        ++dropped_;
        return std::nullopt;
    }
    const auto it = found != index_.end() ? found->second : Start(key, packet, now);
    Partial &partial = *it;
    // A piece that disagrees with what came before spoils the datagram.
    const bool inconsistent = (header.first() && packet.offset != 0) ||
                              (!header.more() && partial.total && *partial.total != end) ||
                              (partial.total && end > *partial.total) ||
                              partial.pieces.size() >= bounds_.max_pieces;
    if (inconsistent) {
        Drop(it);
        return std::nullopt;
    }
    if (header.first()) partial.have_first = true;
    if (!header.more()) {
        partial.total = end;
        // Pieces already held must end within it (at most max_pieces to look at).
        if (std::any_of(partial.pieces.begin(), partial.pieces.end(),
                        [&](const auto &piece) { return piece.first + piece.second.size() > end; })) {
            Drop(it);
            return std::nullopt;
        }
    }

    // A new piece is charged its bytes and a fixed cost, and the first of a
    // datagram the datagram's too; a longer one at the same offset, the
    // bytes it adds.
    const auto slot = partial.pieces.find(packet.offset);
    const std::size_t had = slot == partial.pieces.end() ? 0 : slot->second.size();
    if (slot == partial.pieces.end() || packet.data.size() > had) {
        const std::size_t cost = packet.data.size() - had + (slot == partial.pieces.end() ? kPieceCost : 0) +
                                 (partial.charged == 0 ? kPartialCost : 0);
        if (!MakeRoom(cost, it)) return std::nullopt;
        held_bytes_ += cost;
        partial.charged += cost;
        partial.pieces[packet.offset].assign(packet.data.begin(), packet.data.end());
    }

    auto whole = Assemble(partial);
    if (!whole) return std::nullopt;
    WholeDatagram done = std::move(partial.datagram);
    done.data = std::move(*whole);
    Remove(it);
    return done;
}

DatagramReassembly::Order::iterator DatagramReassembly::Start(const Key &key,
                                                              const codec::DatagramPacket &packet,
                                                              Clock::time_point now) {
    const std::uint32_t address = std::get<0>(key);
    // The sender's own oldest makes room for its next, then anyone's.
    if (const auto own = by_source_.find(address);
        own != by_source_.end() && own->second.size() >= bounds_.max_per_source)
        Drop(own->second.front());
    if (!order_.empty() && order_.size() >= bounds_.max_partials) Drop(order_.begin());

    Partial fresh;
    fresh.key = key;
    // Never before the newest, so the list stays in the order they run out.
    fresh.started = order_.empty() ? now : std::max(now, order_.back().started);
    fresh.datagram.type = packet.header.type;
    fresh.datagram.source = packet.source;
    fresh.datagram.destination = packet.destination;
    const auto it = order_.insert(order_.end(), std::move(fresh));
    index_.emplace(key, it);
    by_source_[address].push_back(it);
    return it;
}

std::optional<std::vector<std::uint8_t>> DatagramReassembly::Assemble(const Partial &partial) {
    if (!partial.have_first || !partial.total) return std::nullopt;
    // Pieces sorted by offset must leave no gap up to the total.
    std::size_t covered = 0;
    for (const auto &[offset, bytes] : partial.pieces) {
        if (offset > covered) return std::nullopt;
        covered = std::max(covered, offset + bytes.size());
    }
    if (covered < *partial.total) return std::nullopt;
    std::vector<std::uint8_t> data(*partial.total);
    for (const auto &[offset, bytes] : partial.pieces)
        std::copy(bytes.begin(), bytes.end(), data.begin() + offset);
    return data;
}

void DatagramReassembly::Remove(Order::iterator it) {
    held_bytes_ -= it->charged;
    index_.erase(it->key);
    const auto own = by_source_.find(std::get<0>(it->key));
    std::erase(own->second, it);  // at most max_per_source
    if (own->second.empty()) by_source_.erase(own);
    order_.erase(it);
}

void DatagramReassembly::Drop(Order::iterator it) {
    Remove(it);
    ++dropped_;
}

bool DatagramReassembly::MakeRoom(std::size_t incoming, Order::iterator keep) {
    // Each pass drops one datagram, so this costs at most max_partials.
    while (held_bytes_ + incoming > bounds_.max_bytes) {
        auto oldest = order_.begin();
        if (oldest == keep) ++oldest;
        if (oldest == order_.end()) {
            Drop(keep);
            return false;
        }
        Drop(oldest);
    }
    return true;
}

std::optional<DatagramReassembly::Clock::time_point> DatagramReassembly::Expire(Clock::time_point now) {
    while (!order_.empty() && order_.front().started + bounds_.timeout <= now) Drop(order_.begin());
    if (order_.empty()) return std::nullopt;
    return order_.front().started + bounds_.timeout;
}

}  // namespace nbt
