// korvel-nb against Samba in a lab of network namespaces: every subcommand's
// output, JSON document and exit status, run as a whole process inside a
// lab host the way a script would run it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "lab_guard.h"
#include "netlab.h"

using namespace std::chrono_literals;

namespace {

// Host 1 runs Samba (SAMBA1), host 2 korvel-nb, host 3 the Samba tools.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kToolHost = 3;

netlab::Lab *lab = nullptr;
std::string lab_problem;

using netlab::Contains;
using netlab::ReadFile;

// One korvel-nb run: its exit status, standard output and standard error.
struct NbRun {
    int status = -1;
    std::string out, err, out_file;
    // jq's compact answer for a filter over the JSON document, no newline.
    std::string Jq(const std::string &filter) const {
        std::string answer = netlab::Shell("jq -c " + netlab::Quote(filter) + " " + out_file + " 2>&1");
        while (!answer.empty() && answer.back() == '\n') answer.pop_back();
        return answer;
    }
};

std::string Files(const std::string &tag) {
    static int counter = 0;
    return lab->state() + "/nb-" + std::to_string(++counter) + "-" + tag;
}

NbRun Nb(const std::string &args) {
    NbRun run;
    const std::string base = Files("run");
    run.out_file = base + ".out";
    lab->Exec(kKorvelHost,
              std::string(KORVEL_NB) + " --lana 1 " + args + " >" + run.out_file + " 2>" + base + ".err",
              &run.status);
    run.out = ReadFile(run.out_file);
    run.err = ReadFile(base + ".err");
    return run;
}

// korvel-nb in the background; Wait() sends nothing, Interrupt() sends SIGINT.
class Background {
public:
    explicit Background(const std::string &args) : base_(Files("bg")) {
        const std::string pid = lab->Exec(kKorvelHost, std::string(KORVEL_NB) + " --lana 1 " + args + " >" +
                                                           base_ + ".out 2>" + base_ + ".err & echo $!");
        pid_ = std::stoi(pid);
    }
    ~Background() {
        if (Running()) ::kill(pid_, SIGKILL);
    }
    bool Running() const {
        return ::kill(pid_, 0) == 0 && !Contains(ReadFile("/proc/" + std::to_string(pid_) + "/stat"), ") Z");
    }
    bool WaitFor(const std::string &text) const {
        for (int i = 0; i < 100 && !Contains(Out(), text); ++i) std::this_thread::sleep_for(100ms);
        return Contains(Out(), text);
    }
    bool Wait() const {
        for (int i = 0; i < 300 && Running(); ++i) std::this_thread::sleep_for(100ms);
        return !Running();
    }
    void Interrupt() const { ::kill(pid_, SIGINT); }
    std::string Out() const { return ReadFile(base_ + ".out"); }
    std::string Err() const { return ReadFile(base_ + ".err"); }
    NbRun Result() const { return {0, Out(), Err(), base_ + ".out"}; }

private:
    std::string base_;
    int pid_ = 0;
};

std::string Nmblookup(const std::string &args) {
    return lab->Exec(kToolHost, "nmblookup -s " + lab->ClientConf() + " " + args);
}

class KorvelNbInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lab = new netlab::Lab(std::string(KORVEL_SOURCE_DIR) + "/tools/netlab", "kc");
        if (!lab->Start(3, &lab_problem)) return;
        lab->StartSamba(kSambaHost, "SAMBA1", &lab_problem);
    }
    static void TearDownTestSuite() {
        delete lab;
        lab = nullptr;
    }
    void SetUp() override {
        if (!lab_problem.empty()) KORVEL_SKIP_WITHOUT_LAB(lab_problem);
    }
};

TEST_F(KorvelNbInterop, LanasAndStatusByNameAddressAndAdapterAddress) {
    const NbRun lanas = Nb("--json lanas");
    EXPECT_EQ(lanas.status, 0) << lanas.err;
    EXPECT_EQ(lanas.Jq(".lanas[1] | [.interface, .address, .name_port, .adapter_address]"),
              "[\"eth0\",\"" + netlab::Lab::Address(kKorvelHost) + "\",137,\"02:4E:42:00:00:02\"]");

    // No neighbour entry yet: the adapter address is found by asking around.
    lab->Exec(kKorvelHost, "ip neigh flush all");
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

    const std::string capture = Files("hold.pcapng");
    lab->Run("capture-start " + capture + " udp port 137");
    Background hold("--json hold KORVEL1 KORVEL2");
    std::this_thread::sleep_for(1500ms);  // the registrations' broadcasts
    const std::string seen = Nmblookup("-B " + netlab::Lab::Broadcast() + " 'KORVEL2#20'");
    EXPECT_TRUE(Contains(seen, netlab::Lab::Address(kKorvelHost) + " KORVEL2<20>")) << seen << hold.Err();
    hold.Interrupt();
    ASSERT_TRUE(hold.Wait());
    std::this_thread::sleep_for(300ms);
    lab->Run("capture-stop");

    const NbRun result = hold.Result();
    EXPECT_EQ(result.Jq("[.exit_status, .ended_by, [.names[].name]]"),
              "[0,\"interrupt\",[\"KORVEL1<20>\",\"KORVEL2<20>\"]]")
        << result.out << result.err;
    const std::string releases = netlab::Shell(
        "tshark -n -r " + capture + " -Y " +
        netlab::Quote("ip.src==" + netlab::Lab::Address(kKorvelHost) + " && nbns.flags.opcode == 6") +
        " -T fields -e nbns.name");
    EXPECT_TRUE(Contains(releases, "KORVEL1<20>")) << releases;
    EXPECT_TRUE(Contains(releases, "KORVEL2<20>")) << releases;
}

