// SPDX-License-Identifier: MIT
// korveld in a lab host, started by the test (--foreground --socket), and
// several programs of that host as its clients: korvel-nb runs, and this
// test process itself through Netbios(). Names of two clients are found
// from another host and listed, with their owners, in a third's adapter
// status; a second add of a held name is NRC_DUPNAME; korvel-nb names
// shows the service's cache; two clients of the host call each other; one
// cannot hang up another's session; and kill -9 of a client releases its
// names on the wire. A session's socket goes to the programs at its ends,
// whose messages then never wait on the service. Host lookups go through
// the hosts module (getaddrinfo, the module alone in the hosts line): a
// Samba host resolves, a name nobody holds fails within the broadcast query
// time, and a dotted name or a stopped service fails at once. Adapters come
// and go under it: a new interface gets a new LANA while the others keep
// theirs, one that goes down, loses its carrier or its address ends what
// was pending on it, and the numbers survive a restart of the service. When
// the address of an interface moves, its names are registered again from
// the new one and keep their numbers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <nss.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "korvel_nb_run.h"
#include "lab_capture.h"
#include "lab_suite.h"
#include "name_encoding.h"
#include "name_packet.h"
#include "nb30.h"

using namespace std::chrono_literals;

namespace {

// Host 2 runs korveld and its clients, host 3 the Samba tools.
constexpr int kServiceHost = 2;
constexpr int kToolHost = 3;

using netlab::Contains;
using netlab::NbBackground;
using netlab::NbRun;

std::string SocketPath() {
    return LabSuite::lab().state() + "/korveld.sock";
}

std::string ClientEnv() {
    return "KORVEL_PROVIDER=service KORVEL_PROVIDER_SOCKET=" + SocketPath();
}

NbRun Nb(const std::string &args) {
    return netlab::RunNb(LabSuite::lab(), kServiceHost, args, ClientEnv());
}

std::string Seen(const std::string &name, const std::string &broadcast = netlab::Lab::Broadcast()) {
    return LabSuite::Nmblookup(kToolHost, "-B " + broadcast + " '" + name + "#20'");
}

class ServiceInterop : public LabSuite {
protected:
    static void SetUpTestSuite() {
        if (!StartLab("kv", 3)) return;
        if (!StartSamba(kToolHost, "SAMBA3", kServiceHost)) return;
        StartService();
        // This process is a client too, of the same socket.
        ::setenv("KORVEL_PROVIDER", "service", 1);
        ::setenv("KORVEL_PROVIDER_SOCKET", SocketPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        StopService();
        LabSuite::TearDownTestSuite();
    }

    // env: settings for this run of it ("KORVEL_NODE_TYPE=m "), before the command.
    static void StartService(const std::string &env = "") {
        const std::string pid =
            lab().Exec(kServiceHost, env + std::string(KORVELD) + " --foreground --socket " + SocketPath() +
                                         " --state-dir " + lab().state() + "/korveld-state >>" +
                                         lab().state() + "/korveld.log 2>&1 & echo $!");
        service_pid_ = std::atoi(pid.c_str());
        struct stat status;
        for (int i = 0; i < 100 && ::stat(SocketPath().c_str(), &status) != 0; ++i)
            std::this_thread::sleep_for(20ms);
    }
    static void StopService() {
        if (service_pid_ > 0) ::kill(service_pid_, SIGTERM);
        for (int i = 0; i < 100 && service_pid_ > 0 && ::kill(service_pid_, 0) == 0; ++i)
            std::this_thread::sleep_for(20ms);
        service_pid_ = 0;
    }

    static NbBackground Hold(const std::string &name) {
        return NbBackground(lab(), kServiceHost, "hold " + name, ClientEnv());
    }

    static inline int service_pid_ = 0;
};

// An asynchronous block's completion code as the network thread last published it.
UCHAR CompletionOf(NCB &ncb) {
    return std::atomic_ref<UCHAR>(ncb.ncb_cmd_cplt).load(std::memory_order_acquire);
}

// Its return code once it ends (within 3 s of `start`), with how long after
// `start` that was.
UCHAR EndedWithin3s(NCB &ncb, std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now(),
                    std::chrono::microseconds *took = nullptr) {
    while (CompletionOf(ncb) == NRC_PENDING && std::chrono::steady_clock::now() - start < 3s)
        std::this_thread::sleep_for(200us);
    if (took)
        *took =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    return CompletionOf(ncb);
}

TEST_F(ServiceInterop, NamesOfTwoClientsAreSeenFromAnotherHostAndInAThirdsStatus) {
    const NbRun lanas = Nb("--json lanas");
    EXPECT_EQ(lanas.Jq("[.lanas[] | [.lana, .provider]]"), "[[0,\"embedded\"],[1,\"service\"]]") << lanas.err;
    // The service resolves with its own settings, never silently otherwise than asked.
    const NbRun wins = Nb("--wins " + netlab::Lab::Address(kToolHost) + " status SAMBA3");
    EXPECT_EQ(wins.status, 2);
    EXPECT_TRUE(Contains(wins.err, "LANA 1 is korveld's")) << wins.err;

    NbBackground alpha = Hold("ALPHA"), beta = Hold("BETA");
    ASSERT_TRUE(alpha.WaitFor("holding")) << alpha.Err();
    ASSERT_TRUE(beta.WaitFor("holding")) << beta.Err();
    const std::string here = netlab::Lab::Address(kServiceHost) + " ";
    EXPECT_TRUE(Contains(Seen("ALPHA"), here + "ALPHA<20>"));
    EXPECT_TRUE(Contains(Seen("BETA"), here + "BETA<20>"));
    // Some peers broadcast their queries to 255.255.255.255.
    EXPECT_TRUE(Contains(Seen("BETA", "255.255.255.255"), here + "BETA<20>"));

    const NbRun status = Nb("--json status '*'");
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(status.Jq("[.status.names[] | select(.name == \"ALPHA<20>\" or .name == \"BETA<20>\") | "
                        "[.name, .state, .owner.program]] | sort"),  // the two holders race
              "[[\"ALPHA<20>\",\"registered\",\"korvel-nb\"],[\"BETA<20>\",\"registered\",\"korvel-nb\"]]")
        << status.out;

    const NbRun again = Nb("hold ALPHA");
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(Contains(again.err, "NRC_DUPNAME")) << again.err;

    // Asynchronously from this process: a local status ends as soon as
    // korveld takes it, yet the answer that it was taken still comes first.
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = 1;
    ASSERT_EQ(Netbios(&reset), NRC_GOODRET);
    UCHAR buffer[1024];
    NCB local{};
    local.ncb_command = NCBASTAT | ASYNCH;
    local.ncb_lana_num = 1;
    std::memset(local.ncb_callname, ' ', NCBNAMSZ);
    local.ncb_callname[0] = '*';
    local.ncb_buffer = buffer;
    local.ncb_length = sizeof buffer;
    ASSERT_EQ(Netbios(&local), NRC_GOODRET);
    EXPECT_EQ(EndedWithin3s(local), NRC_GOODRET);
}

TEST_F(ServiceInterop, KillNineOfAClientReleasesItsNamesOnTheWire) {
    NbBackground gamma = Hold("GAMMA");
    ASSERT_TRUE(gamma.WaitFor("holding")) << gamma.Err();
    LabCapture capture(lab(), "release.pcapng", "udp port 137");
    ASSERT_EQ(capture.problem(), "");
    ASSERT_GT(gamma.pid(), 0);
    ::kill(gamma.pid(), SIGKILL);
    std::this_thread::sleep_for(1s);
    capture.Stop();
    const std::string releases =
        capture.Tshark("ip.src==" + netlab::Lab::Address(kServiceHost) + " && nbns.flags.opcode == 6",
                       " -T fields -e nbns.name");
    EXPECT_TRUE(Contains(releases, "GAMMA<20>")) << releases;
}

// NCBCANCEL of a block of this process's, on the block's LANA.
UCHAR Cancel(NCB &target) {
    NCB cancel{};
    cancel.ncb_command = NCBCANCEL;
    cancel.ncb_lana_num = target.ncb_lana_num;
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&target);
    return Netbios(&cancel);
}

TEST_F(ServiceInterop, TwoClientsOfOneHostCallEachOtherAndAThirdCannotHangUpTheirSession) {
    NbBackground listen(lab(), kServiceHost, "listen LISTENER --idle 3", ClientEnv());
    ASSERT_TRUE(listen.WaitFor("listening on LISTENER<20>")) << listen.Err();
    NbBackground call(lab(), kServiceHost, "call LISTENER --as CALLER --send hello-listener --receive",
                      ClientEnv());
    ASSERT_TRUE(listen.WaitFor("session 1 from CALLER<20>")) << listen.Out() << listen.Err() << call.Err();

    // This process is a client of its own: no session number is its to end,
    // and no block of another's can it even name.
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = 1;
    ASSERT_EQ(Netbios(&reset), NRC_GOODRET);
    for (UCHAR lsn = 1; lsn <= 4; ++lsn) {
        NCB hangup{};
        hangup.ncb_command = NCBHANGUP;
        hangup.ncb_lana_num = 1;
        hangup.ncb_lsn = lsn;
        EXPECT_EQ(Netbios(&hangup), NRC_SNUMOUT) << "session " << int(lsn);
    }
    NCB other{};
    other.ncb_command = NCBRECV;
    other.ncb_lana_num = 1;
    EXPECT_EQ(Cancel(other), NRC_CANOCCR);

    // The session ends as its own listener ends it, after the message came.
    ASSERT_TRUE(listen.Wait()) << listen.Err();
    EXPECT_TRUE(Contains(listen.Out(), "hello-listener")) << listen.Out();
    EXPECT_TRUE(Contains(listen.Out(), "session 1 ended (idle), 14 bytes")) << listen.Out() << listen.Err();
}

struct Lookup {
    std::string address;  // empty: not found
    std::chrono::milliseconds took{0};
};

Lookup LookUpHost(const char *name) {
    ::__nss_configure_lookup("hosts", "korvel");  // the module from the build tree (the test's rpath)
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int status = ::getaddrinfo(name, nullptr, &hints, &found);
    Lookup lookup;
    lookup.took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (status == 0) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, text, sizeof text);
        lookup.address = text;
        ::freeaddrinfo(found);
    }
    return lookup;
}

