// SPDX-License-Identifier: MIT
// Name-service codec against bytes captured from real peers, and against the
// classes of malformed input that NetBIOS parsers have historically got wrong.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "byte_writer.h"
#include "name_encoding.h"
#include "name_packet.h"
#include "name_status.h"

using namespace nbt::codec;

namespace {

std::vector<std::uint8_t> Hex(const std::string &text) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

NetbiosName Padded(const std::string &text, std::uint8_t suffix) {
    NetbiosName name;
    name.raw.fill(' ');
    std::memcpy(name.raw.data(), text.data(), text.size());
    name.raw[15] = suffix;
    return name;
}

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
    return static_cast<std::uint32_t>(a << 24 | b << 16 | c << 8 | d);
}

const char *kRegistrationUnique =
    "50132910000100000000000120454c4550464346474546454d46414546454646434341434143414341434141410000200001c00c"
    "0020000100000000000600000ad5000b";
const char *kRegistrationGroup =
    "50142910000100000000000120454d4542454343414341434143414341434143414341434143414341434141410000200001c00c"
    "0020000100000000000680000ad5000b";
const char *kBrowseRegistration =
    "501d29100001000000000001204142414346504650454e464445434643455046484644454646504650414341420000200001c00c"
    "0020000100000000000680000ad5000b";
const char *kDefence =
    "3333ad86000000010000000020454c4550464346474546454d464145464546464343414341434143414341414100002000010000"
    "0000000600000ad5000c";
const char *kNameError =
    "44448583000000010000000020454f45504644464645444549454f4542454e454643414341434143414341414100000a00010000"
    "00000000";
const char *kQueryBroadcast =
    "794a0110000100000000000020454c4550464346474546454d4641454645464643434143414341434143414141000020000"
    "1";
const char *kStatusRequest =
    "03ae0000000100000000000020434b4141414141414141414141414141414141414141414141414141414141410000210001";
const char *kStatusResponse =
    "03ae8400000000010000000020434b41414141414141414141414141414141414141414141414141414141414100002100010000"
    "00000089054b4f5256454c5045455220202020200004004b4f5256454c5045455220202020200304004b4f5256454c5045455220"
    "202020202004004c41422020202020202020202020200084004c41422020202020202020202020201e8400000000000000000000"
    "00000000000000000000000000000000000000000000000000000000000000000000000000";

}  // namespace

TEST(NameEncoding, EncodesRawBytesWithoutFolding) {
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(AppendEncodedName(out, Padded("KORVELPEER", 0x00)));
    auto golden = Hex(kRegistrationUnique);
    EXPECT_EQ(out, std::vector<std::uint8_t>(golden.begin() + 12, golden.begin() + 46));

    // '*' + 15 NULs is CKAAAA...; lower case stays lower case.
    NetbiosName star{};
    star.raw[0] = '*';
    out.clear();
    AppendEncodedName(out, star);
    EXPECT_EQ(std::string(out.begin() + 1, out.begin() + 5), "CKAA");
    out.clear();
    AppendEncodedName(out, Padded("abc", 0x20));
    EXPECT_EQ(std::string(out.begin() + 1, out.begin() + 3), "GB");
}

TEST(NameEncoding, ScopeRoundTripsAndBadScopesAreRefused) {
    NetbiosName name = Padded("HOST", 0x20);
    name.scope = "corp.example";
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(AppendEncodedName(out, name));
    EXPECT_EQ(out.size(), EncodedNameSize(name));
    std::size_t pos = 0;
    auto back = DecodeName(out, pos);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, name);
    EXPECT_EQ(pos, out.size());

    for (std::string bad :
         std::vector<std::string>{"a..b", ".a", "a.", std::string(64, 'x'), std::string(230, 'x') + ".y"}) {
        name.scope = bad;
        out.clear();
        EXPECT_FALSE(AppendEncodedName(out, name)) << bad;
        EXPECT_TRUE(out.empty());
    }
}

