// SPDX-License-Identifier: MIT
// korvel-nb against Samba in a lab of network namespaces: the output, JSON
// document and exit status of each subcommand, run as a whole process inside
// a lab host the way a script would run it. Listen and call are in
// session_interop_test.cpp, which drives its sessions through korvel-nb.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"

using namespace std::chrono_literals;

namespace {

// Host 1 runs Samba (SAMBA1), host 2 korvel-nb, host 3 the Samba tools.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kToolHost = 3;

using netlab::Contains;
using netlab::NbBackground;
using netlab::NbRun;

NbRun Nb(const std::string &args) {
    return netlab::RunNb(LabSuite::lab(), kKorvelHost, args);
}

class KorvelNbInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (StartLab("kc", 3)) StartSamba(kSambaHost, "SAMBA1", kToolHost);
    }
};

TEST_F(KorvelNbInterop, LanasAndStatusByNameAddressAndAdapterAddress) {
    const NbRun lanas = Nb("--json lanas");
    EXPECT_EQ(lanas.status, 0) << lanas.err;
    // korveld keeps its numbers; this process's own are only index order.
    const std::string stable = netlab::ThroughService() ? "true" : "false";
    EXPECT_EQ(
        lanas.Jq(".lanas[1] | [.interface, .address, .name_port, .adapter_address, .stable_number]"),
        "[\"eth0\",\"" + netlab::Lab::Address(kKorvelHost) + "\",137,\"02:4E:42:00:00:02\"," + stable + "]");
    EXPECT_EQ(Contains(Nb("lanas").out, "not stable here"), !netlab::ThroughService());

    // No neighbour entry yet: the adapter address is found by asking around.
    lab().Exec(kKorvelHost, "ip neigh flush all");
    for (const std::string &target :
         {std::string("SAMBA1"), netlab::Lab::Address(kSambaHost), std::string("02-4e-42-00-00-01")}) {
        const NbRun run = Nb("--json status " + target);
        EXPECT_EQ(run.status, 0) << target << run.err;
        EXPECT_EQ(run.Jq(".status.names[] | select(.name == \"SAMBA1<20>\") | [.type, .state]"),
                  "[\"unique\",\"registered\"]")
            << target << run.out;
        EXPECT_EQ(run.Jq(".status.names[] | select(.name == \"LAB<00>\") | .type"), "\"group\"") << run.out;
    }
    const NbRun text = Nb("status SAMBA1");
    EXPECT_TRUE(Contains(text.out, "SAMBA1<20>  0       unique  registered  0x04")) << text.out;

    const NbRun nobody = Nb("status NOBODY");
    EXPECT_EQ(nobody.status, 3);
    EXPECT_TRUE(Contains(nobody.err, "NRC_CMDTMO (0x05)")) << nobody.err;
}

// `lanas` and the provider agree on every LANA, whatever order interfaces
// came up in: LANA N's adapter address as `lanas` lists it is the one the
// provider's own node on LANA N reports. knb9 comes up before knb8 but has
// the higher index; knbd is down, and the veth peers have no address, so
// neither is a LANA. The peers are up: a veth without one has no carrier.
TEST_F(KorvelNbInterop, LanasAgreeWithTheProviderOnEveryLana) {
    int status = -1;
    lab().Exec(
        kKorvelHost,
        "ip link add knb9 index 900 address 02:4e:42:00:09:09 type veth peer name knb9p &&"
        " ip addr add 198.18.209.2/24 brd + dev knb9 && ip link set knb9p up && ip link set knb9 up &&"
        " ip link add knb8 index 800 address 02:4e:42:00:08:08 type veth peer name knb8p &&"
        " ip addr add 198.18.208.2/24 brd + dev knb8 && ip link set knb8p up && ip link set knb8 up &&"
        " ip link add knbd index 700 type veth peer name knbdp && ip addr add 198.18.207.2/24 brd + dev knbd",
        &status);
    struct Removed {
        ~Removed() { lab().Exec(kKorvelHost, "ip link del knb9; ip link del knb8; ip link del knbd"); }
    } removed;
    ASSERT_EQ(status, 0) << "cannot add dummy interfaces";

    const NbRun lanas = Nb("--json lanas");
    EXPECT_EQ(lanas.status, 0) << lanas.err;
    EXPECT_EQ(lanas.Jq("[.lanas[] | [.lana, .interface, .address, .adapter_address]]"),
              "[[0,\"lo\",\"127.0.0.N\",\"02:00:7F:00:00:NN\"],[1,\"eth0\",\"" +
                  netlab::Lab::Address(kKorvelHost) +
                  "\",\"02:4E:42:00:00:02\"],[2,\"knb8\",\"198.18.208.2\",\"02:4E:42:00:08:08\"],"
                  "[3,\"knb9\",\"198.18.209.2\",\"02:4E:42:00:09:09\"]]");
    EXPECT_EQ(lanas.Jq("[.lanas[] | [.name_port, .datagram_port, .session_port]] | unique"),
              "[[137,138,139],[10137,10138,10139]]");
    for (int lana = 1; lana <= 3; ++lana) {
        const NbRun own = Nb("--lana " + std::to_string(lana) + " --json status '*'");
        EXPECT_EQ(own.status, 0) << lana << own.err;
        EXPECT_EQ(own.Jq(".status.adapter_address"),
                  lanas.Jq(".lanas[] | select(.lana == " + std::to_string(lana) + ") | .adapter_address"))
            << "LANA " << lana;
    }
}

