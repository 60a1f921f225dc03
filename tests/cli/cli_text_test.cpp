// What korvel-nb reads from its command line and writes back: names must
// survive being printed and typed again, ranges and adapter addresses parse
// as documented, and JSON stays valid whatever bytes a peer sent.
#include <gtest/gtest.h>

#include <string>

#include "json.h"
#include "names.h"

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

TEST(CliNames, RangesAndAdapterAddresses) {
    auto lan = ParseCidr("198.18.137.77/24");
    ASSERT_TRUE(lan);
    EXPECT_EQ(FormatIpv4(lan->first), "198.18.137.1");
    EXPECT_EQ(FormatIpv4(lan->last), "198.18.137.254");
    EXPECT_EQ(ParseCidr("10.0.0.1")->size(), 1u);
    EXPECT_EQ(ParseCidr("10.0.0.0/31")->size(), 2u);
    EXPECT_FALSE(ParseCidr("10.0.0.0/33"));
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

}  // namespace