TEST(NameEncoding, PointersOnlyBackwardsAndNeverLooping) {
    auto packet = Hex(kRegistrationUnique);
    std::size_t pos = 50;  // the C00C of the additional record
    auto name = DecodeName(packet, pos);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, Padded("KORVELPEER", 0x00));
    EXPECT_EQ(pos, 52u);

    // Self-pointer, forward pointer, two pointers at each other, pointer cut short.
    std::vector<std::uint8_t> self = {0, 0, 0xC0, 0x02};
    pos = 2;
    EXPECT_FALSE(DecodeName(self, pos));
    std::vector<std::uint8_t> forward = {0xC0, 0x02, 0x20};
    pos = 0;
    EXPECT_FALSE(DecodeName(forward, pos));
    std::vector<std::uint8_t> loop = {0xC0, 0x02, 0xC0, 0x00};
    pos = 2;
    EXPECT_FALSE(DecodeName(loop, pos));
    std::vector<std::uint8_t> cut = {0xC0};
    pos = 0;
    EXPECT_FALSE(DecodeName(cut, pos));

    // A scope label that points back into the middle of its own name must not loop.
    std::vector<std::uint8_t> inner;
    AppendEncodedName(inner, Padded("X", 0));
    inner.pop_back();
    inner.push_back(0xC0);
    inner.push_back(0x00);
    pos = 0;
    EXPECT_FALSE(DecodeName(inner, pos));
}

TEST(NameEncoding, BadLabelsAreRefused) {
    std::vector<std::uint8_t> good;
    AppendEncodedName(good, Padded("NAME", 0x20));
    auto with = [&](std::size_t index, std::uint8_t value) {
        auto copy = good;
        copy[index] = value;
        std::size_t pos = 0;
        return DecodeName(copy, pos).has_value();
    };
    EXPECT_FALSE(with(1, 'Q'));  // outside A..P
    EXPECT_FALSE(with(2, '@'));
    EXPECT_FALSE(with(5, 'a'));   // lower case is not in the alphabet
    EXPECT_FALSE(with(0, 0x1F));  // first label must be 32 bytes
    EXPECT_FALSE(with(0, 0x21));
    EXPECT_FALSE(with(0, 0x40));  // reserved label types
    EXPECT_FALSE(with(0, 0x80));
    EXPECT_FALSE(with(0, 0x00));   // empty name
    EXPECT_FALSE(with(33, 0x3F));  // scope label running off the end
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::size_t pos = 0;
        EXPECT_FALSE(DecodeName(std::span(good).first(n), pos)) << n;
    }
}

// A WINS client and server as captured in a routed lab: our requests to the
// server, and what the test's scripted server answers, byte for byte.
TEST(NamePacketBuild, NameServerExchangesMatchCaptures) {
    const NbAddress samba2{0x6000, Ip(198, 18, 162, 11)};
    EXPECT_EQ(
        BuildClaimRequest(0x053c, kServerRegistrationFlags, Padded("LAB", 0x00), {0xE000, samba2.ipv4},
                          259200),
        Hex("053c2900000100000000000120454d4542454343414341434143414341434143414341434143414341434141410000"
            "200001c00c002000010003f4800006e000c612a20b"));
    EXPECT_EQ(
        BuildRegistrationResponse(0x053b, Padded("SAMBA2", 0x00), samba2, 60, NameRcode::kOk),
        Hex("053bad8000000001000000002046444542454e45434542444343414341434143414341434143414341434141410000"
            "2000010000003c00066000c612a20b"));
    const auto wack =
        Hex("5101bc0000000001000000002046444542454e45434542444343414341434143414341434143414341434141"
            "4100000a00010000003c00022900");
    EXPECT_EQ(BuildWack(0x5101, Padded("SAMBA2", 0x00), kServerRegistrationFlags, 60), wack);
    auto packet = DecodeNamePacket(wack);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->header.Opcode(), NameOpcode::kWack);
    EXPECT_EQ(packet->answers[0].ttl, 60u);
    // Refresh and release differ from the registration only in the flags word.
    auto refresh = BuildClaimRequest(7, kRefreshRequestFlags, Padded("SAMBA2", 0x00), samba2, 259200);
    auto release = BuildClaimRequest(7, kServerReleaseFlags, Padded("SAMBA2", 0x00), samba2, 259200);
    auto registration =
        BuildClaimRequest(7, kServerRegistrationFlags, Padded("SAMBA2", 0x00), samba2, 259200);
    EXPECT_EQ(refresh[2] << 8 | refresh[3], 0x4000);
    EXPECT_EQ(release[2] << 8 | release[3], 0x3000);
    refresh[2] = release[2] = registration[2];
    EXPECT_EQ(refresh, registration);
    EXPECT_EQ(release, registration);
}

