#include "datagram_reassembly.h"

#include <algorithm>

namespace nbt {

std::optional<WholeDatagram> DatagramReassembly::Add(const codec::DatagramPacket &packet,
                                                     Clock::time_point now) {
    const auto &header = packet.header;
    // Unfragmented: the usual case, nothing to keep.
    if (packet.offset == 0 && !header.more())
        return WholeDatagram{
            header.type, packet.source, packet.destination, {packet.data.begin(), packet.data.end()}};

    const std::size_t end = std::size_t{packet.offset} + packet.data.size();
    if (end > 0xFFFF || packet.data.size() > bounds_.max_bytes) return std::nullopt;
    const Key key{header.source_ip, header.source_port, header.id};
    auto it = partials_.find(key);
    if (it == partials_.end()) {
        Partial fresh;
        fresh.started = now;
        fresh.datagram.type = header.type;
        fresh.datagram.source = packet.source;
        fresh.datagram.destination = packet.destination;
        it = partials_.emplace(key, std::move(fresh)).first;
    }
    Partial &partial = it->second;
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
    if (!header.more()) partial.total = end;
    if (partial.total && std::any_of(partial.pieces.begin(), partial.pieces.end(), [&](const auto &piece) {
            return piece.first + piece.second.size() > *partial.total;
        })) {
        Drop(it);
        return std::nullopt;
    }

    auto &slot = partial.pieces[packet.offset];
    if (packet.data.size() > slot.size()) {
        if (!MakeRoom(packet.data.size() - slot.size(), key)) return std::nullopt;
        held_bytes_ += packet.data.size() - slot.size();
        it->second.bytes += packet.data.size() - slot.size();
        slot.assign(packet.data.begin(), packet.data.end());
    }

    auto whole = Assemble(it->second);
    if (!whole) return std::nullopt;
    WholeDatagram done = std::move(it->second.datagram);
    done.data = std::move(*whole);
    held_bytes_ -= it->second.bytes;
    partials_.erase(it);
    return done;
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

void DatagramReassembly::Drop(std::map<Key, Partial>::iterator it) {
    held_bytes_ -= it->second.bytes;
    partials_.erase(it);
    ++dropped_;
}

bool DatagramReassembly::MakeRoom(std::size_t incoming, const Key &keep) {
    while (held_bytes_ + incoming > bounds_.max_bytes) {
        auto oldest = partials_.end();
        for (auto it = partials_.begin(); it != partials_.end(); ++it)
            if (it->first != keep &&
                (oldest == partials_.end() || it->second.started < oldest->second.started))
                oldest = it;
        if (oldest == partials_.end()) {
            Drop(partials_.find(keep));
            return false;
        }
        Drop(oldest);
    }
    return true;
}

std::optional<DatagramReassembly::Clock::time_point> DatagramReassembly::Expire(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    for (auto it = partials_.begin(); it != partials_.end();) {
        const auto deadline = it->second.started + bounds_.timeout;
        if (deadline <= now) {
            Drop(it++);
            continue;
        }
        if (!next || deadline < *next) next = deadline;
        ++it;
    }
    return next;
}

}  // namespace nbt