TEST_F(KorvelNbInterop, ListenCompletedBySmbclient) {
    Background listen("--json listen KORVEL --idle 2");
    // The listen is posted as soon as the name is registered.
    bool registered = false;
    for (int i = 0; i < 40 && !registered; ++i)
        registered = Contains(Nmblookup("-B " + netlab::Lab::Broadcast() + " 'KORVEL#20'"), " KORVEL<20>");
    ASSERT_TRUE(registered) << listen.Err();
    const std::string client =
        lab->Exec(kToolHost, "timeout 30 smbclient -s " + lab->ClientConf() + " -L KORVEL -p 139 -N");
    ASSERT_TRUE(listen.Wait()) << listen.Err();
    const NbRun result = listen.Result();
    EXPECT_EQ(result.Jq(".exit_status"), "0") << result.err << client;
    // smbclient's first session message is its SMB1 NEGOTIATE.
    EXPECT_EQ(result.Jq(".sessions[0].messages[0].hex[0:10]"), "\"ff534d4272\"") << result.out;
    EXPECT_EQ(result.Jq(".sessions[0] | [.ended, .hangup]"), "[\"idle\",\"NRC_GOODRET\"]") << result.out;
}

// SMB1 NEGOTIATE offering NT LM 0.12 and the SMB2 dialects, so that smbd
// answers with an SMB2 NEGOTIATE response.
std::string SmbNegotiate() {
    std::string packet = {'\xFF', 'S', 'M', 'B', 0x72, 0, 0, 0, 0, 0x18, 0x01, '\xC8'};
    packet.resize(32, '\0');
    packet[26] = '\xFF';
    packet[27] = '\xFE';
    std::string dialects;
    for (const char *dialect : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"})
        dialects += '\x02' + std::string(dialect) + '\0';
    packet += '\0';
    packet += static_cast<char>(dialects.size());
    packet += '\0';
    return packet + dialects;
}

TEST_F(KorvelNbInterop, CallSmbdSendsAFileAndReadsTheReplyInPieces) {
    const std::string request = Files("negotiate.bin");
    std::ofstream(request, std::ios::binary) << SmbNegotiate();
    const NbRun run = Nb("--json call SAMBA1 --as KORVEL3 --file " + request + " --receive --buffer 64");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Jq("[.sent, .received.hex[0:8], .hangup]"),
              "[" + std::to_string(SmbNegotiate().size()) + ",\"fe534d42\",\"NRC_GOODRET\"]")
        << run.out;
    // NRC_INCOMP for every full piece, then NRC_GOODRET with what is left.
    EXPECT_EQ(run.Jq("[.received.pieces[:-1][] | select(.rc != \"NRC_INCOMP\" or .length != 64)] | length"),
              "0");
    EXPECT_EQ(run.Jq(".received.pieces[-1].rc"), "\"NRC_GOODRET\"");
    EXPECT_EQ(run.Jq("([.received.pieces[].length] | add) == .received.length"), "true");

    const NbRun nobody = Nb("call NOBODY --send hello");
    EXPECT_EQ(nobody.status, 3);
    EXPECT_TRUE(Contains(nobody.err, "NRC_NOCALL (0x14)")) << nobody.err;
}

TEST_F(KorvelNbInterop, ScanOfTheLabFindsWhatNbtscanFinds) {
    const NbRun scan = Nb("--json scan 198.18.137.0/24");
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(
        scan.Jq("[.hosts[] | [.address, .name, .group, .adapter_address]]"),
        "[[\"" + netlab::Lab::Address(kSambaHost) + "\",\"SAMBA1<00>\",\"LAB<00>\",\"00:00:00:00:00:00\"]]");
    const NbRun text = Nb("scan 198.18.137.0/24 --timeout 1");
    EXPECT_TRUE(Contains(text.out, netlab::Lab::Address(kSambaHost) + "  SAMBA1<00>  LAB<00>")) << text.out;

    const std::string nbtscan =
        lab->Exec(kKorvelHost, "command -v nbtscan >/dev/null && nbtscan -q -s , 198.18.137.0/24");
    if (!Contains(nbtscan, ",")) GTEST_SKIP() << "nbtscan is not installed";
    EXPECT_TRUE(Contains(nbtscan, netlab::Lab::Address(kSambaHost) + ",SAMBA1")) << nbtscan;
    EXPECT_EQ(std::count(nbtscan.begin(), nbtscan.end(), '\n'), 1) << nbtscan;
}

}  // namespace
