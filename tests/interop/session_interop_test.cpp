// SPDX-License-Identifier: MIT
// The session service against Samba in a lab of network namespaces: korvel-nb,
// run inside a lab host, calls smbd and reads its SMB2 NEGOTIATE reply in
// 64-byte pieces, and smbclient's call completes a korvel-nb listen on '*'.
// tshark, capturing on the lab's bridge, must find every session packet well
// formed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"

namespace {

// Host 1 runs Samba (SAMBA1), host 2 the Korvel node, host 3 smbclient.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kToolHost = 3;

using netlab::Contains;
using netlab::NbRun;

// SMB1 NEGOTIATE offering NT LM 0.12 and the SMB2 dialects, so that smbd
// answers with an SMB2 NEGOTIATE response.
std::string SmbNegotiate() {
    std::string packet = {'\xFF', 'S', 'M', 'B', 0x72, 0, 0, 0, 0, 0x18, 0x01, '\xC8'};
    packet.resize(32, '\0');
    packet[26] = '\xFF';  // PID
    packet[27] = '\xFE';
    std::string dialects;
    for (const char *dialect : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"})
        dialects += '\x02' + std::string(dialect) + '\0';
    packet += '\0';  // word count
    packet += static_cast<char>(dialects.size());
    packet += '\0';
    return packet + dialects;
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
    const std::string request = lab().state() + "/negotiate.bin";
    std::ofstream(request, std::ios::binary) << SmbNegotiate();
    const NbRun run = netlab::RunNb(
        lab(), kKorvelHost, "--json call SAMBA1 --as KORVEL2 --file " + request + " --receive --buffer 64");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Jq("[.sent, .received.hex[0:8], .hangup]"),
              std::string("[") + std::to_string(SmbNegotiate().size()) +
                  ",\"fe534d42\",\"NRC_GOODRET\"]")  // an SMB2 header
        << run.out;
    // NRC_INCOMP for every full piece, then NRC_GOODRET with what is left.
    EXPECT_EQ(run.Jq("[.received.pieces[:-1][] | select(.rc != \"NRC_INCOMP\" or .length != 64)] | length"),
              "0")
        << run.out;
    EXPECT_EQ(run.Jq(".received.pieces | [length > 1, .[-1].rc]"), "[true,\"NRC_GOODRET\"]") << run.out;
    EXPECT_EQ(run.Jq("([.received.pieces[].length] | add) == .received.length"), "true");

    const std::string requests =
        capture.Tshark("nbss.type == 0x81", " -T fields -e nbss.called_name -e nbss.calling_name");
    EXPECT_TRUE(Contains(requests, "SAMBA1<20>")) << requests;
    EXPECT_TRUE(Contains(requests, "KORVEL2<20>")) << requests;
    EXPECT_EQ(capture.Tshark("nbss && _ws.malformed"), "");
    EXPECT_NE(capture.Tshark("nbss.type == 0x82"), "");

    const NbRun nobody = netlab::RunNb(lab(), kKorvelHost, "call NOBODY --send hello");
    EXPECT_EQ(nobody.status, 3);
    EXPECT_TRUE(Contains(nobody.err, "call NOBODY<20>: NRC_NOCALL (0x14)")) << nobody.err;
}

TEST_F(SessionInterop, SmbclientCompletesAListenOnAnyCaller) {
    LabCapture capture(lab(), "listen.pcapng", "tcp port 139");
    ASSERT_EQ(capture.problem(), "");
    netlab::NbBackground listen(lab(), kKorvelHost, "--json listen KORVEL --idle 2");
    // The listen is posted as soon as the name is registered.
    bool registered = false;
    for (int i = 0; i < 40 && !registered && listen.Running(); ++i)
        registered =
            Contains(Nmblookup(kToolHost, "-B " + netlab::Lab::Broadcast() + " 'KORVEL#20'"), " KORVEL<20>");
    ASSERT_TRUE(registered) << listen.Err();

    const std::string client =
        lab().Exec(kToolHost, "timeout 30 smbclient -s " + lab().ClientConf() + " -L KORVEL -p 139 -N");
    ASSERT_TRUE(listen.Wait()) << listen.Err();
    const NbRun result = listen.Result();
    EXPECT_EQ(result.Jq(".exit_status"), "0") << result.err << client;
    // smbclient's first session message is its SMB1 NEGOTIATE; then it waits
    // for an answer that never comes, and the listener hangs up.
    EXPECT_EQ(result.Jq(".sessions[0].messages[0].hex[0:10]"), "\"ff534d4272\"") << result.out;
    EXPECT_EQ(result.Jq(".sessions[0] | [.ended, .hangup]"), "[\"idle\",\"NRC_GOODRET\"]") << result.out;

    const std::string called = capture.Tshark("nbss.type == 0x81", " -T fields -e nbss.called_name");
    EXPECT_TRUE(Contains(called, "KORVEL<20>")) << called;
    EXPECT_EQ(capture.Tshark("nbss && _ws.malformed"), "");
    EXPECT_NE(capture.Tshark("nbss.type == 0x82"), "");
}

}  // namespace
