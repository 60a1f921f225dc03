// SPDX-License-Identifier: MIT
// The datagram service against real peers in a lab of network namespaces:
// Samba's nmbd broadcasting its browser announcements to Korvel, Korvel
// nodes (korvel-nb runs) sending datagrams, fragmented ones too, to each
// other across the LAN, and tshark judging every datagram Korvel puts on
// the wire.
#include <gtest/gtest.h>

#include <string>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"

namespace {

// Host 1 runs Samba (SAMBA1, workgroup LAB), hosts 2 and 3 Korvel nodes.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kOtherKorvelHost = 3;

using netlab::Contains;
using netlab::NbBackground;

class DatagramInterop : public LabSuite {
protected:
    static void SetUpTestSuite() { StartLab("kd", 3); }
};

TEST_F(DatagramInterop, KorvelReceivesSambasBrowserAnnouncements) {
    // The workgroup's name first, so nmbd's first datagram finds it: its one
    // HOST ANNOUNCEMENT goes to LAB<1D> as it starts.
    NbBackground node(lab(), kKorvelHost, "--timeout 15 dgrecv LAB#1D --group");
    ASSERT_TRUE(node.WaitFor("receiving datagrams for group LAB<1D>")) << node.Err();
    ASSERT_TRUE(StartSamba(kSambaHost, "SAMBA1", kOtherKorvelHost)) << "nmbd did not start";
    EXPECT_TRUE(node.Wait()) << node.Out();
    // An SMB Trans to \MAILSLOT\BROWSE (the hex dump's character column).
    EXPECT_TRUE(Contains(node.Out(), "datagram of 132 bytes from SAMBA1<00>")) << node.Out() << node.Err();
    EXPECT_TRUE(Contains(node.Out(), ".SMB")) << node.Out();
    lab().Run("samba-stop " + std::to_string(kSambaHost));
}

TEST_F(DatagramInterop, DatagramsCrossTheLanAndDecodeInTshark) {
    LabCapture capture(lab(), "datagrams.pcapng", "udp port 138");
    ASSERT_EQ(capture.problem(), "");
    // Host 1's Samba is stopped by now; a Korvel node there takes the broadcast.
    NbBackground receiver(lab(), kOtherKorvelHost, "--timeout 10 dgrecv KORVELRX --count 2");
    NbBackground broadcasts(lab(), kSambaHost, "--timeout 10 dgrecv");
    ASSERT_TRUE(receiver.WaitFor("receiving datagrams for KORVELRX<20>")) << receiver.Err();
    ASSERT_TRUE(broadcasts.WaitFor("receiving broadcast datagrams")) << broadcasts.Err();
    const std::string full(512, 'x');
    for (const std::string &args : {"dgsend KORVELRX " + std::string(100, 'a'), "dgsend KORVELRX " + full,
                                    std::string("dgsend --broadcast hello")}) {
        const netlab::NbRun sent = netlab::RunNb(lab(), kKorvelHost, args + " --as KORVELTX");
        EXPECT_EQ(sent.status, 0) << args << sent.err;
    }
    ASSERT_TRUE(receiver.Wait()) << receiver.Err();
    EXPECT_TRUE(Contains(receiver.Out(), "datagram of 100 bytes from KORVELTX<20>\n" + std::string(100, 'a')))
        << receiver.Out() << receiver.Err();
    EXPECT_TRUE(Contains(receiver.Out(), "datagram of 512 bytes from KORVELTX<20>\n" + full + "\n"))
        << receiver.Out();
    ASSERT_TRUE(broadcasts.Wait()) << broadcasts.Err();
    capture.Stop();
    EXPECT_TRUE(Contains(broadcasts.Out(), "datagram of 5 bytes from KORVELTX<20>\nhello\n"))
        << broadcasts.Out() << broadcasts.Err() << capture.Tshark("udp");

    const std::string korvel = "ip.src==" + netlab::Lab::Address(kKorvelHost);
    const std::string listing = capture.Tshark(korvel);
    EXPECT_EQ(capture.Count(korvel + " && _ws.malformed"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && _ws.expert.severity >= warning"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && !nbdgm"), 0) << listing;
    EXPECT_EQ(capture.Count(korvel + " && nbdgm.type == 0x10"), 3) << listing;  // 100 bytes, 512 in two
    EXPECT_EQ(capture.Count(korvel + " && nbdgm.type == 0x12"), 1) << listing;
    EXPECT_EQ(capture.Count(korvel + " && nbdgm.next == 1"), 1) << listing;  // the first fragment of 512
}

}  // namespace
