// SPDX-License-Identifier: MIT
// Korvel beyond its own segment: two lab LANs joined by a router, Samba's
// nmbd as the WINS server (and a WINS client holding a name) in one, Korvel
// nodes (korvel-nb runs) in the other. Korvel registers, resolves, calls
// and reads adapter status across the router through the server, is
// refused a name a live client holds, refreshes and releases; tshark
// judges every packet it sends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <nss.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"

using namespace std::chrono_literals;

namespace {

// Subnet 1 (the suite's own lab): the WINS server and a Samba WINS client.
constexpr int kWinsHost = 1;
constexpr int kSambaHost = 2;
// Subnet 2 (198.18.162.0/24): Korvel.
constexpr int kHolderHost = 1;
constexpr int kClientHost = 2;
// With a second interface in subnet 1, at 198.18.137.40 (host 30's address).
constexpr int kTwoAdapterHost = 3;
constexpr int kSecondInterface = 30;
const std::string kFarNet = "198.18.162";

using netlab::Contains;
using netlab::NbRun;

class WinsInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (!StartLab("kw", 2)) return;
        far_ = NewLab("kx", kFarNet);
        std::string why;
        if (!far_->Start(3, &why)) return SkipAll(why);
        int status = 0;
        const std::string routed = lab().Run("route " + far_->prefix() + " " + kFarNet, &status);
        if (status != 0) return SkipAll("netlab route: " + routed);
        // A short maximum TTL makes the refresh come within the suite's time.
        const std::string server = lab().Run(
            "samba " + std::to_string(kWinsHost) + " WINSSRV", &status,
            "NETLAB_SMB_EXTRA=" + netlab::Quote("wins support = yes\nmin wins ttl = 6\nmax wins ttl = 12"));
        if (status != 0) return SkipAll("WINS server: " + server);
        if (!WinsKnows("WINSSRV", Wins())) return SkipAll("the WINS server never listed itself");
        const std::string client = lab().Run("samba " + std::to_string(kSambaHost) + " SAMBA1", &status,
                                             "NETLAB_SMB_EXTRA=" + netlab::Quote("wins server = " + Wins()));
        if (status != 0) return SkipAll("WINS client: " + client);
        if (!WinsKnows("SAMBA1", lab().HostAddress(kSambaHost))) return SkipAll("SAMBA1 never reached WINS");
        const std::string wired = WireSecondInterface();
        if (!wired.empty()) return SkipAll("second interface: " + wired);
        // Through the service, node type and server are korveld's settings.
        if (netlab::ThroughService())
            for (int host = 1; host <= 3; ++host)
                netlab::StartService(*far_, host, "KORVEL_NODE_TYPE=h KORVEL_WINS=" + Wins());
    }

    // eth1 of the far lab's host kTwoAdapterHost, on this lab's bridge: a
    // veth made in the bridge's namespace with its other end moved straight
    // into the host's, as netlab makes eth0. Empty when it worked.
    static std::string WireSecondInterface() {
        const std::string bridge = lab().prefix() + "-lan", host = far_->Namespace(kTwoAdapterHost);
        const std::string port = "mh" + far_->prefix();
        int status = 0;
        const std::string out = netlab::Shell(
            "set -e; ip -n " + bridge + " link add " + port + " type veth peer name eth1 netns " + host +
                "; ip -n " + bridge + " link set " + port + " master br0 up; ip -n " + host +
                " link set eth1 address 02:4e:42:00:01:03; ip -n " + host + " addr add " +
                lab().HostAddress(kSecondInterface) + "/24 broadcast " + netlab::Lab::Broadcast() +
                " dev eth1; ip -n " + host + " link set eth1 up",
            &status);
        return status == 0 ? "" : out;
    }
    static void TearDownTestSuite() {
        far_.reset();
        LabSuite::TearDownTestSuite();
    }

    static std::string Wins() { return lab().HostAddress(kWinsHost); }
    // Through the service, always korveld's H-node.
    static std::string Korvel(const std::string &args, const std::string &type = "h") {
        if (netlab::ThroughService()) return args;
        return "--node-type " + type + " --wins " + Wins() + " " + args;
    }
    // What the WINS server answers for NAME<20>, asked from subnet 1.
    static std::string AskWins(const std::string &name) {
        return Nmblookup(kSambaHost, "-U " + Wins() + " --recursion '" + name + "#20'");
    }
    // Waits (up to 15 s) until the server lists NAME<20> at `address`.
    static bool WinsKnows(const std::string &name, const std::string &address) {
        for (int i = 0; i < 60; ++i) {
            if (Contains(AskWins(name), address + " " + name + "<20>")) return true;
            std::this_thread::sleep_for(250ms);
        }
        return false;
    }

    static inline std::unique_ptr<netlab::Lab> far_;
};

