// The session service against Samba in a lab of network namespaces: a
// Korvel node (session_lab_node, run inside a lab host) calls smbd and reads
// its SMB2 NEGOTIATE reply in 64-byte pieces, and smbclient's call completes
// a Korvel LISTEN on '*'. tshark, capturing on the lab's bridge, must find
// every session packet well formed.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "lab_capture.h"
#include "lab_suite.h"

using namespace std::chrono_literals;

namespace {

// Host 1 runs Samba (SAMBA1), host 2 the Korvel node, host 3 smbclient.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kToolHost = 3;

using netlab::Contains;
using netlab::ReadFile;

std::vector<std::string> Lines(const std::string &text, const std::string &prefix) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

class SessionInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (StartLab("ks", 3)) StartSamba(kSambaHost, "SAMBA1", kToolHost);
    }
};

TEST_F(SessionInterop, CallSmbdAndReadItsNegotiateReplyIn64BytePieces) {
    LabCapture capture(lab(), "call.pcapng", "tcp port 139");
    ASSERT_EQ(capture.problem(), "");
    const std::string out =
        lab().Exec(kKorvelHost, std::string(SESSION_LAB_NODE) + " add KORVEL2 call-smb KORVEL2 SAMBA1");
    ASSERT_TRUE(Contains(out, "add KORVEL2 0x00")) << out;
    ASSERT_TRUE(Contains(out, "call 0x00")) << out;
    EXPECT_TRUE(Contains(out, "send 0x00")) << out;

    // INCOMP for every full piece, then GOODRET with what is left.
    const auto receives = Lines(out, "recv ");
    ASSERT_GE(receives.size(), 2u) << out;
    for (std::size_t i = 0; i + 1 < receives.size(); ++i) EXPECT_EQ(receives[i], "recv 0x06 64") << out;
    EXPECT_EQ(receives.back().rfind("recv 0x00 ", 0), 0u) << out;
    const auto reply = Lines(out, "reply ");
    ASSERT_EQ(reply.size(), 1u) << out;
    EXPECT_TRUE(Contains(reply[0], " fe534d42")) << out;  // an SMB2 header
    const std::size_t total = std::stoul(reply[0].substr(6));
    EXPECT_EQ(total, 64 * (receives.size() - 1) + std::stoul(receives.back().substr(10))) << out;
    EXPECT_TRUE(Contains(out, "hangup 0x00")) << out;

    const std::string requests =
        capture.Tshark("nbss.type == 0x81", " -T fields -e nbss.called_name -e nbss.calling_name");
    EXPECT_TRUE(Contains(requests, "SAMBA1<20>")) << requests;
    EXPECT_TRUE(Contains(requests, "KORVEL2<20>")) << requests;
    EXPECT_EQ(capture.Tshark("nbss && _ws.malformed"), "");
    EXPECT_NE(capture.Tshark("nbss.type == 0x82"), "");
}

TEST_F(SessionInterop, SmbclientCompletesAListenOnAnyCaller) {
    LabCapture capture(lab(), "listen.pcapng", "tcp port 139");
    ASSERT_EQ(capture.problem(), "");
    const std::string output = lab().state() + "/listen.out";
    lab().Exec(kKorvelHost,
               std::string(SESSION_LAB_NODE) + " add KORVEL listen KORVEL >" + output + " 2>&1 &");
    for (int i = 0; i < 100 && !Contains(ReadFile(output), "listening"); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(Contains(ReadFile(output), "add KORVEL 0x00")) << ReadFile(output);

    const std::string client =
        lab().Exec(kToolHost, "timeout 30 smbclient -s " + lab().ClientConf() + " -L KORVEL -p 139 -N");
    for (int i = 0; i < 100 && !Contains(ReadFile(output), "done"); ++i) std::this_thread::sleep_for(100ms);
    const std::string out = ReadFile(output);
    ASSERT_TRUE(Contains(out, "listen 0x00")) << out << client;
    // smbclient's first session message is its SMB1 NEGOTIATE.
    const auto receives = Lines(out, "recv ");
    ASSERT_EQ(receives.size(), 1u) << out;
    EXPECT_EQ(receives[0].rfind("recv 0x00 ", 0), 0u) << out;
    EXPECT_TRUE(Contains(receives[0], " ff534d4272")) << out;
    EXPECT_TRUE(Contains(out, "hangup 0x00")) << out;

    const std::string called = capture.Tshark("nbss.type == 0x81", " -T fields -e nbss.called_name");
    EXPECT_TRUE(Contains(called, "KORVEL<20>")) << called;
    EXPECT_EQ(capture.Tshark("nbss && _ws.malformed"), "");
    EXPECT_NE(capture.Tshark("nbss.type == 0x82"), "");
}

}  // namespace
