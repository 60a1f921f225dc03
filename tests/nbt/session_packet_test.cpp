// SPDX-License-Identifier: MIT
// Session service packets against golden bytes and malformed input.
#include "session_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nbt::codec::DecodeSessionHeader;
using nbt::codec::DecodeSessionRequest;
using nbt::codec::HeaderError;
using nbt::codec::SessionName;
using nbt::codec::SessionType;

std::vector<std::uint8_t> Hex(const std::string &text) {
    std::vector<std::uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits.push_back(c);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

SessionName Name(const std::string &text, std::uint8_t suffix) {
    SessionName name;
    name.fill(' ');
    std::copy(text.begin(), text.end(), name.begin());
    name[15] = suffix;
    return name;
}

// smbclient's requests as captured: SAMBA1<20> from KCLIENT<00>, and
// KORVELPEER<20> from KORVELCLI<00>.
const char *kCapturedRequest =
    "81 00 0044 20 46444542454E4543454244424341434143414341434143414341434143414341 00 "
    "20 454C4544454D454A4546454F4645434143414341434143414341434143414141 00";
const char *kCapturedRequest2 =
    "8100004420454c4550464346474546454d46414546454646434341434143414341434143410020454c4550464346474546454d45"
    "4"
    "4454d454a434143414341434143414341414100";

TEST(SessionHeader, LengthsAroundTheExtensionBit) {
    struct Case {
        std::uint32_t length;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0}}, {65535, {0, 0, 0xFF, 0xFF}}, {65536, {0, 1, 0, 0}}, {131071, {0, 1, 0xFF, 0xFF}}};
    for (const Case &c : cases) {
        const auto encoded = nbt::codec::EncodeSessionHeader(SessionType::kMessage, c.length);
        ASSERT_TRUE(encoded);
        EXPECT_EQ(std::vector<std::uint8_t>(encoded->begin(), encoded->end()), c.bytes) << c.length;
        const auto decoded = DecodeSessionHeader(c.bytes);
        EXPECT_EQ(decoded.error, HeaderError::kOk);
        EXPECT_EQ(decoded.header.length, c.length);
    }
    EXPECT_FALSE(nbt::codec::EncodeSessionHeader(SessionType::kMessage, 131072));
}

TEST(SessionHeader, RefusesWhatNoPeerMaySend) {
    const std::vector<std::vector<std::uint8_t>> bad = {
        {0x00, 0x02, 0x00, 0x00},  // reserved flag bit
        {0x00, 0x80, 0x00, 0x00},  // reserved flag bit
        {0x86, 0x00, 0x00, 0x00},  // unknown type
        {0xFF, 0x00, 0x00, 0x00},  // unknown type
        {0x82, 0x00, 0x00, 0x01},  // positive response with a body
        {0x83, 0x00, 0x00, 0x00},  // negative response without its code
        {0x83, 0x00, 0x00, 0x02},  // negative response too long
        {0x84, 0x00, 0x00, 0x05},  // retarget short
        {0x85, 0x00, 0x00, 0x04},  // keep-alive with a body
        {0x81, 0x00, 0x00, 0x10},  // request too short for two names
        {0x81, 0x01, 0x00, 0x00},  // request far longer than two names can be
    };
    for (const auto &bytes : bad) EXPECT_NE(DecodeSessionHeader(bytes).error, HeaderError::kOk);
    const std::vector<std::uint8_t> three = {0x00, 0x00, 0x00};
    EXPECT_EQ(DecodeSessionHeader(three).error, HeaderError::kShort);
}

TEST(SessionRequest, MatchesTheCapturedRequestBothWays) {
    const auto golden = Hex(kCapturedRequest);
    const auto encoded = nbt::codec::EncodeSessionRequest(Name("SAMBA1", 0x20), Name("KCLIENT", 0x00));
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, golden);
    ASSERT_EQ(encoded->size(), 72u);

    const auto header = DecodeSessionHeader(golden);
    ASSERT_EQ(header.error, HeaderError::kOk);
    EXPECT_EQ(header.header.type, SessionType::kRequest);
    EXPECT_EQ(header.header.length, 68u);
    const auto request = DecodeSessionRequest(std::span(golden).subspan(4));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->called, Name("SAMBA1", 0x20));
    EXPECT_EQ(request->calling, Name("KCLIENT", 0x00));
    EXPECT_TRUE(request->called_scope.empty());

    const auto encoded2 = nbt::codec::EncodeSessionRequest(Name("KORVELPEER", 0x20), Name("KORVELCLI", 0x00));
    ASSERT_TRUE(encoded2);
    EXPECT_EQ(*encoded2, Hex(kCapturedRequest2));
}