TEST_F(ServiceInterop, NamesOnAServiceLanaResolveThereAndListItsCache) {
    // An M-node keeps what a broadcast found: the service's node, not this
    // program's, which has no LANA 1 of its own.
    StopService();
    StartService("KORVEL_NODE_TYPE=m ");
    const NbRun names = Nb("--json names SAMBA3");
    StopService();
    StartService();
    EXPECT_EQ(names.status, 0) << names.err;
    EXPECT_EQ(
        names.Jq("[.node_type, [.resolved[] | .address], [.cache[] | select(.name | startswith(\"SAMBA3\")) "
                 "| [.address, .from]]]"),
        "[\"M\",[\"" + netlab::Lab::Address(kToolHost) + "\"],[[\"" + netlab::Lab::Address(kToolHost) +
            "\",\"broadcast\"]]]")
        << names.out << names.err;
}

TEST_F(ServiceInterop, HostLookupsAskTheServiceAndNeverWaitPastItsQueryTime) {
    const Lookup samba = LookUpHost("samba3");
    EXPECT_EQ(samba.address, netlab::Lab::Address(kToolHost));
    // Bounds with room for a loaded machine: what they catch is a lookup
    // waiting on past the query time (750 ms), or waiting at all when it
    // should not ask.
    EXPECT_LT(samba.took, 1500ms);

    // A B-node keeps no cache: nobody answers three queries, 250 ms apart.
    const Lookup nobody = LookUpHost("NOBODYHOLDS");
    EXPECT_EQ(nobody.address, "");
    EXPECT_LT(nobody.took, 1500ms);

    // Never asked: the next source's to answer.
    const Lookup dotted = LookUpHost("samba3.lab");
    EXPECT_EQ(dotted.address, "");
    EXPECT_LT(dotted.took, 250ms);
    EXPECT_LT(LookUpHost("SAMBA3-IS-TOO-LONG").took, 250ms);

    // A socket nobody listens on any more: korveld stopped.
    const std::string stopped = lab().state() + "/stopped.sock";
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stopped.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    ::setenv("KORVEL_PROVIDER_SOCKET", stopped.c_str(), 1);
    const Lookup without = LookUpHost("samba3");
    ::setenv("KORVEL_PROVIDER_SOCKET", SocketPath().c_str(), 1);
    EXPECT_EQ(without.address, "");
    EXPECT_LT(without.took, 250ms);
}

