// SPDX-License-Identifier: MIT
// Korvel's provider under faults on the wire: every port of the lab's
// bridge loses 20 % of what it sends to its host, then holds each packet
// 50 ms +- 40 ms (so that packets overtake each other), then sends 5 % of
// packets twice. Under each fault, at once on separate hosts: name
// registration and defence, a session transfer compared byte for byte,
// registration and refresh with a WINS server (Samba), and a link that goes
// down for 5 s under a pending CALL and a pending RECV. What each costs in
// wall time is printed as a table.
//
// The kernel here has no netem qdisc, so loss and duplication are nftables
// rules on each port's egress hook (where netem would sit), and the delay is
// an NFQUEUE rule on the bridge's forwarding path served by wire_delay.
// Loss makes some protocol outcomes a matter of chance (three tries of a
// request whose answer also crosses a lossy port miss about 5 % of the
// time), so such steps are tried again, and counted; a wrong answer never is.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "korvel_nb_run.h"
#include "lab_guard.h"
#include "lab_suite.h"

using namespace std::chrono_literals;

namespace {

// One pair of hosts (or more) per scenario, so that a fault's scenarios run
// at the same time without sharing a node.
constexpr int kHolder = 1, kClaimant = 2;                          // names
constexpr int kSender = 3, kReceiver = 4;                          // transfer
constexpr int kWinsClient = 5;                                     // WINS
constexpr int kReceiveCaller = 6, kLateCaller = 7, kFlapping = 8;  // link down
constexpr int kWinsHost = 9;
constexpr int kHosts = 9;
// Tries of a step that loss alone can defeat.
constexpr int kTries = 4;

using Clock = std::chrono::steady_clock;
using netlab::Contains;
using netlab::NbBackground;
using netlab::NbRun;
using netlab::ReadFile;

struct Fault {
    std::string name;
    std::size_t transfer_bytes;
};

// What one scenario found: failures (empty: it passed), what it saw, and
// what it cost.
struct Outcome {
    explicit Outcome(std::string name) : scenario(std::move(name)) {}
    std::string scenario;
    std::vector<std::string> failures;
    std::string seen;
    double seconds = 0;
    int tries = 1;

    void Fail(const std::string &why) { failures.push_back(why); }
};

struct Row {
    std::string fault;
    Outcome outcome;
};
std::vector<Row> &Table() {
    static std::vector<Row> rows;
    return rows;
}

// korvel-nb's verdict from its exit status and standard error: "NRC_GOODRET",
// or the failed step and its code ("receive NRC_SCLOSED").
std::string Verdict(const NbRun &run) {
    // "korvel-nb call: receive: NRC_SCLOSED (0x0A): the session was closed"
    const std::size_t code = run.err.find(": NRC_");
    if (code != std::string::npos) {
        const std::size_t what = run.err.rfind(": ", code - 1);
        const std::size_t from = what == std::string::npos ? 0 : what + 2;
        return run.err.substr(from, code - from) + " " +
               run.err.substr(code + 2, run.err.find(' ', code + 2) - code - 2);
    }
    // A run in the background has no exit status: it ended well when it
    // said nothing on standard error.
    if (run.status == 0 || (run.status < 0 && run.err.empty())) return "NRC_GOODRET";
    return "exit " + std::to_string(run.status) + " " + run.err;
}

// A bound on a korvel-nb run in the foreground: a hang becomes a failure,
// not a stuck suite. (Those in the background are watched with deadlines.)
std::string Bounded(int seconds) {
    return "timeout -s KILL " + std::to_string(seconds);
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class NetemInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        for (const char *tool : {"nft", "iptables"})
            if (netlab::Shell(std::string("command -v ") + tool).empty())
                return SkipAll(std::string(tool) + " is not installed (tools/install-deps.sh)");
        if (!StartLab("ke", kHosts)) return;
        lab_up_ = true;
        // One frame per packet, as on a wire: else TCP hands the bridge
        // 64 KiB bursts, and a fault drops or doubles a burst at a time.
        // Every host knows every other's MAC: ARP lost on the way would
        // only add the kernel's 1 s retries to what the provider sees.
        // The transfer's pair waits at most 3 s between retransmissions
        // (the kernel's default is 120 s): under 20 % loss a run of lost
        // segments and ACKs otherwise stalls it for minutes, which says
        // nothing about the provider. A closed socket still delivering what
        // was sent gets 15 tries: without a number of its own, one whose
        // wait has reached that maximum is given up at once, its bytes and
        // FIN never sent. Both skipped where the kernel lacks them.
        for (int host = 1; host <= kHosts; ++host) {
            std::string commands = "ip link set eth0 gso_max_segs 1";
            if (host == kSender || host == kReceiver)
                commands +=
                    "; sysctl -qw net.ipv4.tcp_rto_max_ms=3000 net.ipv4.tcp_orphan_retries=15 "
                    "2>/dev/null || true";
            for (int peer = 1; peer <= kHosts; ++peer)
                if (peer != host)
                    commands += "; ip neigh replace " + netlab::Lab::Address(peer) + " lladdr " +
                                netlab::Lab::Mac(peer) + " nud permanent dev eth0";
            lab().Exec(host, commands);
        }
        int status = 0;
        const std::string server =
            lab().Run("samba " + std::to_string(kWinsHost) + " WINSSRV", &status,
                      "NETLAB_SMB_LOGLEVEL=3 NETLAB_SMB_EXTRA=" +
                          netlab::Quote("wins support = yes\nmin wins ttl = 6\nmax wins ttl = 12"));
        if (status != 0) return SkipAll("WINS server: " + server);
        for (int i = 0; i < 60 && !WinsKnows("WINSSRV", Wins()); ++i) std::this_thread::sleep_for(250ms);
        if (!WinsKnows("WINSSRV", Wins())) return SkipAll("the WINS server never listed itself");
    }
    static void TearDownTestSuite() {
        PrintTable();
        lab_up_ = false;
        LabSuite::TearDownTestSuite();
    }
    void TearDown() override { ClearFault(); }

