// SPDX-License-Identifier: MIT
// Putting fragmented datagrams back together (RFC 1002 4.4.1): pieces are
// keyed by the UDP address they came from and by the sender's SOURCE_IP,
// SOURCE_PORT and DGM_ID, placed by PACKET_OFFSET, and the datagram is whole
// once the first piece (F), the last (M clear) and everything between have
// come, in any order and with overlaps. A datagram not whole within the
// fragment timeout is dropped.
//
// A hostile host can send first pieces without end, and the network thread
// does this holding the state lock that callers wait on, so everything is
// bounded and no piece costs more than a fixed amount of work: unfinished
// datagrams are held oldest first (which is also the order they run out
// in), at most max_partials of them and max_per_source from one address,
// and each is charged its bytes plus a fixed cost for itself and for each
// piece, so that empty pieces are not free. Making room drops the oldest.
// Pure bookkeeping, no sockets or timers: the caller passes the time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "datagram_packet.h"

namespace nbt {

struct WholeDatagram {
    codec::DatagramType type = codec::DatagramType::kDirectUnique;
    codec::NetbiosName source;
    codec::NetbiosName destination;
    std::vector<std::uint8_t> data;
};

// Where a piece came from: the UDP source, not what its header claims.
struct DatagramSender {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// What an unfinished datagram and each of its pieces are charged beyond
// their bytes: about what their headers, names and bookkeeping take.
inline constexpr std::size_t kPartialCost = 256;
inline constexpr std::size_t kPieceCost = 64;

struct ReassemblyBounds {
    std::chrono::milliseconds timeout{codec::kFragmentTimeoutMs};
    // Charged to all unfinished datagrams together; a datagram of 65535
    // bytes in max_pieces pieces fits with room to spare.
    std::size_t max_bytes = 128 * 1024;
    std::size_t max_pieces = 64;  // per datagram
    std::size_t max_partials = 256;
    std::size_t max_per_source = 16;  // from one address
};

class DatagramReassembly {
public:
    using Clock = std::chrono::steady_clock;
    using Bounds = ReassemblyBounds;

    explicit DatagramReassembly(Bounds bounds = {}) : bounds_(bounds) {}

    // A decoded data packet from `from`. Returns the whole datagram when
    // this piece completes one (at once for an unfragmented packet).
    std::optional<WholeDatagram> Add(const codec::DatagramPacket &packet, DatagramSender from,
                                     Clock::time_point now);
    // Drops what has waited past the timeout; the time the next one would
    // run out, if any is left.
    std::optional<Clock::time_point> Expire(Clock::time_point now);

    std::size_t partial_count() const { return order_.size(); }
    // What the unfinished datagrams are charged, overheads included.
    std::size_t held_bytes() const { return held_bytes_; }
    std::uint32_t dropped() const { return dropped_; }

private:
    // UDP address and port, then SOURCE_IP, SOURCE_PORT and DGM_ID.
    using Key = std::tuple<std::uint32_t, std::uint16_t, std::uint32_t, std::uint16_t, std::uint16_t>;
    struct Partial {
        Key key;
        Clock::time_point started;
        WholeDatagram datagram;  // names and type from the first piece that came
        std::map<std::uint16_t, std::vector<std::uint8_t>> pieces;  // by offset
        bool have_first = false;
        std::optional<std::size_t> total;  // known once the last piece came
        std::size_t charged = 0;
    };
    using Order = std::list<Partial>;

    static std::optional<std::vector<std::uint8_t>> Assemble(const Partial &partial);
    // A new datagram, after dropping the oldest to stay within the counts.
    Order::iterator Start(const Key &key, const codec::DatagramPacket &packet, Clock::time_point now);
    void Remove(Order::iterator it);
    void Drop(Order::iterator it);
    // Drops the oldest other datagrams until `incoming` more bytes fit;
    // false (and `keep` dropped too) when even that is not enough.
    bool MakeRoom(std::size_t incoming, Order::iterator keep);

    Bounds bounds_;
    Order order_;  // oldest first
    std::map<Key, Order::iterator> index_;
    // Each address's datagrams, oldest first; never more than max_per_source.
    std::map<std::uint32_t, std::vector<Order::iterator>> by_source_;
    std::size_t held_bytes_ = 0;
    std::uint32_t dropped_ = 0;
};

}  // namespace nbt