// This process's NCBs on the service's LANAs; *number, if given, gets ncb_num.
UCHAR Command(UCHAR command, UCHAR lana, const char *name = "", UCHAR *number = nullptr) {
    NCB ncb{};
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    std::memset(ncb.ncb_name, ' ', NCBNAMSZ);
    std::memcpy(ncb.ncb_name, name, std::strlen(name));
    const UCHAR rc = Netbios(&ncb);
    if (number) *number = ncb.ncb_num;
    return rc;
}

// A LISTEN for anyone on `name`, left pending.
struct PendingListen {
    NCB ncb{};
    PendingListen(UCHAR lana, const char *name) {
        ncb.ncb_command = NCBLISTEN | ASYNCH;
        ncb.ncb_lana_num = lana;
        std::memset(ncb.ncb_name, ' ', NCBNAMSZ);
        std::memcpy(ncb.ncb_name, name, std::strlen(name));
        std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
        ncb.ncb_callname[0] = '*';
    }
    UCHAR State() { return CompletionOf(ncb); }
    // Its return code once it ends (within 3 s of `start`), with how long
    // after `start` that was.
    UCHAR Ended(std::chrono::steady_clock::time_point start, std::chrono::microseconds *took) {
        return EndedWithin3s(ncb, start, took);
    }
    ~PendingListen() {
        if (State() == NRC_PENDING) Cancel(ncb);
    }
};