TEST(SessionRequest, RawBytesAndScopeRoundTrip) {
    SessionName odd{};
    odd[0] = '*';  // wildcard plus NULs, and every nibble value somewhere
    for (std::size_t i = 1; i < odd.size(); ++i) odd[i] = static_cast<std::uint8_t>(i * 17);
    const auto encoded = nbt::codec::EncodeSessionRequest(odd, Name("lower", 0x03), "lab.example");
    ASSERT_TRUE(encoded);
    const auto header = DecodeSessionHeader(*encoded);
    ASSERT_EQ(header.error, HeaderError::kOk);
    ASSERT_EQ(header.header.length, encoded->size() - 4);
    const auto request = DecodeSessionRequest(std::span(*encoded).subspan(4));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->called, odd);
    EXPECT_EQ(request->calling, Name("lower", 0x03));
    EXPECT_EQ(request->called_scope, "lab.example");

    EXPECT_FALSE(nbt::codec::EncodeSessionRequest(odd, odd, "a..b"));
    EXPECT_FALSE(nbt::codec::EncodeSessionRequest(odd, odd, "trailing."));
    EXPECT_FALSE(nbt::codec::EncodeSessionRequest(odd, odd, std::string(64, 'x')));
}

TEST(SessionRequest, RefusesMalformedBodies) {
    const auto golden = Hex(kCapturedRequest);
    const std::span<const std::uint8_t> body = std::span(golden).subspan(4);
    auto mutate = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> copy(body.begin(), body.end());
        copy[at] = value;
        return copy;
    };
    EXPECT_FALSE(DecodeSessionRequest(mutate(0, 0x1F)));   // wrong name length
    EXPECT_FALSE(DecodeSessionRequest(mutate(5, 'Q')));    // not a half-byte letter
    EXPECT_FALSE(DecodeSessionRequest(mutate(33, 0xC0)));  // compression pointer
    EXPECT_FALSE(DecodeSessionRequest(mutate(33, 0x05)));  // label running off the end
    for (std::size_t cut = 0; cut < body.size(); ++cut)
        EXPECT_FALSE(DecodeSessionRequest(body.first(cut))) << cut;
    std::vector<std::uint8_t> longer(body.begin(), body.end());
    longer.push_back(0);
    EXPECT_FALSE(DecodeSessionRequest(longer));
}

TEST(SessionControl, NegativeAndRetargetResponses) {
    const auto negative = nbt::codec::EncodeNegativeResponse(nbt::codec::SessionRefusal::kCalledNotPresent);
    EXPECT_EQ(std::vector<std::uint8_t>(negative.begin(), negative.end()), Hex("83 00 0001 82"));
    EXPECT_EQ(DecodeSessionHeader(negative).error, HeaderError::kOk);
    EXPECT_EQ(nbt::codec::DecodeNegativeResponse(std::span(negative).subspan(4)), 0x82);
    EXPECT_FALSE(nbt::codec::DecodeNegativeResponse({}));

    const auto retarget = nbt::codec::EncodeRetarget({0xC6128A0B, 139});
    EXPECT_EQ(std::vector<std::uint8_t>(retarget.begin(), retarget.end()), Hex("84 00 0006 C6128A0B 008B"));
    const auto decoded = nbt::codec::DecodeRetarget(std::span(retarget).subspan(4));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->address, 0xC6128A0Bu);
    EXPECT_EQ(decoded->port, 139);
    EXPECT_FALSE(nbt::codec::DecodeRetarget(std::span(retarget).subspan(5)));

    const auto positive = nbt::codec::EncodePositiveResponse();
    EXPECT_EQ(std::vector<std::uint8_t>(positive.begin(), positive.end()), Hex("82000000"));
}

}  // namespace
