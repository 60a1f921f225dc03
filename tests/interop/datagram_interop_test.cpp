// The datagram service against real peers in a lab of network namespaces:
// Samba's nmbd broadcasting its browser announcements to Korvel, Korvel
// nodes sending datagrams (fragmented ones too) to each other across the
// LAN, and tshark judging every datagram Korvel puts on the wire.
#include <gtest/gtest.h>

#include "background_node.h"
#include "lab_capture.h"
#include "lab_suite.h"

namespace {

// Host 1 runs Samba (SAMBA1, workgroup LAB), hosts 2 and 3 Korvel nodes.
constexpr int kSambaHost = 1;
constexpr int kKorvelHost = 2;
constexpr int kOtherKorvelHost = 3;

using netlab::Contains;

class DatagramInterop : public LabSuite {
protected:
    static void SetUpTestSuite() { StartLab("kd", 3); }
};

TEST_F(DatagramInterop, KorvelReceivesSambasBrowserAnnouncements) {
    // The workgroup's names first, so nmbd's first datagram finds them: its
    // one HOST ANNOUNCEMENT goes to LAB<1D> as it starts.
    BackgroundNode node(kKorvelHost, "addgroup LAB#1D addgroup LAB#1E ready dgrecv 12");
    ASSERT_TRUE(node.ready()) << node.Output();
    ASSERT_TRUE(Contains(node.Output(), "addgroup LAB#1D 0x00")) << node.Output();
    ASSERT_TRUE(StartSamba(kSambaHost, "SAMBA1", kOtherKorvelHost)) << "nmbd did not start";
    EXPECT_TRUE(node.WaitFor("dgram 0x00 from=SAMBA1         <00> len=132 op=0x01", 10)) << node.Output();
    EXPECT_TRUE(node.WaitFor("dgrecv end cancel=0x00 0x0B", 15)) << node.Output();
    lab().Run("samba-stop " + std::to_string(kSambaHost));
}

TEST_F(DatagramInterop, DatagramsCrossTheLanAndDecodeInTshark) {
    LabCapture capture(lab(), "datagrams.pcapng", "udp port 138");
    ASSERT_EQ(capture.problem(), "");
    BackgroundNode receiver(kOtherKorvelHost, "add KORVELRX ready dgrecv 6");
    ASSERT_TRUE(receiver.ready()) << receiver.Output();
    {
        BackgroundNode sender(kKorvelHost,
                              "add KORVELTX dgsend KORVELRX 100 dgsend KORVELRX 512 dgsendbc 20");
        ASSERT_TRUE(sender.ready()) << sender.Output();
        EXPECT_TRUE(Contains(sender.Output(), "dgsend 512 0x00")) << sender.Output();
    }
    EXPECT_TRUE(receiver.WaitFor("dgram 0x00 from=KORVELTX       <20> len=100", 5)) << receiver.Output();
    EXPECT_TRUE(receiver.WaitFor("dgram 0x00 from=KORVELTX       <20> len=512", 5)) << receiver.Output();
    EXPECT_TRUE(receiver.WaitFor("dgrecv end", 8)) << receiver.Output();
    capture.Stop();

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
