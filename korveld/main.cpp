// SPDX-License-Identifier: MIT
// korveld: the host's NetBIOS provider for LANAs 1 and up, shared by every
// Korvel program through a local socket (server.h).
//
//   korveld [--foreground] [--socket PATH] [--state-dir DIR]
//
// Without --socket it takes the socket systemd passes (socket activation),
// else binds /run/korvel/provider.sock. It follows the host's interfaces as
// they come and go (link_watch.h) and keeps each one's LANA number in the
// state directory (stable_lanas.h). It never forks: under systemd and
// by hand alike it runs where it was started, and says what goes wrong on
// standard error (the journal). SIGTERM or SIGINT end it: every client is
// dropped and every name released on the wire first.
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "io_thread.h"
#include "link_watch.h"
#include "listen_socket.h"
#include "printable.h"
#include "provider.h"
#include "provider_choice.h"
#include "server.h"
#include "settings_file.h"
#include "stable_lanas.h"

namespace {

constexpr const char *kUsage =
    "usage: korveld [--foreground] [--socket PATH] [--state-dir DIR]\n"
    "The NetBIOS provider of this host's LANAs 1 and up, shared by every Korvel program.\n"
    "  --socket PATH     listen at PATH (by default the socket systemd passes, else\n"
    "                    /run/korvel/provider.sock)\n"
    "  --state-dir DIR   keep each interface's LANA number in DIR/lanas (by default\n"
    "                    $STATE_DIRECTORY, else /var/lib/korvel)\n"
    "  --foreground      run by hand (korveld never forks either way)\n"
    "Its settings are the provider's: /etc/korvel/korvel.conf and the environment;\n"
    "[adapter NAME] lana = N there pins an interface's number.\n";

constexpr const char *kDefaultStateDir = "/var/lib/korvel";

struct Options {
    std::string socket;
    std::string state_dir;
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
        } else if (arg == "--state-dir" && i + 1 < argc) {
            options.state_dir = argv[++i];
        } else if (arg.starts_with("--state-dir=")) {
            options.state_dir = arg.substr(12);
        } else if (arg == "--socket" || arg == "--state-dir") {
            options.error = arg + " needs a path";
        } else {
            options.error = "unknown argument: " + arg;
        }
    }
    if (options.state_dir.empty()) {
        // systemd's StateDirectory=, where it sets one.
        const char *given = std::getenv("STATE_DIRECTORY");
        options.state_dir = given && *given == '/' ? given : kDefaultStateDir;
        if (const auto colon = options.state_dir.find(':'); colon != std::string::npos)
            options.state_dir.resize(colon);
    }
    return options;
}

std::string Describe(const nbt::Lana &lana) {
    return "LANA " + std::to_string(lana.number) + " (" + nbt::Printable(lana.interface_name) + ", " +
           lana.address.to_string() + ")";
}

// The table changed: say what came, went and was ended.
void Report(const nbt::LanaChanges &changes) {
    for (const nbt::Lana &lana : changes.removed)
        std::fprintf(stderr, "korveld: %s is gone\n", Describe(lana).c_str());
    for (const nbt::Lana &lana : changes.added)
        std::fprintf(stderr, "korveld: %s is here\n", Describe(lana).c_str());
    for (const UCHAR number : changes.lost)
        std::fprintf(stderr,
                     "korveld: LANA %u lost its interface or address: its NCBs ended (NRC_BRIDGE), its "
                     "sessions hung up and its names dropped; its clients must reset it\n",
                     number);
    for (const UCHAR number : changes.readdressed)
        std::fprintf(stderr,
                     "korveld: LANA %u moved to its interface's new address: its names are registered "
                     "again from there, its sessions ended\n",
                     number);
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

    auto numbering = std::make_shared<korveld::StableLanas>(options.state_dir, korveld::PinsOf(*settings));
    auto provider = std::make_unique<nbt::Provider>(*settings, numbering);
    auto &io = nbt::IoThread::Get();
    auto server = std::make_shared<korveld::Server>(*provider, listening.fd);
    std::shared_ptr<korveld::LinkWatch> links;
    io.RunAndWait([&] {
        server->Start();
        std::string why;
        links = korveld::LinkWatch::Open(
            [&provider] {
                const nbt::LanaChanges changes = provider->FollowInterfaces();
                Report(changes);
                return changes.look_again;
            },
            &why);
        if (links)
            links->Start();
        else
            std::fprintf(stderr,
                         "korveld: interfaces not followed (%s): a LANA is looked at again when reset\n",
                         why.c_str());
    });
    std::fprintf(stderr, "korveld: serving at %s\n",
                 listening.bound_path.empty() ? "the socket systemd passed" : listening.bound_path.c_str());
    sd_notify(0, "READY=1");

    int signal_number = 0;
    sigwait(&ending, &signal_number);
    sd_notify(0, "STOPPING=1");
    std::fprintf(stderr, "korveld: %s: releasing every name and ending\n", strsignal(signal_number));
    io.RunAndWait([&] {
        if (links) links->Stop();
        server->Stop();
    });
    if (!listening.bound_path.empty()) ::unlink(listening.bound_path.c_str());
    provider.reset();  // the nodes shut down: what is left is released on the wire
    io.RunAndWait([&] {
        server.reset();
        links.reset();
    });
    return 0;
}