    static std::string Wins() { return netlab::Lab::Address(kWinsHost); }
    static std::string PNode() { return "--node-type p --wins " + Wins() + " "; }
    // Asked from the server's own host, so that no fault stands between.
    static bool WinsKnows(const std::string &name, const std::string &address) {
        return Contains(Nmblookup(kWinsHost, "-U " + Wins() + " --recursion '" + name + "#20'"),
                        address + " " + name + "<20>");
    }
    static std::string Lan() { return lab().prefix() + "-lan"; }
    static std::string InLan(const std::string &command, int *status = nullptr) {
        return netlab::Shell("ip netns exec " + Lan() + " " + command, status);
    }

    // ---- the faults ------------------------------------------------------

    // An nftables statement on the egress of every host's port on the bridge.
    static std::string OnEveryPort(const std::string &statement) {
        std::string rules = "table netdev fault {\n";
        for (int host = 1; host <= kHosts; ++host) {
            const std::string port = "h" + std::to_string(host);
            std::string rule = statement;
            if (auto at = rule.find("PORT"); at != std::string::npos) rule.replace(at, 4, port);
            rules += " chain " + port + " { type filter hook egress device \"" + port + "\" priority 0; " +
                     rule + "; }\n";
        }
        return rules + "}\n";
    }
    static std::string ApplyRules(const std::string &rules) {
        const std::string file = lab().state() + "/fault.nft";
        std::ofstream(file) << rules;
        int status = 0;
        const std::string out = InLan("nft -f " + file, &status);
        return status == 0 ? "" : "nft: " + out;
    }
    // Empty when the fault is on; what went wrong otherwise.
    static std::string ApplyFault(const std::string &name) {
        if (name == "loss 20%") return ApplyRules(OnEveryPort("numgen random mod 100 < 20 counter drop"));
        if (name == "dup 5%")
            return ApplyRules(OnEveryPort("numgen random mod 100 < 5 counter dup to \"PORT\""));
#ifndef WIRE_DELAY
        return "wire_delay was not built (libnetfilter-queue-dev is missing)";
#else
        // The delayer first: without it a queued packet is dropped.
        const std::string log = lab().state() + "/wire_delay.log";
        delayer_ = std::atoi(
            InLan(std::string(WIRE_DELAY) + " 0 50 40 >/dev/null 2>" + log + " </dev/null & echo $!")
                .c_str());
        for (int i = 0; i < 50 && !Contains(ReadFile(log), "ready"); ++i) std::this_thread::sleep_for(100ms);
        if (!Contains(ReadFile(log), "ready")) return "wire_delay: " + ReadFile(log);
        int status = 0;
        const std::string out = InLan(
            "sh -c 'sysctl -qw net.bridge.bridge-nf-call-iptables=1 && "
            "iptables -A FORWARD -j NFQUEUE --queue-num 0'",
            &status);
        return status == 0 ? "" : "iptables: " + out;
#endif
    }
    // Ends the fault; returns how many packets it dropped, doubled or held.
    static long ClearFault() {
        if (!lab_up_) return 0;
        long hit = 0;
        std::istringstream rules(InLan("nft list table netdev fault"));
        for (std::string word; rules >> word;)
            if (word == "packets" && rules >> word) hit += std::atol(word.c_str());
        InLan("nft delete table netdev fault");
        InLan("iptables -F FORWARD");
        if (delayer_ > 0) {
            ::kill(delayer_, SIGTERM);
            for (int i = 0; i < 50 && ::kill(delayer_, 0) == 0; ++i) std::this_thread::sleep_for(100ms);
            delayer_ = 0;
            std::istringstream log(ReadFile(lab().state() + "/wire_delay.log"));
            for (std::string word; log >> word;)
                if (word == "held" && log >> word) hit += std::atol(word.c_str());
        }
        return hit;
    }