TEST(NamePacketBuild, MatchesCapturedRequestsApartFromTransactionId) {
    auto ip = Ip(10, 213, 0, 11);
    EXPECT_EQ(BuildRegistrationRequest(0x5013, Padded("KORVELPEER", 0x00), false, ip),
              Hex(kRegistrationUnique));
    EXPECT_EQ(BuildRegistrationRequest(0x5014, Padded("LAB", 0x00), true, ip), Hex(kRegistrationGroup));
    NetbiosName browse;
    std::memcpy(browse.raw.data(), "\x01\x02__MSBROWSE__\x02\x01", 16);
    EXPECT_EQ(BuildRegistrationRequest(0x501d, browse, true, ip), Hex(kBrowseRegistration));
    EXPECT_EQ(BuildQueryRequest(0x794a, Padded("KORVELPEER", 0x00), true), Hex(kQueryBroadcast));
    NetbiosName star{};
    star.raw[0] = '*';
    EXPECT_EQ(BuildNodeStatusRequest(0x03ae, star, false), Hex(kStatusRequest));
    EXPECT_EQ(BuildRegistrationRefusal(0x3333, Padded("KORVELPEER", 0x00), {0, Ip(10, 213, 0, 12)},
                                       NameRcode::kActive),
              Hex(kDefence));
    EXPECT_EQ(BuildNegativeQueryResponse(0x4444, 0, Padded("NOSUCHNAME", 0x00)), [] {
        auto golden = Hex(kNameError);
        golden[2] = 0x84;  // we answer AA only, no RD/RA for a query without RD
        golden[3] = 0x03;
        return golden;
    }());
    auto release = BuildReleaseRequest(7, Padded("X", 0), false, ip);
    ASSERT_EQ(release.size(), 68u);
    EXPECT_EQ(release[2], 0x30);
    EXPECT_EQ(release[3], 0x10);
}

TEST(NamePacketDecode, CapturedPackets) {
    auto defence = DecodeNamePacket(Hex(kDefence));
    ASSERT_TRUE(defence);
    EXPECT_TRUE(defence->header.IsResponse());
    EXPECT_EQ(defence->header.Opcode(), NameOpcode::kRegistration);
    EXPECT_EQ(defence->header.Rcode(), NameRcode::kActive);
    ASSERT_EQ(defence->answers.size(), 1u);
    auto nb = DecodeNbRdata(defence->answers[0].rdata);
    ASSERT_TRUE(nb);
    EXPECT_EQ((*nb)[0], (NbAddress{0, Ip(10, 213, 0, 12)}));

    auto registration = DecodeNamePacket(Hex(kRegistrationUnique));
    ASSERT_TRUE(registration);
    ASSERT_EQ(registration->additional.size(), 1u);
    EXPECT_EQ(registration->additional[0].name, registration->questions[0].name);
    EXPECT_TRUE(registration->header.IsBroadcast());

    auto status = DecodeNamePacket(Hex(kStatusResponse));
    ASSERT_TRUE(status);
    ASSERT_EQ(status->answers.size(), 1u);
    EXPECT_EQ(status->answers[0].type, kTypeNbstat);
    auto rdata = DecodeNodeStatusRdata(status->answers[0].rdata);
    ASSERT_TRUE(rdata);
    ASSERT_EQ(rdata->names.size(), 5u);
    EXPECT_EQ(std::memcmp(rdata->names[2].name.data(), "KORVELPEER     \x20", 16), 0);
    EXPECT_EQ(rdata->names[2].flags, 0x0400);
    EXPECT_EQ(rdata->names[4].flags, 0x8400);
    EXPECT_EQ(rdata->statistics, NodeStatistics{});
}

