// SPDX-License-Identifier: MIT
// Validation Netbios() does at once, enumeration and resets of the loopback
// LANA, on providers of their own (no root, loopback only).
#include <gtest/gtest.h>

#include "lana_table.h"
#include "loopback_settings.h"
#include "nbt_event.h"
#include "ncb_helpers.h"
#include "node.h"
#include "provider.h"

namespace nbt {
namespace {

using testing::LoopbackSettings;
using testing::MakeNcb;
using testing::ResetLana;

TEST(ProviderValidation, RejectsBadBlocksAtOnce) {
    Provider provider(LoopbackSettings());
    EXPECT_EQ(provider.Netbios(nullptr), NRC_INVADDRESS);

    NCB unknown = MakeNcb(0x7F);
    EXPECT_EQ(provider.Netbios(&unknown), NRC_ILLCMD);
    EXPECT_EQ(unknown.ncb_retcode, NRC_ILLCMD);
    EXPECT_EQ(unknown.ncb_cmd_cplt, NRC_ILLCMD);

    // Commands that mean nothing over TCP/IP, refused before the LANA is looked at.
    for (UCHAR command : {NCBLANSTALERT, NCBACTION, NCBFINDNAME, NCBTRACE}) {
        NCB ncb = MakeNcb(command);
        EXPECT_EQ(provider.Netbios(&ncb), NRC_ILLCMD) << int(command);
    }

    // LANA not in the enumeration: only LANA 0 exists with host interfaces off.
    NCB bridge = MakeNcb(NCBRESET, 1);
    EXPECT_EQ(provider.Netbios(&bridge), NRC_BRIDGE);
    NCB bridge_far = MakeNcb(NCBASTAT, 254);
    EXPECT_EQ(provider.Netbios(&bridge_far), NRC_BRIDGE);
}

TEST(ProviderValidation, EventAndPostTogetherIsIllegal) {
    Provider provider(LoopbackSettings());
    NbtEvent event;
    NCB ncb = MakeNcb(NCBENUM | ASYNCH);
    LANA_ENUM lanas{};
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    ncb.ncb_event = &event;
    static bool posted = false;
    ncb.ncb_post = [](NCB *) { posted = true; };
    EXPECT_EQ(provider.Netbios(&ncb), NRC_ILLCMD);
    EXPECT_EQ(ncb.ncb_retcode, NRC_ILLCMD);
    // An error found at once signals the event and never calls the post routine.
    EXPECT_TRUE(event.IsSet());
    EXPECT_FALSE(posted);
}

TEST(ProviderValidation, EveryCommandNeedsAResetFirst) {
    Provider provider(LoopbackSettings());
    for (UCHAR command :
         {NCBADDNAME, NCBDELNAME, NCBASTAT, NCBSSTAT, NCBCALL, NCBLISTEN, NCBHANGUP, NCBSEND, NCBRECV}) {
        NCB ncb = MakeNcb(command);
        EXPECT_EQ(provider.Netbios(&ncb), NRC_ENVNOTDEF) << int(command);
    }
    // The asynchronous form reports it at once too, and sets the event.
    NbtEvent event;
    NCB async = MakeNcb(NCBLISTEN | ASYNCH);
    async.ncb_event = &event;
    EXPECT_EQ(provider.Netbios(&async), NRC_ENVNOTDEF);
    EXPECT_TRUE(event.IsSet());

    // Freeing a LANA (lsn != 0) brings ENVNOTDEF back.
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    NCB ok = MakeNcb(NCBADDNAME);
    EXPECT_NE(provider.Netbios(&ok), NRC_ENVNOTDEF);
    ASSERT_EQ(ResetLana(provider, 0, 1), NRC_GOODRET);
    EXPECT_FALSE(provider.LanaAddress(0).has_value());
    NCB after = MakeNcb(NCBADDNAME);
    EXPECT_EQ(provider.Netbios(&after), NRC_ENVNOTDEF);
}

TEST(ProviderEnum, ListsLoopbackFirstAndChecksTheBuffer) {
    Provider provider(LoopbackSettings());
    LANA_ENUM lanas;
    std::memset(&lanas, 0xEE, sizeof lanas);
    NCB ncb = MakeNcb(NCBENUM, 77);  // no reset and any LANA number: enumeration needs neither
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    ASSERT_EQ(provider.Netbios(&ncb), NRC_GOODRET);
    EXPECT_EQ(lanas.length, 1);
    EXPECT_EQ(lanas.lana[0], 0);

    NCB null_buffer = MakeNcb(NCBENUM);
    null_buffer.ncb_length = sizeof lanas;
    EXPECT_EQ(provider.Netbios(&null_buffer), NRC_BADDR);

    UCHAR one_byte = 0xEE;
    NCB too_short = MakeNcb(NCBENUM);
    too_short.ncb_buffer = &one_byte;
    too_short.ncb_length = 1;
    EXPECT_EQ(provider.Netbios(&too_short), NRC_BUFLEN);
    EXPECT_EQ(one_byte, 0xEE);  // nothing written past a refused length
}

TEST(ProviderEnum, DefaultProviderAnswersThroughNetbios) {
    LANA_ENUM lanas{};
    NCB ncb = MakeNcb(NCBENUM);
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    ASSERT_EQ(Netbios(&ncb), NRC_GOODRET);
    ASSERT_GE(lanas.length, 1);
    EXPECT_EQ(lanas.lana[0], 0);
    for (int i = 1; i < lanas.length; ++i) EXPECT_EQ(lanas.lana[i], i);
}

TEST(ProviderReset, ResettingTwiceKeepsTheLoopbackAddress) {
    Provider provider(LoopbackSettings());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    auto first = provider.LanaAddress(0);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->to_bytes()[0], 127);

