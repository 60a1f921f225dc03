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

    for (; i < argc; ++i) {
        std::string command = argv[i];
        std::string arg = i + 1 < argc ? argv[i + 1] : "";
        NCB ncb{};
        ncb.ncb_lana_num = lana;
        if (command == "add" || command == "del") {
            ncb.ncb_command = command == "add" ? NCBADDNAME : NCBDELNAME;
            Pad(ncb.ncb_name, arg);
            rc = provider.Netbios(&ncb);
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