TEST_F(KorvelNbInterop, QueryByBroadcastAndUnicast) {
    const NbRun unique = Nb("query SAMBA1");
    EXPECT_EQ(unique.status, 0) << unique.err;
    EXPECT_TRUE(Contains(unique.out, netlab::Lab::Address(kSambaHost) + "  SAMBA1<20>  unique  B-node"))
        << unique.out;

    const NbRun group = Nb("--json query 'LAB#00' --to " + netlab::Lab::Address(kSambaHost));
    EXPECT_EQ(group.status, 0) << group.err;
    EXPECT_EQ(group.Jq("[.broadcast, (.answers[] | [.address, .group])]"),
              "[false,[\"" + netlab::Lab::Address(kSambaHost) + "\",true]]");

    const NbRun missing = Nb("query NOBODY --to " + netlab::Lab::Address(kSambaHost));
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(Contains(missing.err, "no such name: NOBODY<20>")) << missing.err;
}

TEST_F(KorvelNbInterop, HoldIsSeenRefusedForSambasNameAndReleasedOnCtrlC) {
    const NbRun refused = Nb("hold SAMBA1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "add SAMBA1<20>: NRC_INUSE (0x16): the name is in use on another node"))
        << refused.err;

    LabCapture capture(lab(), "hold.pcapng", "udp port 137");
    ASSERT_EQ(capture.problem(), "");
    NbBackground hold(lab(), kKorvelHost, "--json hold KORVEL1 KORVEL2");
    std::this_thread::sleep_for(1500ms);  // the registrations' broadcasts
    const std::string seen = Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL2#20'");
    EXPECT_TRUE(Contains(seen, netlab::Lab::Address(kKorvelHost) + " KORVEL2<20>")) << seen << hold.Err();
    ASSERT_TRUE(hold.Interrupt());
    capture.Stop();

    const NbRun result = hold.Result();
    EXPECT_EQ(result.Jq("[.exit_status, .ended_by, [.names[].name]]"),
              "[0,\"interrupt\",[\"KORVEL1<20>\",\"KORVEL2<20>\"]]")
        << result.out << result.err;
    const std::string releases =
        capture.Tshark("ip.src==" + netlab::Lab::Address(kKorvelHost) + " && nbns.flags.opcode == 6",
                       " -T fields -e nbns.name");
    EXPECT_TRUE(Contains(releases, "KORVEL1<20>")) << releases;
    EXPECT_TRUE(Contains(releases, "KORVEL2<20>")) << releases;
}

TEST_F(KorvelNbInterop, ScanOfTheLabFindsWhatNbtscanFinds) {
    const NbRun scan = Nb("--json scan 198.18.137.0/24");
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(
        scan.Jq("[.hosts[] | [.address, .name, .group, .adapter_address]]"),
        "[[\"" + netlab::Lab::Address(kSambaHost) + "\",\"SAMBA1<00>\",\"LAB<00>\",\"00:00:00:00:00:00\"]]");
    const NbRun text = Nb("scan 198.18.137.0/24 --timeout 1");
    EXPECT_TRUE(Contains(text.out, netlab::Lab::Address(kSambaHost) + "  SAMBA1<00>  LAB<00>")) << text.out;

    // Not this host itself, which answers while korveld serves it.
    const std::string nbtscan = lab().Exec(
        kKorvelHost, "command -v nbtscan >/dev/null && nbtscan -q -s , 198.18.137.0/24 | grep -v '^" +
                         netlab::Lab::Address(kKorvelHost) + ",'");
    if (!Contains(nbtscan, ",")) GTEST_SKIP() << "nbtscan is not installed";
    EXPECT_TRUE(Contains(nbtscan, netlab::Lab::Address(kSambaHost) + ",SAMBA1")) << nbtscan;
    EXPECT_EQ(std::count(nbtscan.begin(), nbtscan.end(), '\n'), 1) << nbtscan;
}

}  // namespace