// A session block of this process on LANA 1, with its own buffer.
struct SessionBlock {
    NCB ncb{};
    char data[64] = {};
    SessionBlock(UCHAR command, UCHAR lsn, const char *text = "") {
        ncb.ncb_command = command;
        ncb.ncb_lana_num = 1;
        ncb.ncb_lsn = lsn;
        std::strncpy(data, text, sizeof data - 1);
        ncb.ncb_buffer = reinterpret_cast<PUCHAR>(data);
        const UCHAR code = command & ~ASYNCH;
        ncb.ncb_length =
            code == NCBRECV || code == NCBRECVANY ? sizeof data : static_cast<WORD>(std::strlen(text));
    }
    std::string Text() const { return std::string(data, ncb.ncb_length); }
};

struct SessionStatus {
    SESSION_HEADER header;
    SESSION_BUFFER sessions[4];
};

// NCBSSTAT of every name on LANA 1.
SessionStatus StatusOfSessions() {
    SessionStatus status{};
    NCB sstat{};
    sstat.ncb_command = NCBSSTAT;
    sstat.ncb_lana_num = 1;
    std::memset(sstat.ncb_name, ' ', NCBNAMSZ);
    sstat.ncb_name[0] = '*';
    sstat.ncb_buffer = reinterpret_cast<PUCHAR>(&status);
    sstat.ncb_length = sizeof status;
    EXPECT_EQ(Netbios(&sstat), NRC_GOODRET);
    return status;
}

// Runs fn while the service is stopped (SIGSTOP); true if it was done in 3 s.
bool DoneWhileServiceStopped(int service_pid, const std::function<void()> &fn) {
    ::kill(service_pid, SIGSTOP);
    std::packaged_task<void()> task(fn);
    auto done = task.get_future();
    std::thread runner(std::move(task));
    const bool in_time = done.wait_for(3s) == std::future_status::ready;
    ::kill(service_pid, SIGCONT);
    runner.join();
    return in_time;
}

