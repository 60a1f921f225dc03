// The name service against real peers in a lab of network namespaces:
// Samba's nmbd and nmblookup on one side, a Korvel node (korvel_node_tool
// run inside a lab host) on the other, and tshark judging every packet the
// Korvel node puts on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "background_node.h"
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

// The node under test runs in the Korvel host.
class Node : public BackgroundNode {
public:
    explicit Node(const std::string &commands) : BackgroundNode(kKorvelHost, commands) {}
};

std::string RunNode(const std::string &commands) {
    return LabSuite::lab().Exec(kKorvelHost, std::string(KORVEL_NODE_TOOL) + " " + commands);
}

class NameInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (StartLab("kn", 3)) StartSamba(kSambaHost, "SAMBA1", kToolHost);
    }
};

TEST_F(NameInterop, NmblookupSeesTheKorvelNode) {
    Node node("add KORVEL1");
    ASSERT_TRUE(node.ready()) << node.Output();
    ASSERT_TRUE(Contains(node.Output(), "add KORVEL1 0x00")) << node.Output();

    std::string status = Nmblookup(kToolHost, "-A " + netlab::Lab::Address(kKorvelHost));
    EXPECT_TRUE(Contains(status, "KORVEL1         <20> -         B <ACTIVE>")) << status;
    EXPECT_TRUE(Contains(status, "MAC Address = 02-4E-42-00-00-02")) << status;

    std::string query = Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL1#20'");
    EXPECT_TRUE(Contains(query, netlab::Lab::Address(kKorvelHost) + " KORVEL1<20>")) << query;
    std::string missing = Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'NOTKORVEL#20'");
    EXPECT_TRUE(Contains(missing, "name_query failed")) << missing;
}

TEST_F(NameInterop, StatusOfSambaByNameAddressAndAdapterAddress) {
    // No neighbour entry yet: the adapter address is found by asking around.
    lab().Exec(kKorvelHost, "ip neigh flush all");
    std::string mac = netlab::Lab::Mac(kSambaHost);
    mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
    std::string out = RunNode("astat-mac " + mac + " astat SAMBA1 astat " + netlab::Lab::Address(kSambaHost));
    std::istringstream lines(out);
    std::string line;
    int answers = 0;
    bool in_answer = false;
    bool saw_server_name = false;
    while (std::getline(lines, line)) {
        if (line.rfind("astat ", 0) == 0) {
            if (in_answer) {
                EXPECT_TRUE(saw_server_name) << out;
            }
            in_answer = Contains(line, "astat 0x00");
            EXPECT_TRUE(in_answer) << line;
            answers += in_answer;
            saw_server_name = false;
        }
        if (Contains(line, "name SAMBA1         <20> num=0 flags=0x04")) saw_server_name = true;
        if (Contains(line, "LAB            <00>")) {
            EXPECT_TRUE(Contains(line, "flags=0x84")) << line;
        }
    }
    EXPECT_TRUE(saw_server_name) << out;
    EXPECT_EQ(answers, 3) << out;
}

TEST_F(NameInterop, SambaDefendsItsNameAndKorvelDefendsItsOwn) {
    std::string out = RunNode("add SAMBA1 astat '*'");
    EXPECT_TRUE(Contains(out, "add SAMBA1 0x16")) << out;
    EXPECT_FALSE(Contains(out, "name SAMBA1")) << "a refused name is not in our table\n" << out;

    // Korvel holds SAMBA2<20> first; an nmbd starting with that name is refused.
    Node node("add SAMBA2");
    ASSERT_TRUE(node.ready()) << node.Output();
    std::string started =
        lab().Run("samba " + std::to_string(kToolHost) + " SAMBA2", nullptr, "NETLAB_SMB_LOGLEVEL=3");
    std::string log_file = lab().state() + "/samba-h" + std::to_string(kToolHost) + "/log/log.nmbd";
    bool refused = false;
    for (int i = 0; i < 60 && !refused; ++i) {
        std::this_thread::sleep_for(200ms);
        refused =
            Contains(ReadFile(log_file), "my_name_register_failed: Failed to register my name SAMBA2<20>");
    }
    lab().Run("samba-stop " + std::to_string(kToolHost));
    EXPECT_TRUE(refused) << started << ReadFile(log_file);
}

TEST_F(NameInterop, EveryPacketKorvelSendsDecodesInTshark) {
    LabCapture capture(lab(), "names.pcapng", "udp port 137");
    ASSERT_EQ(capture.problem(), "");
    {
        Node node("add KORVEL3 add SAMBA1 astat SAMBA1 astat " + netlab::Lab::Address(kSambaHost) +
                  " astat-mac 024e42000003 astat NOBODY del KORVEL3 add KORVEL4");
        ASSERT_TRUE(node.ready()) << node.Output();
        Nmblookup(kToolHost, "-A " + netlab::Lab::Address(kKorvelHost));
        Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL4#20'");
        Nmblookup(kToolHost, "-U " + netlab::Lab::Address(kKorvelHost) + " 'NOBODY#20'");
        Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL4#20' -T");
    }  // the node stops: reset releases KORVEL4
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