TEST_F(WinsInterop, RegistersResolvesCallsAndReadsStatusAcrossTheRouter) {
    netlab::NbBackground holder(*far_, kHolderHost, Korvel("hold KORVELW"));
    ASSERT_TRUE(holder.WaitFor("holding KORVELW<20>")) << holder.Err();
    EXPECT_TRUE(WinsKnows("KORVELW", far_->HostAddress(kHolderHost))) << AskWins("KORVELW");

    // Adapter status by name of the Samba host behind the router: every
    // node type with a server finds it; a B-node's broadcast cannot.
    for (const std::string type : {"p", "m", "h"}) {
        const NbRun run = netlab::RunNb(*far_, kClientHost, Korvel("status SAMBA1", type));
        EXPECT_EQ(run.status, 0) << type << ": " << run.err;
        EXPECT_TRUE(Contains(run.out, "SAMBA1")) << type << ": " << run.out;
    }
    EXPECT_EQ(netlab::RunNb(*far_, kClientHost, "--timeout 3 status SAMBA1").status, 3);
    // Korvel's own name, from its own subnet, through the server too.
    EXPECT_EQ(netlab::RunNb(*far_, kClientHost, Korvel("status KORVELW", "p")).status, 0);

    // A session with smbd across the router.
    const NbRun call = netlab::RunNb(*far_, kClientHost, Korvel("call SAMBA1 --as KORVELC --send hello"));
    EXPECT_EQ(call.status, 0) << call.err;

    // The cache holds what the server said; an unknown name is a short negative entry.
    const NbRun names = netlab::RunNb(*far_, kClientHost, Korvel("--json names SAMBA1 NOBODY"));
    EXPECT_EQ(names.status, 3) << names.err;
    EXPECT_EQ(names.Jq("[.node_type, .resolved[0].address, .resolved[1].found]"),
              "[\"H\",\"" + lab().HostAddress(kSambaHost) + "\",false]")
        << names.out;
    EXPECT_EQ(names.Jq("[.cache[] | select(.name == \"SAMBA1<20>\") | .from]"), "[\"server\"]") << names.out;
    EXPECT_TRUE(holder.Interrupt());
}

TEST_F(WinsInterop, RefusedANameALiveSambaClientHolds) {
    // The server asks the owner (across the router from us) and it answers.
    const NbRun run = netlab::RunNb(*far_, kClientHost, Korvel("hold SAMBA1"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "add SAMBA1<20>: NRC_INUSE (0x16)")) << run.err;
    EXPECT_TRUE(WinsKnows("SAMBA1", lab().HostAddress(kSambaHost))) << "the owner keeps it";
}

