// SPDX-License-Identifier: MIT
// korvel-nb between two of its own processes on LANA 0 (loopback), where no
// lab is needed: a name one holds is seen by another's status, and a call
// reaches a listen and hands it what it sent. Names carry this process's id,
// so runs side by side do not meet.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "korvel_nb_process.h"

namespace {

using korvel_nb_test::ConfigHome;
using korvel_nb_test::Describe;
using korvel_nb_test::KorvelNb;
using std::chrono::seconds;

std::string Unique(const std::string &stem) {
    return stem + std::to_string(::getpid() % 1000000);
}

bool Has(const std::string &text, const std::string &piece) {
    return text.find(piece) != std::string::npos;
}

TEST(KorvelNbLoopback, StatusSeesANameHoldHoldsAndHoldReleasesItOnSigterm) {
    ConfigHome home;
    const std::string name = Unique("KNBHOLD");
    KorvelNb hold({"hold", name}, home);
    ASSERT_TRUE(hold.started());
    ASSERT_TRUE(hold.WaitForOutput("holding " + name + "<20>")) << hold.Err();

    KorvelNb status({"--timeout", "5", "status", name}, home);
    EXPECT_EQ(Describe(status.WaitUpTo(seconds(30))), "exit status 0") << status.Err();
    EXPECT_TRUE(Has(status.Out(), name + "<20>  ")) << status.Out();
    EXPECT_TRUE(Has(status.Out(), "registered")) << status.Out();

    hold.Signal(SIGTERM);
    EXPECT_EQ(Describe(hold.WaitUpTo(seconds(30))), "exit status 0") << hold.Err();
    EXPECT_TRUE(Has(hold.Out(), "released " + name + "<20>")) << hold.Out();
}

TEST(KorvelNbLoopback, ACallReachesAListenWithWhatItSends) {
    ConfigHome home;
    const std::string server = Unique("KNBLISTEN");
    const std::string client = Unique("KNBCALL");
    KorvelNb listen({"listen", server}, home);
    ASSERT_TRUE(listen.started());
    ASSERT_TRUE(listen.WaitForOutput("listening on " + server + "<20>")) << listen.Err();

    KorvelNb call({"call", server, "--as", client, "--send", "over loopback"}, home);
    EXPECT_EQ(Describe(call.WaitUpTo(seconds(30))), "exit status 0") << call.Err();
    EXPECT_TRUE(Has(call.Out(), "sent 13 bytes")) << call.Out();

    // One session (--count 1 by default): the listen ends with the hang-up.
    EXPECT_EQ(Describe(listen.WaitUpTo(seconds(30))), "exit status 0") << listen.Err();
    EXPECT_TRUE(Has(listen.Out(), "from " + client + "<20>")) << listen.Out();
    EXPECT_TRUE(Has(listen.Out(), "over loopback\n")) << listen.Out();
    EXPECT_TRUE(Has(listen.Out(), "ended (NRC_SCLOSED), 13 bytes")) << listen.Out();
}

}  // namespace