    // ---- the scenarios ---------------------------------------------------

    // A second node's ADDNAME of a name Korvel holds is refused; its own
    // name is granted; the holder keeps its name throughout.
    static Outcome Names() {
        Outcome outcome("names");
        NbBackground holder(lab(), kHolder, "hold KORVELA");
        if (!holder.WaitFor("holding KORVELA<20>")) {
            outcome.Fail("the holder never held KORVELA: " + holder.Err());
            return outcome;
        }
        const auto start = Clock::now();
        // A refusal that loss swallowed three times over grants the name:
        // the protocol's limit, so try again; any other answer is wrong.
        std::string refused;
        for (outcome.tries = 1;; ++outcome.tries) {
            const NbRun claim = netlab::RunNb(lab(), kClaimant, "--timeout 0 hold KORVELA", Bounded(60));
            refused = Verdict(claim);
            if (claim.status != 0 || outcome.tries == kTries) break;
        }
        if (refused != "add KORVELA<20> NRC_INUSE") outcome.Fail("the claimant's ADDNAME gave " + refused);
        const NbRun own = netlab::RunNb(lab(), kClaimant, "--timeout 0 hold KORVELB", Bounded(60));
        if (own.status != 0) outcome.Fail("the claimant's own ADDNAME gave " + Verdict(own));
        outcome.seconds = Since(start);
        if (Contains(holder.Out(), "conflict")) outcome.Fail("the holder saw a conflict: " + holder.Out());
        if (!holder.Interrupt()) outcome.Fail("the holder did not end on Ctrl-C");
        outcome.seen = "claim: " + refused + "; own: " + Verdict(own);
        return outcome;
    }

    // A file called across, stored by the listener, compared byte for byte.
    static Outcome Transfer(std::size_t bytes) {
        Outcome outcome("transfer " + std::to_string(bytes / 1024) + " KiB");
        const std::string sent = lab().state() + "/sent.bin", received = lab().state() + "/received.bin";
        netlab::Shell("head -c " + std::to_string(bytes) + " /dev/urandom >" + sent + "; rm -f " + received);
        NbBackground listener(lab(), kReceiver, "listen KORVELT --out " + received);
        if (!listener.WaitFor("listening on KORVELT<20>")) {
            outcome.Fail("the listener never listened: " + listener.Err());
            return outcome;
        }
        const auto start = Clock::now();
        NbRun call;
        // Three unanswered name queries: the name was not found (NRC_NOCALL).
        for (outcome.tries = 1;; ++outcome.tries) {
            call = netlab::RunNb(lab(), kSender, "call KORVELT --file " + sent, Bounded(200));
            if (call.status != 3 || outcome.tries == kTries) break;
        }
        outcome.seen = "call: " + Verdict(call);
        if (call.status != 0) outcome.Fail("the call gave " + Verdict(call));
        if (!listener.Wait()) outcome.Fail("the listener did not end");
        outcome.seconds = Since(start);
        int same = -1;
        netlab::Shell("cmp " + sent + " " + received, &same);
        if (same != 0)
            outcome.Fail("what arrived differs: " +
                         netlab::Shell("cmp -l " + sent + " " + received + " | head -3; ls -l " + received));
        return outcome;
    }

