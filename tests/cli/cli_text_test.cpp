// SPDX-License-Identifier: MIT
// What korvel-nb reads from its command line and writes back: names must
// survive being printed and typed again, ranges and adapter addresses parse
// as documented, and JSON stays valid whatever bytes a peer sent.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "address_range.h"
#include "json.h"
#include "message_report.h"
#include "names.h"
#include "text_format.h"

namespace {

using namespace cli;

NameField Parse(const std::string &text) {
    std::string error;
    auto name = ParseName(text, &error);
    EXPECT_TRUE(name) << text << ": " << error;
    return name.value_or(NameField{});
}

TEST(CliNames, SuffixFormsPaddingAndEscapes) {
    const NameField plain = Parse("samba1");
    EXPECT_EQ(std::string(plain.begin(), plain.end()), "SAMBA1          ");
    EXPECT_EQ(Parse("SAMBA1#00"), Parse("SAMBA1<00>"));
    EXPECT_EQ(Parse("SAMBA1#00")[15], 0x00);
    EXPECT_EQ(Parse("\\x61b")[0], 'a');  // escaped bytes are not upper-cased
    EXPECT_EQ(Parse("*"), (NameField{'*'}));

    std::string error;
    EXPECT_FALSE(ParseName("SIXTEEN-LETTERS!", &error));
    EXPECT_FALSE(ParseName("NAME#2", &error));
    EXPECT_FALSE(ParseName("", &error));
}

TEST(CliNames, WhatIsPrintedParsesBackToTheSameBytes) {
    const NameField browse = {1, 2, '_', '_', 'M', 'S', 'B', 'R', 'O', 'W', 'S', 'E', '_', '_', 2, 1};
    const NameField lower = {'a', 'b', ' ', '#', '\\', 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x20};
    for (const NameField &name : {browse, lower, Parse("SAMBA1#1D"), Parse("*")})
        EXPECT_EQ(Parse(FormatName(name)), name) << FormatName(name);
    EXPECT_EQ(FormatName(browse), "\\x01\\x02__MSBROWSE__\\x02<01>");
    EXPECT_EQ(FormatName(Parse("SAMBA1")), "SAMBA1<20>");
}

TEST(CliNames, AddressesAndAdapterAddresses) {
    EXPECT_FALSE(ParseIpv4("10.0.0.256"));
    EXPECT_FALSE(ParseIpv4("10.0.0"));

    for (const char *text : {"02:4e:42:00:00:01", "02-4E-42-00-00-01", "024e42000001", "024e.4200.0001"}) {
        auto address = ParseAdapterAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(FormatAdapterAddress(address->data()), "02:4E:42:00:00:01");
    }
    EXPECT_FALSE(ParseAdapterAddress("024e4200000"));
    EXPECT_FALSE(ParseAdapterAddress("SAMBA1"));
}

// What scan visits: a CIDR block, A.B.C.D-E, A.B.C.D-W.X.Y.Z or one
// address; every malformed form refused with a reason that says what is wrong.
TEST(CliRanges, FormsAndMalformedOnes) {
    struct Case {
        const char *text;
        const char *expected;  // "first-last", or a piece of the error
    };
    const Case cases[] = {
        {"198.18.137.77/24", "198.18.137.1-198.18.137.254"},
        {"10.0.0.0/31", "10.0.0.0-10.0.0.1"},
        {"10.0.0.1", "10.0.0.1-10.0.0.1"},
        {"198.18.0.1-137", "198.18.0.1-198.18.0.137"},
        {"198.18.0.7-7", "198.18.0.7-198.18.0.7"},
        {"198.18.0.250-198.18.1.5", "198.18.0.250-198.18.1.5"},
        {"10.0.0.0-10.0.255.255", "10.0.0.0-10.0.255.255"},
        {"10.0.0.0/33", "is not a prefix length, 0 to 32"},
        {"198.18.0.10-5", "'198.18.0.10-5' ends (198.18.0.5) before it starts"},
        {"198.18.0.5-198.18.0.4", "ends (198.18.0.4) before it starts"},
        {"198.18.0.1-256", "the last byte 256 is over 255"},
        {"198.18.0.1-0255", "neither a last byte"},
        {"198.18.0.1-", "'' after '-' is neither a last byte"},
        {"198.18.0.1-198.18.0", "'198.18.0' after '-' is not an IPv4 address"},
        {"-5", "'' before '-' is not an IPv4 address"},
        {"198.18.0.1-2-3", "more than one '-'"},
        {"198.18.0.0/24-5", "mixes a CIDR block and a range"},
        {"198.18.0.1-5/24", "mixes a CIDR block and a range"},
        {"10.0.0.0-10.1.0.0", "has 65537 addresses; at most 65536 at once"},
        {"10.0.0.0/15", "has 131070 addresses"},
        {"SAMBA1", "is not an address range such as 198.18.137.0/24, 198.18.137.1-137"},
    };
    for (const Case &c : cases) {
        std::string error;
        const auto range = ParseAddressRange(c.text, 65536, &error);
        const std::string got = range ? FormatIpv4(range->first) + "-" + FormatIpv4(range->last) : error;
        EXPECT_NE(got.find(c.expected), std::string::npos) << c.text << " gave: " << got;
        EXPECT_EQ(!range, error.size() > 0) << c.text;
    }
}

TEST(CliJson, ControlBytesAndBrokenUtf8AreEscaped) {
    EXPECT_EQ(JsonQuote(std::string("a\"\\\n\x01", 5)), "\"a\\\"\\\\\\n\\u0001\"");
    EXPECT_EQ(JsonQuote("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(JsonQuote("\xC3(\xFF"), "\"\\u00c3(\\u00ff\"");

    Json doc = Json::Object();
    doc.Set("n", 3);
    doc["list"] = Json::Array();
    doc["list"].Push("x");
    doc.Set("n", 4);  // replaced, not repeated
    EXPECT_EQ(doc.Dump(), "{\n  \"n\": 4,\n  \"list\": [\n    \"x\"\n  ]\n}\n");
}

// glibc's converter, which refuses overlong forms, surrogates and code
// points above U+10FFFF: a judge independent of ours.
bool IsUtf8(const std::string &text) {
    iconv_t to_utf32 = iconv_open("UTF-32", "UTF-8");
    std::string in = text;
    std::string out(4 * text.size() + 8, '\0');
    char *from = in.data(), *to = out.data();
    std::size_t left = in.size(), room = out.size();
    const bool valid = iconv(to_utf32, &from, &left, &to, &room) != static_cast<std::size_t>(-1);
    iconv_close(to_utf32);
    return valid;
}

std::string Show(const std::string &bytes, bool raw = false) {
    return ShowData(reinterpret_cast<const UCHAR *>(bytes.data()), bytes.size(), raw);
}

TEST(CliPeerText, WhatMovesTheCursorOrReordersTheLineIsEscaped) {
    const struct {
        const char *what;
        std::string bytes, shown;
    } cases[] = {
        {"bare CR", "line one\rSPOOFED", "line one\\x0DSPOOFED\n"},
        {"C1 as UTF-8 (CSI, NEL)",
         "a\xC2\x9B"
         "31mb\xC2\x85",
         "a\\xC2\\x9B31mb\\xC2\\x85\n"},
        {"C1 as raw bytes in 8-bit text",
         "caf\xE9 \x9B"
         "31m",
         "caf\\xE9 \\x9B31m\n"},
        {"RLO, isolate, RLM",
         "x\xE2\x80\xAE"
         "exe.txt\xE2\x81\xA6\xE2\x80\x8F",
         "x\\xE2\\x80\\xAEexe.txt\\xE2\\x81\\xA6\\xE2\\x80\\x8F\n"},
        {"overlong and surrogate", "\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80\n"},
        {"backslash, so escapes are not forged", "\\x1B", "\\\\x1B\n"},
        {"tab, newline and UTF-8 text kept", "caf\xC3\xA9\t\xE2\x82\xAC 5\n",
         "caf\xC3\xA9\t\xE2\x82\xAC 5\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(Show(c.bytes), c.shown) << c.what;
    EXPECT_EQ(Show("line one\rSPOOFED", true), "line one\rSPOOFED\n");  // --raw
    EXPECT_EQ(Show(std::string("\x1B[0m\0", 5), true), std::string("\x1B[0m\0\n", 6));
    EXPECT_EQ(Show(std::string("\0\x01", 2)).substr(0, 12), "0000  00 01 ");  // binary: a hex dump
}

TEST(CliPeerText, JsonIsValidUtf8AndCarriesTheExactBytes) {
    // Overlong, surrogate, above U+10FFFF, truncated; then a C1 and an RLO,
    // which are valid UTF-8 but escaped so the document is safe to print.
    const std::string bytes = "a\xC0\xAF\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82";
    Received message;
    message.rc = NRC_GOODRET;
    message.data.assign(bytes.begin(), bytes.end());
    message.pieces = {{NRC_GOODRET, static_cast<WORD>(bytes.size())}};
    EXPECT_TRUE(IsUtf8(JsonQuote(bytes))) << JsonQuote(bytes);
    const std::string dump = MessageJson(message).Dump();
    EXPECT_TRUE(IsUtf8(dump)) << dump;
    EXPECT_NE(dump.find("\"text\": \"a\\u00c0\\u00af\\u00e0"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\"base64\": \"YcCv4ICv7aCA9JCAgOKC\""), std::string::npos) << dump;

    EXPECT_EQ(JsonQuote("\xC2\x9B\xE2\x80\xAE\xC3\xA9"), "\"\\u009b\\u202e\xC3\xA9\"");
    message.data.assign({'o', 'k', 0xC3, 0xA9});
    EXPECT_EQ(MessageJson(message).Dump().find("base64"), std::string::npos);  // text is exact
}

}  // namespace