TEST_F(WinsInterop, RefreshesReleasesAndEveryPacketDecodes) {
    LabCapture capture(lab(), "wins.pcapng", "udp port 137");
    ASSERT_EQ(capture.problem(), "");
    {
        netlab::NbBackground holder(*far_, kHolderHost, Korvel("hold KORVELR"));
        ASSERT_TRUE(holder.WaitFor("holding KORVELR<20>")) << holder.Err();
        ASSERT_TRUE(WinsKnows("KORVELR", far_->HostAddress(kHolderHost)));
        // Granted at most 12 s: refreshed after 6 s, well before it runs out.
        std::this_thread::sleep_for(8s);
        EXPECT_TRUE(WinsKnows("KORVELR", far_->HostAddress(kHolderHost)));
        netlab::RunNb(*far_, kClientHost, Korvel("status SAMBA1"));
        netlab::RunNb(*far_, kClientHost, Korvel("--timeout 5 status NOBODY", "p"));
        ASSERT_TRUE(holder.Interrupt());  // Ctrl-C releases KORVELR
    }
    std::this_thread::sleep_for(500ms);
    const std::string after = AskWins("KORVELR");
    EXPECT_FALSE(Contains(after, "KORVELR<20>")) << after;
    capture.Stop();

    const std::string korvel = "ip.src==" + kFarNet + ".0/24";
    const std::string listing = capture.Tshark(korvel);
    EXPECT_EQ(capture.Count(korvel + " && _ws.malformed"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && _ws.expert.severity >= warning"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && !nbns"), 0) << listing;
    const std::string to_wins = korvel + " && ip.dst==" + Wins() + " && nbns.flags.response == 0";
    EXPECT_GE(capture.Count(to_wins + " && nbns.flags == 0x2900"), 1) << listing;  // registration
    EXPECT_GE(capture.Count(to_wins + " && nbns.flags == 0x4000"), 1) << listing;  // refresh
    EXPECT_GE(capture.Count(to_wins + " && nbns.flags == 0x3000"), 1) << listing;  // release
    EXPECT_GE(capture.Count(to_wins + " && nbns.flags == 0x0100"), 1) << listing;  // query
}

// One name held on both adapters of a host with an interface in each
// subnet: the second registration is multihomed, so the server keeps both
// addresses instead of refusing the second, and the host itself answers a
// query for the name with both.
TEST_F(WinsInterop, AHostWithTwoAdaptersHoldsANameAtBothAddresses) {
    const std::string first = far_->HostAddress(kTwoAdapterHost);
    const std::string second = lab().HostAddress(kSecondInterface);
    netlab::NbBackground holder(*far_, kTwoAdapterHost, Korvel("--lana 1 hold KORVELM --also-lana 2"));
    ASSERT_TRUE(holder.WaitFor("holding KORVELM<20> (unique, name number 2, LANA 2)")) << holder.Err();
    EXPECT_TRUE(WinsKnows("KORVELM", first)) << AskWins("KORVELM");
    EXPECT_TRUE(WinsKnows("KORVELM", second)) << AskWins("KORVELM");
    const std::string asked = Nmblookup(kSambaHost, "-U " + first + " 'KORVELM#20'");
    EXPECT_TRUE(Contains(asked, first + " KORVELM<20>") && Contains(asked, second + " KORVELM<20>")) << asked;
    EXPECT_TRUE(holder.Interrupt());
}

// korveld as an H-node in the far subnet, and this process's getaddrinfo
// through the hosts module asking it: the Samba host behind the router,
// which no broadcast reaches, is found through the server.
TEST_F(WinsInterop, AHostLookupThroughTheServiceFindsTheSambaHostBehindTheRouter) {
    const std::string socket = far_->state() + "/korveld.sock";
    const std::string pid = far_->Exec(
        kClientHost, "KORVEL_NODE_TYPE=h KORVEL_WINS=" + Wins() + " " KORVELD " --foreground --socket " +
                         socket + " --state-dir " + far_->state() + "/korveld-state >>" + far_->state() +
                         "/korveld.log 2>&1 & echo $!");
    struct stat status;
    for (int i = 0; i < 100 && ::stat(socket.c_str(), &status) != 0; ++i) std::this_thread::sleep_for(20ms);
    ::setenv("KORVEL_PROVIDER_SOCKET", socket.c_str(), 1);
    ::__nss_configure_lookup("hosts", "korvel");  // the module from the build tree (the test's rpath)
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ::getaddrinfo("samba1", nullptr, &hints, &found);
    const auto took = std::chrono::steady_clock::now() - start;
    char text[INET_ADDRSTRLEN] = {};
    if (rc == 0) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, text, sizeof text);
        ::freeaddrinfo(found);
    }
    const int korveld = std::atoi(pid.c_str());
    if (korveld > 0) ::kill(korveld, SIGTERM);
    for (int i = 0; i < 100 && korveld > 0 && ::kill(korveld, 0) == 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rc, 0) << netlab::ReadFile(far_->state() + "/korveld.log");
    EXPECT_EQ(std::string(text), lab().HostAddress(kSambaHost));
    EXPECT_LT(took, 750ms);  // the server answers; no broadcast round is waited for
}

}  // namespace
