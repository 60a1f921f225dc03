// A Korvel node for the interop tests: run inside a lab host's network
// namespace, it resets a LANA on the host's interface and carries out the
// commands given as arguments, one result line each, so a test can drive it
// with `ip netns exec` and read what happened.
//
//   korvel_node_tool [--lana N] COMMAND...
//     add NAME          NCBADDNAME of NAME padded with spaces
//     del NAME          NCBDELNAME
//     astat NAME        NCBASTAT of NAME padded with spaces ("*" is local)
//     astat-mac HEX12   NCBASTAT by adapter address (10 zero bytes + MAC)
//     addgroup NAME#XX  NCBADDGRNAME (NAME padded with spaces, suffix XX in hex)
//     dgsend NAME#XX N  NCBDGSEND of N bytes from the last name added
//     dgsendbc N        NCBDGSENDBC of N bytes from the last name added
//     dgrecv SECONDS    NCBDGRECV on any name, again and again for SECONDS;
//                       one line per datagram (sender, length, the browser
//                       opcode of a mailslot announcement); cancelled at the end
//     ready             prints "ready" (the node is answering from now on)
//     hold-until FILE   keeps the node up until FILE exists (at most 60 s)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lab_node_names.h"
#include "nb30.h"
#include "nbt_event.h"
#include "provider.h"

namespace {

void PrintStatus(UCHAR rc, const std::vector<UCHAR> &buffer) {
    ADAPTER_STATUS status;
    std::memcpy(&status, buffer.data(), sizeof status);
    std::printf("astat 0x%02X mac=%02x:%02x:%02x:%02x:%02x:%02x names=%u\n", rc, status.adapter_address[0],
                status.adapter_address[1], status.adapter_address[2], status.adapter_address[3],
                status.adapter_address[4], status.adapter_address[5],
                rc == NRC_GOODRET || rc == NRC_INCOMP ? status.name_count : 0u);
    if (rc != NRC_GOODRET && rc != NRC_INCOMP) return;
    for (unsigned i = 0; i < status.name_count; ++i) {
        NAME_BUFFER name;
        std::memcpy(&name, buffer.data() + sizeof status + i * sizeof name, sizeof name);
        std::printf("name %s num=%u flags=0x%02X\n", Printable(name.name).c_str(), name.name_num,
                    name.name_flags);
    }
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
    UCHAR rc = provider.Netbios(&reset);
    std::printf("reset 0x%02X\n", rc);
    if (rc != NRC_GOODRET) return 1;

    UCHAR last_num = 0;
    for (; i < argc; ++i) {
        std::string command = argv[i];
        std::string arg = i + 1 < argc ? argv[i + 1] : "";
        NCB ncb{};
        ncb.ncb_lana_num = lana;
        if (command == "add" || command == "del") {
            ncb.ncb_command = command == "add" ? NCBADDNAME : NCBDELNAME;
            Pad(ncb.ncb_name, arg);
            rc = provider.Netbios(&ncb);
            if (rc == NRC_GOODRET && command == "add") last_num = ncb.ncb_num;
            std::printf("%s %s 0x%02X num=%u\n", command.c_str(), arg.c_str(), rc, ncb.ncb_num);
            ++i;
        } else if (command == "astat" || command == "astat-mac") {
            std::vector<UCHAR> buffer(4000);
            ncb.ncb_command = NCBASTAT;
            if (command == "astat") {
                Pad(ncb.ncb_callname, arg);
            } else {
                for (int b = 0; b < 6 && 2 * b + 1 < static_cast<int>(arg.size()); ++b)
                    ncb.ncb_callname[10 + b] =
                        static_cast<UCHAR>(std::stoi(arg.substr(2 * b, 2), nullptr, 16));
            }
            ncb.ncb_buffer = buffer.data();
            ncb.ncb_length = static_cast<WORD>(buffer.size());
            PrintStatus(provider.Netbios(&ncb), buffer);
            ++i;
        } else if (command == "addgroup") {
            ncb.ncb_command = NCBADDGRNAME;
            PadSuffixed(ncb.ncb_name, arg);
            rc = provider.Netbios(&ncb);
            if (rc == NRC_GOODRET) last_num = ncb.ncb_num;
            std::printf("addgroup %s 0x%02X num=%u\n", arg.c_str(), rc, ncb.ncb_num);
            ++i;
        } else if (command == "dgsend" || command == "dgsendbc") {
            const bool broadcast = command == "dgsendbc";
            std::vector<UCHAR> data(std::stoul(broadcast ? arg : argv[i + 2]));
            for (std::size_t b = 0; b < data.size(); ++b) data[b] = static_cast<UCHAR>(b);
            ncb.ncb_command = broadcast ? NCBDGSENDBC : NCBDGSEND;
            ncb.ncb_num = last_num;
            if (!broadcast) PadSuffixed(ncb.ncb_callname, arg);
            ncb.ncb_buffer = data.data();
            ncb.ncb_length = static_cast<WORD>(data.size());
            std::printf("%s %zu 0x%02X\n", command.c_str(), data.size(), provider.Netbios(&ncb));
            i += broadcast ? 1 : 2;
        } else if (command == "dgrecv") {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(arg));
            std::vector<UCHAR> data(512);
            NbtEvent done;
            for (;;) {
                NCB receive{};
                receive.ncb_command = NCBDGRECV | ASYNCH;
                receive.ncb_lana_num = lana;
                receive.ncb_num = 0xFF;
                receive.ncb_buffer = data.data();
                receive.ncb_length = static_cast<WORD>(data.size());
                receive.ncb_event = &done;
                provider.Netbios(&receive);
                const auto left = end - std::chrono::steady_clock::now();
                if (left <= left.zero() ||
                    !done.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(left))) {
                    NCB cancel{};
                    cancel.ncb_command = NCBCANCEL;
                    cancel.ncb_lana_num = lana;
                    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&receive);
                    rc = provider.Netbios(&cancel);
                    done.WaitFor(std::chrono::seconds(5));
                    std::printf("dgrecv end cancel=0x%02X 0x%02X\n", rc, receive.ncb_retcode);
                    break;
                }
                // A browser announcement: SMB Trans to \MAILSLOT\BROWSE, its
                // opcode at the data offset the SMB header gives.
                int opcode = -1;
                if (receive.ncb_length > 58 && data[0] == 0xFF && data[1] == 'S') {
                    const unsigned offset = data[57] | data[58] << 8;
                    if (offset < receive.ncb_length) opcode = data[offset];
                }
                std::printf("dgram 0x%02X from=%s len=%u op=0x%02X\n", receive.ncb_retcode,
                            Printable(receive.ncb_callname).c_str(), receive.ncb_length, opcode & 0xFF);
            }
            ++i;
        } else if (command == "ready") {
            std::printf("ready\n");
        } else if (command == "hold-until") {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < end) {
                if (FILE *f = std::fopen(arg.c_str(), "r")) {
                    std::fclose(f);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            ++i;
        } else {
            std::printf("unknown %s\n", command.c_str());
            return 2;
        }
    }
    std::printf("done\n");
    return 0;
}
