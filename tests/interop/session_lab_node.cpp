// A Korvel node for the session interop tests, run inside a lab host's
// network namespace on the host's LANA. It carries out the commands given as
// arguments and prints one result line for each, so a test can drive it
// with `ip netns exec` and read what happened.
//
//   session_lab_node [--lana N] COMMAND...
//     add NAME              NCBADDNAME of NAME padded with spaces
//     call-smb LOCAL NAME   NCBCALL NAME from LOCAL, send an SMB NEGOTIATE,
//                           receive the reply in 64-byte pieces, hang up
//     listen LOCAL          NCBLISTEN on LOCAL for '*' (at most 60 s), then
//                           receive one message and hang up
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lab_node_names.h"
#include "nb30.h"
#include "nbt_event.h"
#include "provider.h"

namespace {

std::string Hex(const UCHAR *bytes, std::size_t count) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

// SMB1 NEGOTIATE offering NT LM 0.12 and the SMB2 dialects, so that a
// current server answers with an SMB2 NEGOTIATE response.
std::vector<UCHAR> SmbNegotiate() {
    std::vector<UCHAR> packet = {0xFF, 'S', 'M', 'B', 0x72, 0, 0, 0, 0, 0x18, 0x01, 0xC8};
    packet.resize(32, 0);
    packet[26] = 0xFF;  // PID
    packet[27] = 0xFE;
    packet.push_back(0);  // word count
    std::vector<UCHAR> dialects;
    for (const char *dialect : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"}) {
        dialects.push_back(0x02);
        dialects.insert(dialects.end(), dialect, dialect + std::strlen(dialect) + 1);
    }
    packet.push_back(static_cast<UCHAR>(dialects.size()));
    packet.push_back(static_cast<UCHAR>(dialects.size() >> 8));
    packet.insert(packet.end(), dialects.begin(), dialects.end());
    return packet;
}

UCHAR Run(nbt::Provider &provider, NCB &ncb, std::chrono::seconds limit) {
    NbtEvent event;
    ncb.ncb_command |= ASYNCH;
    ncb.ncb_event = &event;
    if (provider.Netbios(&ncb) != NRC_GOODRET) return ncb.ncb_retcode;
    if (!event.WaitFor(limit)) {
        std::printf("timeout\n");
        return NRC_PENDING;
    }
    return ncb.ncb_retcode;
}

void Hangup(nbt::Provider &provider, UCHAR lana, UCHAR lsn) {
    NCB hangup{};
    hangup.ncb_command = NCBHANGUP;
    hangup.ncb_lana_num = lana;
    hangup.ncb_lsn = lsn;
    std::printf("hangup 0x%02X\n", Run(provider, hangup, std::chrono::seconds(30)));
}

void CallSmb(nbt::Provider &provider, UCHAR lana, const std::string &local, const std::string &remote) {
    NCB call{};
    call.ncb_command = NCBCALL;
    call.ncb_lana_num = lana;
    Pad(call.ncb_name, local);
    Pad(call.ncb_callname, remote);
    const UCHAR rc = Run(provider, call, std::chrono::seconds(30));
    std::printf("call 0x%02X lsn=%u\n", rc, call.ncb_lsn);
    if (rc != NRC_GOODRET) return;

    auto negotiate = SmbNegotiate();
    NCB send{};
    send.ncb_command = NCBSEND;
    send.ncb_lana_num = lana;
    send.ncb_lsn = call.ncb_lsn;
    send.ncb_buffer = negotiate.data();
    send.ncb_length = static_cast<WORD>(negotiate.size());
    std::printf("send 0x%02X %zu\n", Run(provider, send, std::chrono::seconds(30)), negotiate.size());

    std::vector<UCHAR> reply;
    for (int piece = 0; piece < 100; ++piece) {
        UCHAR buffer[64];
        NCB recv{};
        recv.ncb_command = NCBRECV;
        recv.ncb_lana_num = lana;
        recv.ncb_lsn = call.ncb_lsn;
        recv.ncb_buffer = buffer;
        recv.ncb_length = sizeof buffer;
        recv.ncb_rto = 0;
        const UCHAR recv_rc = Run(provider, recv, std::chrono::seconds(30));
        std::printf("recv 0x%02X %u\n", recv_rc, recv.ncb_length);
        if (recv_rc != NRC_GOODRET && recv_rc != NRC_INCOMP) break;
        reply.insert(reply.end(), buffer, buffer + recv.ncb_length);
        if (recv_rc == NRC_GOODRET) break;
    }
    std::printf("reply %zu %s\n", reply.size(),
                Hex(reply.data(), std::min<std::size_t>(reply.size(), 8)).c_str());
    Hangup(provider, lana, call.ncb_lsn);
}

void Listen(nbt::Provider &provider, UCHAR lana, const std::string &local) {
    NCB listen{};
    listen.ncb_command = NCBLISTEN;
    listen.ncb_lana_num = lana;
    Pad(listen.ncb_name, local);
    Pad(listen.ncb_callname, "*");
    std::printf("listening\n");
    const UCHAR rc = Run(provider, listen, std::chrono::seconds(60));
    std::printf("listen 0x%02X lsn=%u caller=%s\n", rc, listen.ncb_lsn,
                Printable(listen.ncb_callname).c_str());
    if (rc != NRC_GOODRET) return;
    std::vector<UCHAR> buffer(65535);
    NCB recv{};
    recv.ncb_command = NCBRECV;
    recv.ncb_lana_num = lana;
    recv.ncb_lsn = listen.ncb_lsn;
    recv.ncb_buffer = buffer.data();
    recv.ncb_length = static_cast<WORD>(buffer.size());
    const UCHAR recv_rc = Run(provider, recv, std::chrono::seconds(30));
    std::printf("recv 0x%02X %u %s\n", recv_rc, recv.ncb_length,
                Hex(buffer.data(), std::min<std::size_t>(recv.ncb_length, 8)).c_str());
    Hangup(provider, lana, listen.ncb_lsn);
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    UCHAR lana = 1;
    int i = 1;
    if (argc > 2 && std::strcmp(argv[1], "--lana") == 0) {
        lana = static_cast<UCHAR>(std::atoi(argv[2]));
        i = 3;
    }
    nbt::Provider provider;
    NCB reset{};
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lana;
    const UCHAR rc = provider.Netbios(&reset);
    std::printf("reset 0x%02X\n", rc);
    if (rc != NRC_GOODRET) return 1;

    for (; i < argc; ++i) {
        const std::string command = argv[i];
        const std::string arg = i + 1 < argc ? argv[i + 1] : "";
        if (command == "add") {
            NCB add{};
            add.ncb_command = NCBADDNAME;
            add.ncb_lana_num = lana;
            Pad(add.ncb_name, arg);
            std::printf("add %s 0x%02X\n", arg.c_str(), provider.Netbios(&add));
            ++i;
        } else if (command == "call-smb" && i + 2 < argc) {
            CallSmb(provider, lana, arg, argv[i + 2]);
            i += 2;
        } else if (command == "listen") {
            Listen(provider, lana, arg);
            ++i;
        } else {
            std::printf("unknown %s\n", command.c_str());
            return 2;
        }
    }
    std::printf("done\n");
    return 0;
}
