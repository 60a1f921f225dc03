// SPDX-License-Identifier: MIT
// The name service's mapping between node status on the wire and the
// platform's ADAPTER_STATUS / NAME_BUFFER records.
#include "name_status_records.h"

#include <gtest/gtest.h>

using namespace nbt;
using codec::kStatusActive;
using codec::NodeStatistics;

TEST(NodeStatusFlags, WireFlagsMapToStatesWithoutLeakingBits) {
    EXPECT_EQ(WireFlagsToNameFlags(0x0400), REGISTERED);
    EXPECT_EQ(WireFlagsToNameFlags(0x8400), GROUP_NAME | REGISTERED);
    EXPECT_EQ(WireFlagsToNameFlags(0x0600), REGISTERED);    // ACT|PRM is not DUPLICATE
    EXPECT_EQ(WireFlagsToNameFlags(0x1400), DEREGISTERED);  // DRG is not 0x14
    EXPECT_EQ(WireFlagsToNameFlags(0x0C00), DUPLICATE);
    EXPECT_EQ(WireFlagsToNameFlags(0x1C00), DUPLICATE_DEREG);
    EXPECT_EQ(WireFlagsToNameFlags(0x6400), REGISTERED);  // ONT bits (H-node) dropped
    EXPECT_EQ(WireFlagsToNameFlags(0xE000), GROUP_NAME | REGISTERING);
    for (UCHAR state : {REGISTERED, DEREGISTERED, DUPLICATE, DUPLICATE_DEREG}) {
        for (UCHAR group : {UNIQUE_NAME, GROUP_NAME}) {
            UCHAR flags = static_cast<UCHAR>(state | group);
            EXPECT_EQ(WireFlagsToNameFlags(NameFlagsToWireFlags(flags)), flags);
            EXPECT_TRUE(NameFlagsToWireFlags(flags) & kStatusActive);
        }
    }
}

TEST(NodeStatusFlags, StatisticsMapOntoAdapterStatus) {
    NodeStatistics s;
    s.unit_id = {1, 2, 3, 4, 5, 6};
    s.version = 0x0300;
    s.period = 11;
    s.crcs = 12;
    s.send_aborts = 13;
    s.good_sends = 100000;
    s.good_receives = 200000;
    s.free_command_blocks = 14;
    s.total_command_blocks = 15;
    s.max_total_command_blocks = 16;
    s.pending_sessions = 17;
    s.max_pending_sessions = 18;
    s.max_total_sessions = 19;
    s.session_packet_size = 65535;
    auto a = AdapterStatusFromStatistics(s, 7);
    EXPECT_EQ(a.adapter_address[5], 6);
    EXPECT_EQ(a.rev_major, 3);
    EXPECT_EQ(a.rev_minor, 0);
    EXPECT_EQ(a.adapter_type, 0xFE);
    EXPECT_EQ(a.duration, 11);
    EXPECT_EQ(a.frmr_recv, 12);
    EXPECT_EQ(a.xmit_aborts, 13);
    EXPECT_EQ(a.xmit_success, 100000u);
    EXPECT_EQ(a.recv_success, 200000u);
    EXPECT_EQ(a.free_ncbs, 14);
    EXPECT_EQ(a.max_cfg_ncbs, 15);
    EXPECT_EQ(a.max_ncbs, 16);
    EXPECT_EQ(a.pending_sess, 17);
    EXPECT_EQ(a.max_cfg_sess, 18);
    EXPECT_EQ(a.max_sess, 19);
    EXPECT_EQ(a.max_sess_pkt_size, 65535);
    EXPECT_EQ(a.name_count, 7);
    EXPECT_EQ(a.max_dgram_size, 0);
    EXPECT_EQ(StatisticsFromAdapterStatus(a), s);
}