// The session's socket comes to each end's program: its messages (NCBRECVANY
// too, even one posted before the session came) go on while the service
// cannot answer, a hang-up from one end reaches the other and frees the
// numbers in the service, the adapter counts what the programs carried, a
// program killed hangs up its session at the peer, and a name conflict ends
// the sessions under the name.
TEST_F(ServiceInterop, HandedSessionsCarryDataWithoutTheServiceAndEndThroughIt) {
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = 1;
    ASSERT_EQ(Netbios(&reset), NRC_GOODRET);
    UCHAR number_a = 0, number_b = 0;
    ASSERT_EQ(Command(NCBADDNAME, 1, "HANDEDA", &number_a), NRC_GOODRET);
    ASSERT_EQ(Command(NCBADDNAME, 1, "HANDEDB", &number_b), NRC_GOODRET);
    // Posted while the service alone holds the name's sessions (none yet).
    SessionBlock early(NCBRECVANY | ASYNCH, 0);
    early.ncb.ncb_num = number_a;
    ASSERT_EQ(Netbios(&early.ncb), NRC_GOODRET);
    auto counted = [] {
        ADAPTER_STATUS status{};
        NCB astat{};
        astat.ncb_command = NCBASTAT;
        astat.ncb_lana_num = 1;
        std::memset(astat.ncb_callname, ' ', NCBNAMSZ);
        astat.ncb_callname[0] = '*';
        astat.ncb_buffer = reinterpret_cast<PUCHAR>(&status);
        astat.ncb_length = sizeof status;
        Netbios(&astat);
        return std::pair{status.xmit_success, status.recv_success};
    };
    const auto before = counted();

    PendingListen listen(1, "HANDEDA");
    listen.ncb.ncb_rto = listen.ncb.ncb_sto = 4;  // 2 s
    ASSERT_EQ(Netbios(&listen.ncb), NRC_GOODRET);
    NCB call{};
    call.ncb_command = NCBCALL;
    call.ncb_lana_num = 1;
    call.ncb_rto = call.ncb_sto = 4;
    std::memcpy(call.ncb_name, "HANDEDB         ", NCBNAMSZ);
    std::memcpy(call.ncb_callname, "HANDEDA         ", NCBNAMSZ);
    ASSERT_EQ(Netbios(&call), NRC_GOODRET);
    std::chrono::microseconds took{};
    ASSERT_EQ(listen.Ended(std::chrono::steady_clock::now(), &took), NRC_GOODRET);
    const UCHAR a = listen.ncb.ncb_lsn, b = call.ncb_lsn;
    SessionBlock first(NCBSEND, b, "first");
    EXPECT_EQ(Netbios(&first.ncb), NRC_GOODRET);
    EXPECT_EQ(EndedWithin3s(early.ncb), NRC_GOODRET) << "the receive left in the service";
    EXPECT_EQ(early.ncb.ncb_lsn, a);
    EXPECT_EQ(early.Text(), "first");

    // What waits on a handed session shows in the service's session status.
    SessionBlock waiting(NCBRECV | ASYNCH, a), any(NCBRECVANY | ASYNCH, 0);
    any.ncb.ncb_num = 0xFF;
    ASSERT_EQ(Netbios(&waiting.ncb), NRC_GOODRET);
    ASSERT_EQ(Netbios(&any.ncb), NRC_GOODRET);
    const SessionStatus shown = StatusOfSessions();
    EXPECT_EQ(shown.header.rcv_any_outstanding, 1);
    ASSERT_GE(shown.header.num_sess, 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(shown.sessions[i].rcvs_outstanding, shown.sessions[i].lsn == a ? 1 : 0);
    EXPECT_EQ(Cancel(waiting.ncb), NRC_GOODRET);
    EXPECT_EQ(Cancel(any.ncb), NRC_GOODRET);

    SessionBlock there(NCBSEND, b, "handed-there"), got_there(NCBRECV, a);
    SessionBlock back(NCBSEND, a, "handed-back"), got_back(NCBRECV, b);
    got_back.ncb.ncb_command = NCBRECVANY;  // for HANDEDB's sessions
    got_back.ncb.ncb_num = number_b;
    EXPECT_TRUE(DoneWhileServiceStopped(service_pid_, [&] {
        Netbios(&there.ncb);
        Netbios(&got_there.ncb);
        Netbios(&back.ncb);
        Netbios(&got_back.ncb);
    })) << "the session's messages wait for the service";
    EXPECT_EQ(got_there.ncb.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(got_there.Text(), "handed-there");
    EXPECT_EQ(got_back.ncb.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(got_back.Text(), "handed-back");
    EXPECT_EQ(got_back.ncb.ncb_lsn, b);

    SessionBlock hangup(NCBHANGUP, a), closed(NCBRECV, b);
    EXPECT_EQ(Netbios(&hangup.ncb), NRC_GOODRET);
    EXPECT_EQ(Netbios(&closed.ncb), NRC_SCLOSED);
    EXPECT_EQ(StatusOfSessions().header.num_sess, 0) << "numbers still held in the service";
    const auto after = counted();
    EXPECT_GE(after.first - before.first, 2u);
    EXPECT_GE(after.second - before.second, 2u);

    NbBackground killed(lab(), kServiceHost, "listen KILLED --idle 20", ClientEnv());
    ASSERT_TRUE(killed.WaitFor("listening on KILLED<20>")) << killed.Err();
    std::memcpy(call.ncb_callname, "KILLED          ", NCBNAMSZ);
    ASSERT_EQ(Netbios(&call), NRC_GOODRET);
    ASSERT_TRUE(killed.WaitFor(" from HANDEDB<20>")) << killed.Out() << killed.Err();
    ::kill(killed.pid(), SIGKILL);
    SessionBlock ended(NCBRECV, call.ncb_lsn);
    const UCHAR rc = Netbios(&ended.ncb);
    EXPECT_TRUE(rc == NRC_SCLOSED || rc == NRC_SABORT) << "NCBRECV: " << int(rc);

    // A conflict demand for a handed session's name ends its receives and
    // refuses its sends with NRC_NAMCONF, as for a session the service
    // carries; a hang-up still ends it.
    PendingListen again(1, "HANDEDA");
    ASSERT_EQ(Netbios(&again.ncb), NRC_GOODRET);
    std::memcpy(call.ncb_callname, "HANDEDA         ", NCBNAMSZ);
    ASSERT_EQ(Netbios(&call), NRC_GOODRET);
    ASSERT_EQ(EndedWithin3s(again.ncb), NRC_GOODRET);
    const UCHAR lsn = again.ncb.ncb_lsn;
    SessionBlock cut_off(NCBRECV | ASYNCH, lsn);
    ASSERT_EQ(Netbios(&cut_off.ncb), NRC_GOODRET);

    std::array<std::uint8_t, 16> raw{};
    std::memcpy(raw.data(), "HANDEDA         ", raw.size());
    const std::string address = netlab::Lab::Address(kServiceHost);
    in_addr ours{};
    ASSERT_EQ(::inet_pton(AF_INET, address.c_str(), &ours), 1);
    const auto demand = nbt::codec::BuildRegistrationRefusal(
        0x1240, nbt::codec::MakeName(raw), {0, ntohl(ours.s_addr)}, nbt::codec::NameRcode::kConflict);
    std::string hex;
    for (const std::uint8_t byte : demand) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    lab().Exec(kToolHost,
               "python3 -c \"import socket, binascii; socket.socket(socket.AF_INET, "
               "socket.SOCK_DGRAM).sendto(binascii.unhexlify('" +
                   hex + "'), ('" + address + "', 137))\"");
    EXPECT_EQ(EndedWithin3s(cut_off.ncb), NRC_NAMCONF);
    SessionBlock refused(NCBSEND, lsn, "x"), end_it(NCBHANGUP, lsn);
    EXPECT_EQ(Netbios(&refused.ncb), NRC_NAMCONF);
    EXPECT_EQ(Netbios(&end_it.ncb), NRC_GOODRET);
    ASSERT_EQ(Netbios(&reset), NRC_GOODRET);
}

// "[[lana, interface, address]...]" of LANAs 1 and up as korvel-nb lists them.
std::string ServiceLanas() {
    return Nb("--json lanas").Jq("[.lanas[] | select(.lana > 0) | [.lana, .interface, .address]]");
}

// ServiceLanas() once it is `expected`, or as it is after 3 s: the kernel
// may report a carrier change up to a second late.
std::string ServiceLanasBecome(const std::string &expected) {
    std::string lanas;
    for (const auto until = std::chrono::steady_clock::now() + 3s;
         (lanas = ServiceLanas()) != expected && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(50ms);
    return lanas;
}

TEST_F(ServiceInterop, AdaptersComeAndGoWithoutRenumberingAndTheirNumbersOutliveARestart) {
    const std::string eth0 = "[1,\"eth0\",\"" + netlab::Lab::Address(kServiceHost) + "\"]";
    NbBackground stays = Hold("STAYS");
    ASSERT_TRUE(stays.WaitFor("holding")) << stays.Err();
    const std::string here = netlab::Lab::Address(kServiceHost) + " ";

    EXPECT_EQ(Nb("--json lanas").Jq("[.lanas[] | .stable_number]"), "[false,true]");
    // A new interface, with a higher index than eth0: LANA 2, and LANA 1 stays.
    lab().Exec(kServiceHost,
               "ip link add kvnew0 type veth peer name kvnew1 && ip link set kvnew1 up && "
               "ip addr add 10.77.1.1/24 broadcast + dev kvnew0 && ip link set kvnew0 up");
    const std::string two = "[" + eth0 + ",[2,\"kvnew0\",\"10.77.1.1\"]]";
    EXPECT_EQ(ServiceLanasBecome(two), two);
    // Up without carrier (its peer down) is as good as down.
    lab().Exec(kServiceHost, "ip link set kvnew1 down");
    EXPECT_EQ(ServiceLanasBecome("[" + eth0 + "]"), "[" + eth0 + "]");
    lab().Exec(kServiceHost, "ip link set kvnew1 up");
    EXPECT_EQ(ServiceLanasBecome(two), two);

    // LANA 2 goes down under a pending LISTEN: it ends, LANA 2 leaves the
    // table, and LANA 1 and its name are untouched.
    ASSERT_EQ(Command(NCBRESET, 2), NRC_GOODRET);
    ASSERT_EQ(Command(NCBADDNAME, 2, "ADAPTERS"), NRC_GOODRET);
    {
        PendingListen listen(2, "ADAPTERS");
        ASSERT_EQ(Netbios(&listen.ncb), NRC_GOODRET);
        const auto start = std::chrono::steady_clock::now();
        lab().Exec(kServiceHost, "ip link set kvnew0 down");
        std::chrono::microseconds took{};
        EXPECT_EQ(listen.Ended(start, &took), NRC_BRIDGE);
        std::printf("[ figure   ] ip link set down started to the pending LISTEN ended: %.1f ms\n",
                    took.count() / 1000.0);
    }
    EXPECT_EQ(Command(NCBADDNAME, 2, "AGAIN"), NRC_BRIDGE);
    EXPECT_EQ(ServiceLanas(), "[" + eth0 + "]");
    EXPECT_TRUE(Contains(Seen("STAYS"), here + "STAYS<20>"));

    // Up with a new address: usable after a reset. Then the address alone goes.
    lab().Exec(kServiceHost,
               "ip addr flush dev kvnew0 && ip addr add 10.77.2.1/24 broadcast + dev kvnew0 && "
               "ip link set kvnew0 up");
    EXPECT_EQ(Command(NCBADDNAME, 2, "AGAIN"), NRC_ENVNOTDEF);
    ServiceLanasBecome("[" + eth0 + ",[2,\"kvnew0\",\"10.77.2.1\"]]");
    ASSERT_EQ(Command(NCBRESET, 2), NRC_GOODRET);
    EXPECT_EQ(Command(NCBADDNAME, 2, "AGAIN"), NRC_GOODRET);
    {
        PendingListen listen(2, "AGAIN");
        ASSERT_EQ(Netbios(&listen.ncb), NRC_GOODRET);
        const auto start = std::chrono::steady_clock::now();
        lab().Exec(kServiceHost, "ip addr flush dev kvnew0");
        std::chrono::microseconds took{};
        EXPECT_EQ(listen.Ended(start, &took), NRC_BRIDGE);
    }

    // A third interface is LANA 3. With kvnew0 down, index order would make
    // it 2; across a restart the map keeps it 3.
    lab().Exec(kServiceHost,
               "ip link add kvnewer0 type veth peer name kvnewer1 && ip link set kvnewer1 up && "
               "ip addr add 10.77.3.1/24 broadcast + dev kvnewer0 && ip link set kvnewer0 up");
    const std::string newer = "[3,\"kvnewer0\",\"10.77.3.1\"]";
    EXPECT_EQ(ServiceLanasBecome("[" + eth0 + "," + newer + "]"), "[" + eth0 + "," + newer + "]");
    StopService();
    StartService();
    EXPECT_EQ(ServiceLanas(), "[" + eth0 + "," + newer + "]")
        << netlab::ReadFile(lab().state() + "/korveld.log");
    lab().Exec(kServiceHost, "ip addr add 10.77.2.1/24 broadcast + dev kvnew0");
    EXPECT_EQ(ServiceLanas(), "[" + eth0 + ",[2,\"kvnew0\",\"10.77.2.1\"]," + newer + "]");
    lab().Exec(kServiceHost, "ip link del kvnew0; ip link del kvnewer0");
}

// LANA 1's interface moves to another address under a held name and a
// pending LISTEN, the old address deleted first and then the new one added,
// and back the other way round: the service registers the name from the
// new address, the LISTEN waits on, and the name's number still sends a
// datagram.
TEST_F(ServiceInterop, ANameOnAnAdapterWhoseAddressMovesIsFoundAtTheNewAddressUnderItsOldNumber) {
    const std::string old_address = netlab::Lab::Address(kServiceHost);
    const std::string new_address = "198.18.137.112";
    const std::string ip_del = "ip addr del ", ip_add = "ip addr add ", dev = "/24 broadcast + dev eth0";
    auto seen_at = [](const std::string &address) {
        std::string seen;
        for (const auto until = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(100ms))
            if (Contains(seen = Seen("MOVES"), address + " MOVES<20>")) break;
        return seen;
    };
    ASSERT_EQ(Command(NCBRESET, 1), NRC_GOODRET);
    NCB add{};
    add.ncb_command = NCBADDNAME;
    add.ncb_lana_num = 1;
    std::memset(add.ncb_name, ' ', NCBNAMSZ);
    std::memcpy(add.ncb_name, "MOVES", 5);
    ASSERT_EQ(Netbios(&add), NRC_GOODRET);
    PendingListen listen(1, "MOVES");
    ASSERT_EQ(Netbios(&listen.ncb), NRC_GOODRET);

    lab().Exec(kServiceHost, ip_del + old_address + dev + " && " + ip_add + new_address + dev);
    const std::string seen = seen_at(new_address);
    EXPECT_TRUE(Contains(seen, new_address + " MOVES<20>")) << seen;
    EXPECT_EQ(listen.State(), NRC_PENDING);
    NCB datagram{};
    char text[] = "moved";
    datagram.ncb_command = NCBDGSEND;
    datagram.ncb_lana_num = 1;
    datagram.ncb_num = add.ncb_num;
    datagram.ncb_buffer = reinterpret_cast<PUCHAR>(text);
    datagram.ncb_length = sizeof text;
    std::memset(datagram.ncb_callname, ' ', NCBNAMSZ);
    std::memcpy(datagram.ncb_callname, "SAMBA3", 6);
    EXPECT_EQ(Netbios(&datagram), NRC_GOODRET);

    // The new address a secondary of the old until that goes.
    lab().Exec(kServiceHost, "sysctl -qw net.ipv4.conf.eth0.promote_secondaries=1 && " + ip_add +
                                 old_address + dev + " && " + ip_del + new_address + dev);
    EXPECT_TRUE(Contains(seen_at(old_address), old_address + " MOVES<20>"));
    EXPECT_EQ(listen.State(), NRC_PENDING);
}

}  // namespace