    // A P-node's name registered with the WINS server and refreshed there.
    static Outcome WinsRegistration() {
        Outcome outcome("WINS register+refresh");
        const std::string log_file = lab().state() + "/samba-h" + std::to_string(kWinsHost) + "/log/log.nmbd";
        const auto Refreshes = [&] {
            const std::string log = ReadFile(log_file);
            std::size_t count = 0;
            for (auto at = log.find("refresh for name KORVELW<20>"); at != std::string::npos;
                 at = log.find("refresh for name KORVELW<20>", at + 1))
                ++count;
            return count;
        };
        const std::size_t refreshed_before = Refreshes();
        const auto start = Clock::now();
        std::unique_ptr<NbBackground> holder;
        // Three unanswered registrations: NRC_CMDTMO for a P-node.
        for (outcome.tries = 1;; ++outcome.tries) {
            holder = std::make_unique<NbBackground>(lab(), kWinsClient, PNode() + "hold KORVELW");
            if (holder->WaitFor("holding KORVELW<20>") || holder->Running() || outcome.tries == kTries) break;
        }
        if (!Contains(holder->Out(), "holding KORVELW<20>")) {
            outcome.Fail("never registered: " + holder->Err());
            return outcome;
        }
        const double registered = Since(start);
        if (!WinsKnows("KORVELW", netlab::Lab::Address(kWinsClient)))
            outcome.Fail("the server does not list it");
        // Granted 6 to 12 s, so refreshed within 6 s; a refresh lost three
        // times over is tried again as a registration a little later.
        bool refreshed = false;
        for (int i = 0; i < 100 && !refreshed; ++i) {
            std::this_thread::sleep_for(200ms);
            refreshed = Refreshes() > refreshed_before;
        }
        if (!refreshed) outcome.Fail("no refresh reached the server in 20 s");
        outcome.seconds = Since(start);
        std::ostringstream seen;
        seen << std::fixed << std::setprecision(1) << "registered after " << registered
             << " s, refreshed after " << outcome.seconds << " s";
        outcome.seen = seen.str();
        if (!WinsKnows("KORVELW", netlab::Lab::Address(kWinsClient))) outcome.Fail("the server forgot it");
        if (!holder->Interrupt()) outcome.Fail("the holder did not end on Ctrl-C");
        return outcome;
    }

