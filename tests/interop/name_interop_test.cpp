// SPDX-License-Identifier: MIT
// The name service against real peers in a lab of network namespaces:
// Samba's nmbd and nmblookup on one side, Korvel nodes (korvel-nb runs
// inside a lab host) on the other, and tshark judging every packet the
// Korvel nodes put on the wire. Adapter status three ways is in
// korvel_nb_interop_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"

using namespace std::chrono_literals;

namespace {

// Host 1 runs Samba (SAMBA1), host 2 the Korvel node, host 3 the Samba tools.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kToolHost = 3;

using netlab::Contains;
using netlab::ReadFile;

// A node holding `names` (korvel-nb hold) while peers talk to it.
struct HeldNames : netlab::NbBackground {
    explicit HeldNames(const std::string &names)
        : NbBackground(LabSuite::lab(), kKorvelHost, "hold " + names) {}
};

class NameInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (StartLab("kn", 3)) StartSamba(kSambaHost, "SAMBA1", kToolHost);
    }
};

TEST_F(NameInterop, NmblookupSeesTheKorvelNode) {
    HeldNames node("KORVEL1");
    ASSERT_TRUE(node.WaitFor("holding KORVEL1<20>")) << node.Err();

    std::string status = Nmblookup(kToolHost, "-A " + netlab::Lab::Address(kKorvelHost));
    EXPECT_TRUE(Contains(status, "KORVEL1         <20> -         B <ACTIVE>")) << status;
    EXPECT_TRUE(Contains(status, "MAC Address = 02-4E-42-00-00-02")) << status;

    std::string query = Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL1#20'");
    EXPECT_TRUE(Contains(query, netlab::Lab::Address(kKorvelHost) + " KORVEL1<20>")) << query;
    std::string missing = Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'NOTKORVEL#20'");
    EXPECT_TRUE(Contains(missing, "name_query failed")) << missing;
}

TEST_F(NameInterop, SambaDefendsItsNameAndKorvelDefendsItsOwn) {
    const netlab::NbRun refused = netlab::RunNb(lab(), kKorvelHost, "hold SAMBA1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "add SAMBA1<20>: NRC_INUSE (0x16)")) << refused.err;

    // Korvel holds SAMBA2<20> first; an nmbd starting with that name is refused.
    HeldNames node("SAMBA2");
    ASSERT_TRUE(node.WaitFor("holding SAMBA2<20>")) << node.Err();
    std::string started =
        lab().Run("samba " + std::to_string(kToolHost) + " SAMBA2", nullptr, "NETLAB_SMB_LOGLEVEL=3");
    std::string log_file = lab().state() + "/samba-h" + std::to_string(kToolHost) + "/log/log.nmbd";
    bool refused_nmbd = false;
    for (int i = 0; i < 60 && !refused_nmbd; ++i) {
        std::this_thread::sleep_for(200ms);
        refused_nmbd =
            Contains(ReadFile(log_file), "my_name_register_failed: Failed to register my name SAMBA2<20>");
    }
    lab().Run("samba-stop " + std::to_string(kToolHost));
    EXPECT_TRUE(refused_nmbd) << started << ReadFile(log_file);
}

TEST_F(NameInterop, EveryPacketKorvelSendsDecodesInTshark) {
    LabCapture capture(lab(), "names.pcapng", "udp port 137");
    ASSERT_EQ(capture.problem(), "");
    // Registrations, a defended one, releases and adapter status three ways.
    for (const std::string &args :
         {std::string("--timeout 0 hold KORVEL3"), std::string("hold SAMBA1"), std::string("status SAMBA1"),
          "status " + netlab::Lab::Address(kSambaHost), std::string("status 024e42000003"),
          std::string("status NOBODY")})
        netlab::RunNb(lab(), kKorvelHost, args);
    {
        HeldNames node("KORVEL4");
        ASSERT_TRUE(node.WaitFor("holding KORVEL4<20>")) << node.Err();
        Nmblookup(kToolHost, "-A " + netlab::Lab::Address(kKorvelHost));
        Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL4#20'");
        Nmblookup(kToolHost, "-U " + netlab::Lab::Address(kKorvelHost) + " 'NOBODY#20'");
        Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL4#20' -T");
        ASSERT_TRUE(node.Interrupt());  // Ctrl-C releases KORVEL4
    }
    capture.Stop();

    const std::string korvel = "ip.src==" + netlab::Lab::Address(kKorvelHost);
    const std::string listing = capture.Tshark(korvel);
    EXPECT_EQ(capture.Count(korvel + " && _ws.malformed"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && _ws.expert.severity >= warning"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && !nbns"), 0) << listing;
    // Each kind of packet was there to be judged.
    EXPECT_GE(capture.Count(korvel + " && nbns.flags.opcode == 5 && nbns.flags.response == 0"), 3) << listing;
    EXPECT_GE(capture.Count(korvel + " && nbns.flags.opcode == 6"), 3) << listing;
    EXPECT_GE(capture.Count(korvel + " && nbns.type == 0x21 && nbns.flags.response == 0"), 2) << listing;
    EXPECT_GE(capture.Count(korvel + " && nbns.type == 0x21 && nbns.flags.response == 1"), 1) << listing;
    EXPECT_GE(
        capture.Count(korvel + " && nbns.flags.opcode == 0 && nbns.type == 0x20 && nbns.flags.response == 0"),
        1)
        << listing;
    EXPECT_GE(
        capture.Count(korvel + " && nbns.flags.response == 1 && nbns.flags.rcode == 0 && nbns.type == 0x20"),
        1)
        << listing;
    EXPECT_GE(capture.Count(korvel + " && nbns.flags.rcode == 3"), 1) << listing;
}

}  // namespace
