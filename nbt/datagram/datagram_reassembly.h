// Putting fragmented datagrams back together (RFC 1002 4.4.1): pieces are
// keyed by the sender's SOURCE_IP, SOURCE_PORT and DGM_ID, placed by
// PACKET_OFFSET, and the datagram is whole once the first piece (F), the
// last (M clear) and everything between have come, in any order and with
// overlaps. A datagram not whole within the fragment timeout is dropped, and
// the bytes held for all unfinished datagrams together are bounded: the
// oldest go first. Pure bookkeeping, no sockets or timers: the caller passes
// the time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

struct ReassemblyBounds {
    std::chrono::milliseconds timeout{codec::kFragmentTimeoutMs};
    std::size_t max_bytes = 64 * 1024;  // held for all unfinished datagrams
    std::size_t max_pieces = 64;        // per datagram
};

class DatagramReassembly {
public:
    using Clock = std::chrono::steady_clock;
    using Bounds = ReassemblyBounds;

    explicit DatagramReassembly(Bounds bounds = {}) : bounds_(bounds) {}

    // A decoded data packet. Returns the whole datagram when this piece
    // completes one (at once for an unfragmented packet).
    std::optional<WholeDatagram> Add(const codec::DatagramPacket &packet, Clock::time_point now);
    // Drops what has waited past the timeout; the time the next one would
    // run out, if any is left.
    std::optional<Clock::time_point> Expire(Clock::time_point now);

    std::size_t partial_count() const { return partials_.size(); }
    std::size_t held_bytes() const { return held_bytes_; }
    std::uint32_t dropped() const { return dropped_; }

private:
    using Key = std::tuple<std::uint32_t, std::uint16_t, std::uint16_t>;
    struct Partial {
        Clock::time_point started;
        WholeDatagram datagram;  // names and type from the first piece that came
        std::map<std::uint16_t, std::vector<std::uint8_t>> pieces;  // by offset
        bool have_first = false;
        std::optional<std::size_t> total;  // known once the last piece came
        std::size_t bytes = 0;
    };

    static std::optional<std::vector<std::uint8_t>> Assemble(const Partial &partial);
    void Drop(std::map<Key, Partial>::iterator it);
    // Drops the oldest other datagrams until `incoming` more bytes fit;
    // false (and `keep` dropped too) when even that is not enough.
    bool MakeRoom(std::size_t incoming, const Key &keep);

    Bounds bounds_;
    std::map<Key, Partial> partials_;
    std::size_t held_bytes_ = 0;
    std::uint32_t dropped_ = 0;
};

}  // namespace nbt