    ASSERT_EQ(ResetLana(provider, 0, 0, 32, 0, 32), NRC_GOODRET);
    EXPECT_EQ(provider.LanaAddress(0), first);

    // Free, then reset again: the same 127.0.0.N comes back while it is free.
    ASSERT_EQ(ResetLana(provider, 0, 1), NRC_GOODRET);
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    EXPECT_EQ(provider.LanaAddress(0), first);
}

TEST(ProviderReset, LimitsComeFromTheCallname) {
    Settings settings;
    NCB ncb = MakeNcb(NCBRESET);
    Limits defaults = LimitsFromReset(ncb, settings);
    EXPECT_EQ(defaults.sessions, 16);
    EXPECT_EQ(defaults.ncbs, 16);
    EXPECT_EQ(defaults.names, 8);
    EXPECT_FALSE(defaults.reserve_name_number_1);

    ncb.ncb_callname[0] = 32;
    ncb.ncb_callname[1] = 255;
    ncb.ncb_callname[2] = 1;
    ncb.ncb_callname[3] = 1;
    Limits asked = LimitsFromReset(ncb, settings);
    EXPECT_EQ(asked.sessions, 32);
    EXPECT_EQ(asked.ncbs, 254);  // clamped
    EXPECT_EQ(asked.names, 1);
    EXPECT_TRUE(asked.reserve_name_number_1);
}

TEST(ProviderReset, AdapterAddressNamesTheLoopbackHost) {
    Provider provider(LoopbackSettings());
    ASSERT_EQ(ResetLana(provider), NRC_GOODRET);
    provider.WithNode(0, [](Node *node) {
        ASSERT_NE(node, nullptr);
        const auto n = node->host_number();
        EXPECT_EQ(node->address(), asio::ip::address_v4((127u << 24) | n));
        EXPECT_EQ(node->adapter_address(), (MacAddress{0x02, 0x00, 0x7F, 0x00, 0x00, n}));
        EXPECT_EQ(node->broadcast_endpoint().address().to_string(), "127.255.255.255");
        EXPECT_EQ(node->name_port(), LoopbackSettings().loopback_name_port);
    });
}

}  // namespace
}  // namespace nbt