TEST(NamePacketDecode, TruncationAtEveryPrefixAndOversizedCounts) {
    for (const char *golden : {kRegistrationUnique, kDefence, kNameError, kStatusRequest, kStatusResponse}) {
        auto bytes = Hex(golden);
        ASSERT_TRUE(DecodeNamePacket(bytes)) << golden;
        for (std::size_t n = 0; n < bytes.size(); ++n)
            EXPECT_FALSE(DecodeNamePacket(std::span(bytes).first(n))) << golden << " cut at " << n;
        for (int field = 0; field < 4; ++field) {
            auto more = bytes;
            more[4 + 2 * field + 1] += 1;
            EXPECT_FALSE(DecodeNamePacket(more)) << golden << " count " << field;
            more[4 + 2 * field] = 0xFF;
            EXPECT_FALSE(DecodeNamePacket(more)) << golden << " count " << field;
        }
        // RDLENGTH beyond the data.
    }
    auto bytes = Hex(kDefence);
    bytes[55] = 7;
    EXPECT_FALSE(DecodeNamePacket(bytes));
    bytes[54] = 0xFF;
    EXPECT_FALSE(DecodeNamePacket(bytes));
}

TEST(NodeStatusRdata, CountsAndStatisticsAreCheckedNotTrusted) {
    NodeStatus status;
    status.names.push_back({{'A'}, 0x0400});
    status.statistics.unit_id = {2, 0, 0x7F, 0, 0, 9};
    status.statistics.version = 0x0300;
    status.statistics.good_sends = 0x01020304;
    status.statistics.session_packet_size = 65535;
    auto rdata = EncodeNodeStatusRdata(status);
    ASSERT_EQ(rdata.size(), 1 + 18 + 46u);
    auto back = DecodeNodeStatusRdata(rdata);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->names, status.names);
    EXPECT_EQ(back->statistics, status.statistics);
    // Big-endian on the wire.
    EXPECT_EQ(rdata[1 + 18 + 20], 0x01);
    EXPECT_EQ(rdata[1 + 18 + 23], 0x04);

    rdata[0] = 2;  // claims a name that is not all there
    EXPECT_FALSE(DecodeNodeStatusRdata(std::span(rdata).first(1 + 18 + 17)));
    rdata[0] = 200;
    EXPECT_FALSE(DecodeNodeStatusRdata(rdata));
    rdata[0] = 1;
    auto shortened = DecodeNodeStatusRdata(std::span(rdata).first(1 + 18 + 6));
    ASSERT_TRUE(shortened);
    EXPECT_EQ(shortened->statistics.unit_id, status.statistics.unit_id);
    EXPECT_EQ(shortened->statistics.good_sends, 0u);
    EXPECT_FALSE(DecodeNodeStatusRdata({}));
}

TEST(CodecByteReader, FailureSticksAndReadsNothingPastTheEnd) {
    const std::vector<std::uint8_t> bytes = {0x12, 0x34, 0x56};
    ByteReader in(bytes);
    EXPECT_EQ(in.U16(), 0x1234);
    EXPECT_EQ(in.U16(), 0);  // one byte left: fails without taking it
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.U8(), 0);  // the byte that is there stays out of reach
    EXPECT_TRUE(in.Bytes(1).empty());
    in.Seek(0);
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.remaining(), 0u);

    ByteReader past(bytes, 4);
    EXPECT_FALSE(past.ok());
    ByteReader huge(bytes);
    EXPECT_TRUE(huge.Bytes(SIZE_MAX).empty());  // a length from the wire cannot wrap the bounds check
    EXPECT_EQ(huge.U8(), 0);

    std::vector<std::uint8_t> out;
    ByteWriter writer(out);
    writer.U8(0x01);
    writer.U16(0x0203);
    writer.U32(0x04050607);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7}));
}
