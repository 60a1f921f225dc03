// SPDX-License-Identifier: MIT
// korveld: the host's NetBIOS provider for LANAs 1 and up, shared by every
// Korvel program through a local socket (server.h).
//
//   korveld [--foreground] [--socket PATH]
//
// Without --socket it takes the socket systemd passes (socket activation),
// else binds /run/korvel/provider.sock. It never forks: under systemd and
// by hand alike it runs where it was started, and says what goes wrong on
// standard error (the journal). SIGTERM or SIGINT end it: every client is
// dropped and every name released on the wire first.
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "io_thread.h"
#include "listen_socket.h"
#include "provider.h"
#include "provider_choice.h"
#include "server.h"
#include "settings_file.h"

namespace {

constexpr const char *kUsage =
    "usage: korveld [--foreground] [--socket PATH]\n"
    "The NetBIOS provider of this host's LANAs 1 and up, shared by every Korvel program.\n"
    "  --socket PATH  listen at PATH (by default the socket systemd passes, else\n"
    "                 /run/korvel/provider.sock)\n"
    "  --foreground   run by hand (korveld never forks either way)\n"
    "Its settings are the provider's: /etc/korvel/korvel.conf and the environment.\n";

struct Options {
    std::string socket;
    bool help = false;
    bool version = false;
    std::string error;
};

Options Parse(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--foreground") continue;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--socket" && i + 1 < argc) {
            options.socket = argv[++i];
        } else if (arg.starts_with("--socket=")) {
            options.socket = arg.substr(9);
        } else {
            options.error = arg == "--socket" ? "--socket needs a path" : "unknown argument: " + arg;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char **argv) {
    const Options options = Parse(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "korveld: %s\n%s", options.error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("korveld %s\n", KORVEL_VERSION);
        return 0;
    }
    ::signal(SIGPIPE, SIG_IGN);

    std::string error;
    const auto settings = nbt::LoadSettings(nbt::Settings{}, &error);
    if (!settings) {
        std::fprintf(stderr, "korveld: %s\n", error.c_str());
        return 1;
    }
    const bool from_systemd = options.socket.empty();
    const korveld::ListenSocket listening =
        korveld::TakeListenSocket(from_systemd ? nbt::kDefaultServiceSocket : options.socket, from_systemd);
    if (listening.fd < 0) {
        std::fprintf(stderr, "korveld: %s\n", listening.error.c_str());
        return 1;
    }

    // Before the network thread starts, so it inherits them blocked and
    // only the signal set below sees them.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);

    auto provider = std::make_unique<nbt::Provider>(*settings);
    auto &io = nbt::IoThread::Get();
    auto server = std::make_shared<korveld::Server>(*provider, listening.fd);
    io.RunAndWait([&] { server->Start(); });
    std::fprintf(stderr, "korveld: serving at %s\n",
                 listening.bound_path.empty() ? "the socket systemd passed" : listening.bound_path.c_str());
    sd_notify(0, "READY=1");

    int signal_number = 0;
    sigwait(&ending, &signal_number);
    sd_notify(0, "STOPPING=1");
    std::fprintf(stderr, "korveld: %s: releasing every name and ending\n", strsignal(signal_number));
    io.RunAndWait([&] { server->Stop(); });
    if (!listening.bound_path.empty()) ::unlink(listening.bound_path.c_str());
    provider.reset();  // the nodes shut down: what is left is released on the wire
    io.RunAndWait([&] { server.reset(); });
    return 0;
}
