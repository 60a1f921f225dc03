// SPDX-License-Identifier: MIT
// Datagram-service packets against nmbd's captured announcement and
// malformed input, and the reassembly of fragments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datagram_packet.h"
#include "datagram_reassembly.h"

namespace nbt {
namespace {

using codec::DatagramFault;
using codec::DatagramType;

std::vector<std::uint8_t> Hex(const std::string &text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

// nmbd's HOST ANNOUNCEMENT, SAMBA1<00> to LAB<1d> (captures, vector 12).
const char *kHostAnnouncement =
    "110a03cac612a00b008a00c800002046444542454e45434542444243414341434143414341434143414341434141410020454d45"
    "424543434143414341434143414341434143414341434143414341424e00ff534d42250000000000000000000000000000000000"
    "000000000000000000001100002e000000000000000000000000000000000000002e00560003000100010002003f005c4d41494c"
    "534c4f545c42524f57534500010060ea000053414d424131000000000000000000000601039a81000f0155aa6e65746c61622053"
    "414d42413100";

codec::NetbiosName Name(const std::string &text, std::uint8_t suffix, std::string scope = {}) {
    std::array<std::uint8_t, 16> raw;
    raw.fill(' ');
    std::copy(text.begin(), text.end(), raw.begin());
    raw[15] = suffix;
    return codec::MakeName(raw, std::move(scope));
}

TEST(DatagramCodec, DecodesTheCapturedAnnouncementAndBuildsItAgain) {
    const auto bytes = Hex(kHostAnnouncement);
    ASSERT_EQ(bytes.size(), 214u);
    const auto decoded = codec::DecodeDatagram(bytes);
    ASSERT_EQ(decoded.fault, DatagramFault::kOk);
    const auto &p = decoded.packet;
    EXPECT_EQ(p.header.type, DatagramType::kDirectGroup);
    EXPECT_EQ(p.header.flags, 0x0a);
    EXPECT_EQ(p.header.id, 0x03ca);
    EXPECT_EQ(p.header.source_ip, 0xc612a00bu);
    EXPECT_EQ(p.header.source_port, 138);
    EXPECT_EQ(p.source, Name("SAMBA1", 0x00));
    EXPECT_EQ(p.destination, Name("LAB", 0x1d));
    ASSERT_EQ(p.data.size(), 132u);
    EXPECT_EQ(p.data[0], 0xff);  // the SMB header
    EXPECT_EQ(codec::BuildDatagram(p.header, p.offset, p.source, p.destination, p.data), bytes);
}

TEST(DatagramCodec, ScopedNamesAndTheErrorPacketRoundTrip) {
    codec::DatagramHeader header{DatagramType::kDirectUnique, codec::kDatagramFirst | codec::kDatagramMore, 7,
                                 0x7f000001, 10138};
    const std::vector<std::uint8_t> data{1, 2, 3};
    const auto bytes = codec::BuildDatagram(header, 40, Name("A", 0), Name("B", 0x20, "corp.example"), data);
    const auto decoded = codec::DecodeDatagram(bytes);
    ASSERT_EQ(decoded.fault, DatagramFault::kOk);
    EXPECT_TRUE(decoded.packet.header.more());
    EXPECT_EQ(decoded.packet.offset, 40);
    EXPECT_EQ(decoded.packet.destination.scope, "corp.example");
    EXPECT_EQ(std::vector<std::uint8_t>(decoded.packet.data.begin(), decoded.packet.data.end()), data);

    const auto error = codec::BuildDatagramError(header, codec::DatagramError::kNameNotPresent);
    ASSERT_EQ(error.size(), codec::kDatagramHeaderSize + 1);
    const auto back = codec::DecodeDatagram(error);
    EXPECT_EQ(back.fault, DatagramFault::kOk);
    EXPECT_EQ(back.packet.header.type, DatagramType::kError);
    EXPECT_EQ(back.packet.error, codec::DatagramError::kNameNotPresent);
}

TEST(DatagramCodec, MalformedPacketsByClass) {
    const auto good = Hex(kHostAnnouncement);
    auto with = [&](std::size_t at, std::uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return codec::DecodeDatagram(bytes).fault;
    };
    EXPECT_EQ(codec::DecodeDatagram(std::span(good).first(9)).fault, DatagramFault::kTruncated);
    EXPECT_EQ(codec::DecodeDatagram(std::span(good).first(100)).fault,
              DatagramFault::kTruncated);                           // DGM_LENGTH past the end
    EXPECT_EQ(with(11, 0x10), DatagramFault::kBadLength);           // DGM_LENGTH shorter than two names
    EXPECT_EQ(with(14, 0x21), DatagramFault::kBadSourceName);       // label length
    EXPECT_EQ(with(20, 'Z'), DatagramFault::kBadSourceName);        // letter outside A-P
    EXPECT_EQ(with(48, 0xC0), DatagramFault::kBadDestinationName);  // no pointers in datagrams
    EXPECT_EQ(with(0, 0x14), DatagramFault::kNotForUs);             // query of a distribution server
    EXPECT_EQ(with(0, 0x17), DatagramFault::kUnknownType);
    EXPECT_EQ(codec::DecodeDatagram(Hex("130203ca7f00000127ba")).fault,
              DatagramFault::kTruncated);  // error without its code
    // Padding after DGM_LENGTH is left alone.
    auto padded = good;
    padded.insert(padded.end(), 8, 0);
    EXPECT_EQ(codec::DecodeDatagram(padded).packet.data.size(), 132u);
}

// ---- reassembly ---------------------------------------------------------------

// The UDP address the pieces below come from.
constexpr DatagramSender kPeer{0x7f0000c8, 138};

struct Fragments {
    std::vector<std::uint8_t> whole;
    std::vector<std::vector<std::uint8_t>> packets;
    // `whole` cut at the given offsets; each piece packet with its flags.
    Fragments(std::size_t size, std::vector<std::size_t> cuts, std::uint16_t id = 1) : whole(size) {
        for (std::size_t i = 0; i < size; ++i) whole[i] = static_cast<std::uint8_t>(i * 7);
        cuts.push_back(size);
        std::size_t start = 0;
        for (std::size_t cut : cuts) {
            codec::DatagramHeader header{DatagramType::kDirectUnique, 0, id, 0x7f0000c8, 5000};
            header.flags = static_cast<std::uint8_t>((start == 0 ? codec::kDatagramFirst : 0) |
                                                     (cut < size ? codec::kDatagramMore : 0));
            packets.push_back(codec::BuildDatagram(header, static_cast<std::uint16_t>(start), Name("FROM", 0),
                                                   Name("TO", 0),
                                                   std::span(whole).subspan(start, cut - start)));
            start = cut;
        }
    }
    codec::DatagramPacket Packet(std::size_t i) const { return codec::DecodeDatagram(packets[i]).packet; }
};

TEST(DatagramReassembly, OutOfOrderAndOverlappingPiecesMakeOneDatagram) {
    const auto t0 = DatagramReassembly::Clock::now();
    DatagramReassembly reassembly;
    const Fragments three(512, {200, 400});
    EXPECT_FALSE(reassembly.Add(three.Packet(2), kPeer, t0));
    EXPECT_FALSE(reassembly.Add(three.Packet(0), kPeer, t0));
    const auto whole = reassembly.Add(three.Packet(1), kPeer, t0);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->data, three.whole);
    EXPECT_EQ(whole->source, Name("FROM", 0));
    EXPECT_EQ(reassembly.held_bytes(), 0u);

    // Overlaps: the same bytes cut two ways, pieces of both cuts mixed.
    const Fragments a(300, {100, 250}, 2), b(300, {150}, 2);
    EXPECT_FALSE(reassembly.Add(a.Packet(0), kPeer, t0));
    EXPECT_FALSE(reassembly.Add(b.Packet(1), kPeer, t0));            // 150..300, M clear
    const auto overlapped = reassembly.Add(a.Packet(1), kPeer, t0);  // 100..250 closes the gap
    ASSERT_TRUE(overlapped);
    EXPECT_EQ(overlapped->data, a.whole);
    EXPECT_EQ(reassembly.partial_count(), 0u);
}

TEST(DatagramReassembly, LostPiecesAreFreedByTheTimerAndMemoryIsBounded) {
    const auto t0 = DatagramReassembly::Clock::now();
    DatagramReassembly reassembly;
    const Fragments lost(512, {256});
    EXPECT_FALSE(reassembly.Add(lost.Packet(0), kPeer, t0));
    EXPECT_EQ(reassembly.Expire(t0 + std::chrono::milliseconds(1999)), t0 + std::chrono::milliseconds(2000));
    EXPECT_FALSE(reassembly.Expire(t0 + std::chrono::milliseconds(2000)));
    EXPECT_EQ(reassembly.partial_count(), 0u);
    EXPECT_EQ(reassembly.held_bytes(), 0u);
    EXPECT_FALSE(reassembly.Add(lost.Packet(1), kPeer, t0));  // the rest, too late: held, never whole alone

    // A flood of first pieces from many senders never holds more than the bound.
    DatagramReassembly bounded(ReassemblyBounds{std::chrono::milliseconds(2000), 4096, 64});
    for (std::uint16_t id = 0; id < 100; ++id) {
        const Fragments f(1000, {500}, id);
        bounded.Add(f.Packet(0), kPeer, t0 + std::chrono::milliseconds(id));
        ASSERT_LE(bounded.held_bytes(), 4096u);
    }
    // The newest survive.
    const Fragments last(1000, {500}, 99);
    EXPECT_TRUE(bounded.Add(last.Packet(1), kPeer, t0));

    // A piece past the end the last piece set spoils the datagram.
    const auto dropped = reassembly.dropped();
    const Fragments bad(100, {50}, 7), longer(200, {150}, 7);
    EXPECT_FALSE(reassembly.Add(bad.Packet(1), kPeer, t0));     // total 100
    EXPECT_FALSE(reassembly.Add(longer.Packet(0), kPeer, t0));  // 0..150 > 100
    EXPECT_EQ(reassembly.dropped(), dropped + 1);
}

TEST(DatagramReassembly, EmptyFirstPiecesCostTheirBookkeepingAndEachHostHasAShare) {
    const auto t0 = DatagramReassembly::Clock::now();
    const ReassemblyBounds bounds;
    DatagramReassembly reassembly(bounds);
    // Pieces with no bytes, each the start of a datagram that never ends;
    // the headers claim to be from the peer below, ids and all.
    auto empty_first = [&](std::uint32_t i, std::uint32_t from) {
        const codec::DatagramHeader header{DatagramType::kDirectUnique,
                                           codec::kDatagramFirst | codec::kDatagramMore,
                                           static_cast<std::uint16_t>(i), 0x7f0000c8 + (i >> 16), 5000};
        const auto bytes = codec::BuildDatagram(header, 0, Name("FROM", 0), Name("TO", 0), {});
        EXPECT_FALSE(reassembly.Add(codec::DecodeDatagram(bytes).packet, {from, 138}, t0));
    };
    for (std::uint32_t i = 0; i < 60000; ++i) empty_first(i, 0x7f0000d2);
    EXPECT_LE(reassembly.partial_count(), bounds.max_per_source);
    EXPECT_GE(reassembly.held_bytes(), reassembly.partial_count() * kPartialCost) << "empty is not free";

    // The peer's own datagram, with ids the flood claimed, still comes
    // together; so does the flooding host's, its oldest making room.
    const Fragments peers(512, {300}, 5), floods(512, {300}, 6);
    EXPECT_FALSE(reassembly.Add(peers.Packet(0), kPeer, t0));
    EXPECT_FALSE(reassembly.Add(floods.Packet(0), {0x7f0000d2, 138}, t0));
    const auto peer_whole = reassembly.Add(peers.Packet(1), kPeer, t0);
    const auto flood_whole = reassembly.Add(floods.Packet(1), {0x7f0000d2, 138}, t0);
    ASSERT_TRUE(peer_whole && flood_whole);
    EXPECT_EQ(peer_whole->data, peers.whole);
    EXPECT_EQ(flood_whole->data, floods.whole);

    // Many hosts together stay within the whole bound.
    for (std::uint32_t host = 0; host < 4 * bounds.max_partials; ++host) empty_first(host, 0x7f010000 + host);
    EXPECT_LE(reassembly.partial_count(), bounds.max_partials);
    EXPECT_LE(reassembly.held_bytes(), bounds.max_bytes);
}

}  // namespace
}  // namespace nbt