    // The listener's port goes down for 5 s while a caller waits in RECV on
    // a session with it, and a CALL to it starts: both end with a code.
    static Outcome LinkDown() {
        Outcome outcome("link down 5 s");
        const std::string port = "h" + std::to_string(kFlapping);
        for (outcome.tries = 1; outcome.tries <= kTries; ++outcome.tries) {
            // Session 1 idles out (3 s) while the link is down; session 2
            // is the late caller's.
            NbBackground listener(lab(), kFlapping,
                                  PNode() + "--timeout 40 listen KORVELD --count 2 --idle 3");
            if (!listener.WaitFor("listening on KORVELD<20>")) continue;  // a lost registration
            NbBackground receiver(lab(), kReceiveCaller, PNode() + "call KORVELD --send hello --receive");
            if (!receiver.WaitFor("sent 5 bytes")) continue;  // a lost query

            const auto down = Clock::now();
            InLan("ip link set " + port + " down");
            // An H-node: its own name falls back to a broadcast registration
            // when loss keeps the server from answering, so its CALL is made.
            NbBackground late(lab(), kLateCaller,
                              "--node-type h --wins " + Wins() + " call KORVELD --send late");
            std::this_thread::sleep_until(down + 5s);
            InLan("ip link set " + port + " up");

            // The RECV and the CALL must each end within 120 s of the link
            // going down (a FIN that loss keeps taking is sent again at 6,
            // 9, 16, 28, 54 s); the listener, its second session done or
            // never come, is then let go.
            std::ostringstream seen;
            seen << std::fixed << std::setprecision(1);
            const std::pair<const NbBackground *, std::string> pending[] = {{&receiver, "RECV"},
                                                                            {&late, "CALL"}};
            std::vector<double> ended(std::size(pending), -1);
            for (bool waiting = true; waiting && Clock::now() < down + 120s;
                 std::this_thread::sleep_for(50ms)) {
                waiting = false;
                for (std::size_t i = 0; i < std::size(pending); ++i) {
                    if (ended[i] < 0 && !pending[i].first->Running()) ended[i] = Since(down);
                    waiting = waiting || ended[i] < 0;
                }
            }
            for (std::size_t i = 0; i < std::size(pending); ++i) {
                const auto &[run, what] = pending[i];
                if (ended[i] < 0)
                    outcome.Fail(what + " still pending 120 s after the link went down: " + run->Out() +
                                 run->Err());
                else
                    seen << what << ": " << Verdict(run->Result()) << " after " << ended[i] << " s; ";
            }
            for (int i = 0; i < 50 && listener.Running(); ++i) std::this_thread::sleep_for(100ms);
            if (listener.Running() && !listener.Interrupt())
                outcome.Fail("the listener did not end on Ctrl-C");
            outcome.seconds = Since(down);
            outcome.seen = seen.str();
            return outcome;
        }
        --outcome.tries;
        outcome.Fail("no session to take the link down under");
        return outcome;
    }

    void RunUnder(const Fault &fault) {
        const std::string problem = ApplyFault(fault.name);
        if (!problem.empty())
            KORVEL_SKIP_WITHOUT_LAB("cannot put " + fault.name + " on the wire: " + problem);
        std::vector<std::future<Outcome>> running;
        running.push_back(std::async(std::launch::async, Names));
        running.push_back(std::async(std::launch::async, Transfer, fault.transfer_bytes));
        running.push_back(std::async(std::launch::async, WinsRegistration));
        running.push_back(std::async(std::launch::async, LinkDown));
        for (auto &future : running) {
            const Outcome outcome = future.get();
            for (const std::string &failure : outcome.failures)
                ADD_FAILURE() << fault.name << ", " << outcome.scenario << ": " << failure;
            Table().push_back({fault.name, outcome});
        }
        // A fault that touched nothing would let every scenario pass for nothing.
        const long hit = ClearFault();
        EXPECT_GT(hit, 0) << fault.name << " touched no packet";
        Outcome touched("(packets hit)");
        touched.seen = std::to_string(hit);
        Table().push_back({fault.name, touched});
    }

    static void PrintTable() {
        if (Table().empty()) return;
        std::ostringstream text;
        text << std::left << std::setw(15) << "fault" << std::setw(24) << "scenario" << std::right
             << std::setw(9) << "seconds" << std::setw(7) << "tries"
             << "  result\n";
        for (const Row &row : Table())
            if (row.outcome.scenario.starts_with("("))
                text << std::left << std::setw(15) << row.fault << row.outcome.scenario << " "
                     << row.outcome.seen << "\n";
            else
                text << std::left << std::setw(15) << row.fault << std::setw(24) << row.outcome.scenario
                     << std::right << std::setw(9) << std::fixed << std::setprecision(1)
                     << row.outcome.seconds << std::setw(7) << row.outcome.tries << "  "
                     << (row.outcome.failures.empty() ? "ok" : "FAILED") << ": " << row.outcome.seen << "\n";
        std::cout << text.str() << std::flush;
        Table().clear();
    }

    static inline bool lab_up_ = false;
    static inline int delayer_ = 0;
};

TEST_F(NetemInterop, UnderLoss) {
    RunUnder({"loss 20%", 256 * 1024});
}

TEST_F(NetemInterop, UnderDelayAndReordering) {
    RunUnder({"delay 50±40ms", 10 * 1000 * 1000});
}

TEST_F(NetemInterop, UnderDuplication) {
    RunUnder({"dup 5%", 10 * 1000 * 1000});
}

}  // namespace
