// SPDX-License-Identifier: MIT
// fork(): the child starts with no provider state and may reset and use the
// provider afresh, while the parent's sockets, pending blocks and network
// thread go on as if nothing happened. A child that exits, even with blocks
// of its own pending, ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "loopback_node.h"
#include "nb30.h"

#ifdef __SANITIZE_ADDRESS__
namespace {
bool in_forked_child = false;
}  // namespace
// Asked at exit whether to look for leaks: not in the forked child, where the
// parent's network thread is gone and what only its stack and thread-locals
// pointed to (Asio's recycled handler memory) would read as leaked.
extern "C" [[gnu::visibility("default")]] int __lsan_is_turned_off() {
    return in_forked_child;
}
#endif

namespace nbt {
namespace {

using namespace std::chrono_literals;
using testing::AsyncNcb;
using testing::LoopbackNode;
using testing::MakeNcb;
using testing::ResetLana;
using testing::SetName;

// Leaves an asynchronous LISTEN pending in a block on a stack frame that is
// gone once this returns, as a program does that returns from main.
[[gnu::noinline]] UCHAR LeaveAListenPending() {
    NCB listen = MakeNcb(NCBLISTEN | ASYNCH);
    SetName(listen.ncb_name, "FORKCHILD");
    SetName(listen.ncb_callname, "*");
    return Netbios(&listen);
}

// The child's part: exit code 0 when all went as it should.
[[noreturn]] void RunChild(Provider &inherited) {
#ifdef __SANITIZE_ADDRESS__
    in_forked_child = true;
#endif
    // Its copy of the parent's provider has no LANA reset.
    NCB status = MakeNcb(NCBASTAT);
    SetName(status.ncb_callname, "*");
    UCHAR buffer[600];
    status.ncb_buffer = buffer;
    status.ncb_length = sizeof buffer;
    if (inherited.Netbios(&status) != NRC_ENVNOTDEF) _exit(10);
    // It resets its copy and uses it; the same through Netbios().
    if (ResetLana(inherited) != NRC_GOODRET) _exit(11);
    NCB reset = MakeNcb(NCBRESET);
    if (Netbios(&reset) != NRC_GOODRET) _exit(12);
    NCB add = MakeNcb(NCBADDNAME);
    SetName(add.ncb_name, "FORKCHILD");
    if (Netbios(&add) != NRC_GOODRET) _exit(13);
    if (LeaveAListenPending() != NRC_GOODRET) _exit(14);
    std::exit(0);  // static teardown, with the LISTEN pending
}

int WaitBounded(pid_t child, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return status;
}

TEST(ProviderFork, ChildStartsAfreshAndTheParentGoesOn) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer cannot follow a child that starts threads after a fork";
#endif
    LoopbackNode parent;
    ASSERT_EQ(parent.AddName("FORKPARENT"), NRC_GOODRET);
    auto listen = parent.Listen("FORKPARENT", "*");
    ASSERT_EQ(listen->ncb.ncb_retcode, NRC_PENDING);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) RunChild(parent.provider);
    const int status = WaitBounded(child, 20s);
    ASSERT_NE(status, -1) << "the child did not end";
    EXPECT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The parent's name socket still answers, and its pending LISTEN takes a call.
    LoopbackNode caller;
    ASSERT_EQ(caller.AddName("FORKCALLER"), NRC_GOODRET);
    EXPECT_EQ(caller.Call("FORKCALLER", "FORKPARENT"), NRC_GOODRET);
    EXPECT_EQ(listen->Wait(), NRC_GOODRET);
}

}  // namespace
}  // namespace nbt
